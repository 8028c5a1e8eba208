#include "native_class_link.h"

#include "base/registry_key.h"
#include "broker/kestor_interface.h"

namespace {

const char kClassKey[] = "CLSID\\" KESTOR_CLSID_TEXT;

bool RunsUnderWow64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace

LONG WriteNativeClassAppId()
{
    if (!RunsUnderWow64())
        return ERROR_SUCCESS;
    CRegistryKey classKey;
    LONG error = classKey.Create(HKEY_CLASSES_ROOT, kClassKey, KEY_WRITE | KEY_WOW64_64KEY);
    if (error != ERROR_SUCCESS)
        return error;
    return classKey.SetStringValue(KESTOR_APPID_TEXT, "AppID");
}

LONG RemoveNativeClassAppId()
{
    if (!RunsUnderWow64())
        return ERROR_SUCCESS;
    return RegDeleteKeyExA(HKEY_CLASSES_ROOT, kClassKey, KEY_WOW64_64KEY, 0);
}
