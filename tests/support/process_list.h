// The processes that run now, by executable name.
#ifndef KESTOR_TESTS_PROCESS_LIST_H
#define KESTOR_TESTS_PROCESS_LIST_H

// How many processes of this executable name (any case, e.g. "ZovKestor.exe")
// run now; -1 when the list cannot be read.
int ProcessCount(const char *exeName);
bool ProcessRunning(const char *exeName);

#endif  // KESTOR_TESTS_PROCESS_LIST_H
