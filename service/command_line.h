// The command line of ZovKestor and the choice between service and local
// server, kept apart from the entry point so that both can be tested.
#ifndef KESTOR_SERVICE_COMMAND_LINE_H
#define KESTOR_SERVICE_COMMAND_LINE_H

#include <windows.h>

#include "base/registry_key.h"

// The text just after the first character of text that is one of
// delimiters, running to the end of text; NULL when text is NULL or empty or
// holds no delimiter. Double-byte characters are stepped over whole.
LPCSTR FindNextToken(LPCSTR text, LPCSTR delimiters);

enum CommandLineOption
{
    OPTION_NONE = 0,
    OPTION_UNREGSERVER,
    OPTION_REGSERVER,
    OPTION_SERVICE
};

// Tries every delimiter of "-/" in turn as the start of an option word. The
// candidate runs to the end of the line, so only an option that ends the
// line can match; the first candidate that matches wins.
CommandLineOption ScanCommandLine(LPCSTR commandLine);

// True when the line ends in the switch COM appends when it starts a local
// server ("-Embedding" or "/Embedding", either case), read by the option
// grammar above: only a switch that ends the line counts.
bool StartedByCom(LPCSTR commandLine);

// Opens HKEY_CLASSES_ROOT\AppID and the server's AppID key below it with
// read access into the caller's keys, which stay open while the server runs.
// On success *isService tells whether "LocalService" holds a well-formed
// string (of any content). The result is the Win32 error of opening a key.
LONG DecideServiceMode(CRegistryKey &appIdKey, CRegistryKey &serverKey, BOOL *isService);

#endif  // KESTOR_SERVICE_COMMAND_LINE_H
