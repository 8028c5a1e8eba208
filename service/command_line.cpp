#include "command_line.h"

#include "broker/kestor_interface.h"

namespace {

const char kDelimiters[] = "-/";
const char kAppIdKey[] = "AppID";

}  // namespace

LPCSTR FindNextToken(LPCSTR text, LPCSTR delimiters)
{
    if (text == NULL || *text == '\0')
        return NULL;
    for (LPCSTR position = text; *position != '\0'; position = CharNextA(position))
    {
        for (LPCSTR delimiter = delimiters; *delimiter != '\0'; delimiter = CharNextA(delimiter))
        {
            if (*position == *delimiter)
                return CharNextA(position);
        }
    }
    return NULL;
}

CommandLineOption ScanCommandLine(LPCSTR commandLine)
{
    for (LPCSTR token = FindNextToken(commandLine, kDelimiters); token != NULL;
         token = FindNextToken(token, kDelimiters))
    {
        if (lstrcmpiA(token, "UnregServer") == 0)
            return OPTION_UNREGSERVER;
        if (lstrcmpiA(token, "RegServer") == 0)
            return OPTION_REGSERVER;
        if (lstrcmpiA(token, "Service") == 0)
            return OPTION_SERVICE;
    }
    return OPTION_NONE;
}

bool StartedByCom(LPCSTR commandLine)
{
    for (LPCSTR token = FindNextToken(commandLine, kDelimiters); token != NULL;
         token = FindNextToken(token, kDelimiters))
    {
        if (lstrcmpiA(token, "Embedding") == 0)
            return true;
    }
    return false;
}

LONG DecideServiceMode(CRegistryKey &appIdKey, CRegistryKey &serverKey, BOOL *isService)
{
    LONG result = appIdKey.Open(HKEY_CLASSES_ROOT, kAppIdKey, KEY_READ);
    if (result != ERROR_SUCCESS)
        return result;
    result = serverKey.Open(appIdKey, KESTOR_APPID_TEXT, KEY_READ);
    if (result != ERROR_SUCCESS)
    {
        serverKey.Close();
        appIdKey.Close();
        return result;
    }

    char localService[MAX_PATH];
    DWORD byteCount = sizeof localService;
    *isService =
        serverKey.QueryStringValue(localService, "LocalService", &byteCount) == ERROR_SUCCESS;
    return ERROR_SUCCESS;
}
