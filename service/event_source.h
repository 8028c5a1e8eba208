// The program's source in the Application event log.
//
// Event Viewer shows an event with the text its source's message file gives
// for the event's id, the event's strings inserted. The program's events all
// have id 0 and carry their text as their one string; its message table
// (resources/ZovKestor.mc) makes message 0 just that string. Without this
// registration Event Viewer calls each of them a sign of a corrupted
// installation. HKLM\SYSTEM is one key for 32- and 64-bit programs alike.
#ifndef KESTOR_SERVICE_EVENT_SOURCE_H
#define KESTOR_SERVICE_EVENT_SOURCE_H

#include <windows.h>

// Writes the source `sourceName` with the program at `messageFile` as its
// message file and the event types it reports. A Win32 code.
LONG WriteEventSource(LPCSTR sourceName, LPCSTR messageFile);

// Removes the source again; ERROR_SUCCESS also when there was none.
LONG RemoveEventSource(LPCSTR sourceName);

#endif  // KESTOR_SERVICE_EVENT_SOURCE_H
