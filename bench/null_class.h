// The do-nothing class both yardstick servers register: it answers IKestor
// through the same proxy/stub as the broker and stores nothing.
#ifndef KESTOR_BENCH_NULL_CLASS_H
#define KESTOR_BENCH_NULL_CLASS_H

#include <windows.h>

// Registers the class object under clsid for out-of-process activation.
HRESULT RegisterNullClass(REFCLSID clsid, DWORD *cookie);

// Has the last object's release post WM_QUIT to that thread, as a local
// server must; a service leaves it unset and ends only when stopped.
void EndWithLastObject(DWORD loopThreadId);

#endif  // KESTOR_BENCH_NULL_CLASS_H
