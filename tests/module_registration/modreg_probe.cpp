// A stand-in for the program in module-registration tests: it carries the
// program's scripts (and the tests' probe scripts), runs registration the
// way the command-line options do, and exits with the HRESULT. Copied into
// folders with awkward names, it shows what the standard replacements make
// of its own path.
//
//   modreg_probe.exe <HKCU subkey | -> <command>
//
// With a subkey, HKEY_CLASSES_ROOT of this process is redirected there, so
// nothing reaches the shared classes root. Commands: register, unregister
// (AppID script, then the server objects with the type library), probe,
// probeplain, probeextra (the probe scripts by name).
#include <windows.h>

#include <cstring>

#include "broker/com_module.h"
#include "broker/kestor_interface.h"
#include "broker/object_map.h"

namespace {

CComModule g_probeModule;

HRESULT RunCommand(const char *command)
{
    if (std::strcmp(command, "register") == 0)
    {
        HRESULT hr = g_probeModule.ApplyRegistryScript(100, TRUE, NULL);
        if (FAILED(hr))
            return hr;
        return g_probeModule.RegisterServerObjects(TRUE, NULL);
    }
    if (std::strcmp(command, "unregister") == 0)
    {
        HRESULT hr = g_probeModule.ApplyRegistryScript(100, FALSE, NULL);
        if (FAILED(hr))
            return hr;
        return g_probeModule.UnregisterServerObjects(TRUE, NULL);
    }
    if (std::strcmp(command, "probe") == 0)
        return g_probeModule.ApplyRegistryScriptByName("KESTORPROBE", TRUE, NULL);
    if (std::strcmp(command, "probeplain") == 0)
        return g_probeModule.ApplyRegistryScriptByName("KESTORPROBEPLAIN", TRUE, NULL);
    if (std::strcmp(command, "probeextra") == 0)
    {
        const ReplacementEntry extra[] = {{L"Module", L"Given by the caller"}, {NULL, NULL}};
        return g_probeModule.ApplyRegistryScriptByName("KESTORPROBE", TRUE, extra);
    }
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

    g_probeModule.InitComModule(g_objectMap, GetModuleHandleA(NULL), &LIBID_ZovKestorLib);
    HRESULT hr = CoInitialize(NULL);
    if (SUCCEEDED(hr))
    {
        hr = RunCommand(argv[2]);
        CoUninitialize();
    }

    if (classesRoot != NULL)
    {
        RegOverridePredefKey(HKEY_CLASSES_ROOT, NULL);
        RegCloseKey(classesRoot);
    }
    return static_cast<int>(hr);
}
