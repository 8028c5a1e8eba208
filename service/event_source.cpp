#include "event_source.h"

#include "base/registry_key.h"

namespace {

const char kApplicationLog[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";
const DWORD kTypesReported =
    EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

}  // namespace

LONG WriteEventSource(LPCSTR sourceName, LPCSTR messageFile)
{
    char path[MAX_PATH];
    if (lstrlenA(kApplicationLog) + 1 + lstrlenA(sourceName) >= static_cast<int>(sizeof path))
        return ERROR_FILENAME_EXCED_RANGE;
    wsprintfA(path, "%s\\%s", kApplicationLog, sourceName);
    CRegistryKey source;
    LONG error = source.Create(HKEY_LOCAL_MACHINE, path, KEY_WRITE);
    if (error != ERROR_SUCCESS)
        return error;
    // A plain string: the path is taken as it is, whatever '%' it holds.
    error = source.SetStringValue(messageFile, "EventMessageFile");
    if (error != ERROR_SUCCESS)
        return error;
    return source.SetDWORDValue("TypesSupported", kTypesReported);
}

LONG RemoveEventSource(LPCSTR sourceName)
{
    CRegistryKey log;
    LONG error = log.Open(HKEY_LOCAL_MACHINE, kApplicationLog, KEY_WRITE);
    if (error == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (error != ERROR_SUCCESS)
        return error;
    error = RegDeleteKeyA(log, sourceName);
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}
