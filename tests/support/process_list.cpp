#include "process_list.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstring>

#include "base/handle_owner.h"

int ProcessCount(const char *exeName)
{
    FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.Valid())
        return -1;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    {
        const char *name = entry.szExeFile;
        const char *slash = std::strrchr(name, '\\');
        if (slash != NULL)
            name = slash + 1;
        if (lstrcmpiA(name, exeName) == 0)
            ++count;
    }
    return count;
}

bool ProcessRunning(const char *exeName)
{
    return ProcessCount(exeName) > 0;
}
