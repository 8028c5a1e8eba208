// A stand-in for a program in module-registration tests: it applies the
// tests' probe scripts through its module and exits with the HRESULT.
// Copied into folders with awkward names, it shows what the standard
// replacements make of its own path; loaded as an image, it stands for a
// module that is not the running program.
//
//   modreg_probe.exe <HKCU subkey | -> probe|probeplain
//
// With a subkey, HKEY_CLASSES_ROOT of this process is redirected there, so
// nothing reaches the shared classes root.
#include <windows.h>

#include <cstring>

#include "broker/com_module.h"

namespace {

CComModule g_probeModule;

HRESULT RunCommand(const char *command)
{
    if (std::strcmp(command, "probe") == 0)
        return g_probeModule.ApplyRegistryScriptByName("KESTORPROBE", TRUE, NULL);
    if (std::strcmp(command, "probeplain") == 0)
        return g_probeModule.ApplyRegistryScriptByName("KESTORPROBEPLAIN", TRUE, NULL);
    return E_INVALIDARG;
}

}  // namespace

int main(int argc, char **argv)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    if (argc != 3)
        return static_cast<int>(E_INVALIDARG);

    HKEY classesRoot = NULL;
    if (std::strcmp(argv[1], "-") != 0)
    {
        LONG result = RegOpenKeyExA(HKEY_CURRENT_USER, argv[1], 0, KEY_ALL_ACCESS, &classesRoot);
        if (result != ERROR_SUCCESS)
            return static_cast<int>(HRESULT_FROM_WIN32(result));
        result = RegOverridePredefKey(HKEY_CLASSES_ROOT, classesRoot);
        if (result != ERROR_SUCCESS)
        {
            RegCloseKey(classesRoot);
            return static_cast<int>(HRESULT_FROM_WIN32(result));
        }
    }

    HRESULT hr = RunCommand(argv[2]);

    if (classesRoot != NULL)
    {
        RegOverridePredefKey(HKEY_CLASSES_ROOT, NULL);
        RegCloseKey(classesRoot);
    }
    return static_cast<int>(hr);
}
