// Entry of ZovKestor: registration options, or the server in the mode the
// AppID registration asks for.
#include <windows.h>

#include "base/registry_key.h"
#include "broker/kestor_interface.h"
#include "broker/object_map.h"
#include "command_line.h"
#include "service_module.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // The whole line, program path included: an option counts only when it
    // ends the line.
    LPCSTR commandLine = GetCommandLineA();

    g_serviceModule.InitServiceModule(g_objectMap, instance, KESTOR_SERVICE_NAME_ID,
                                      &LIBID_ZovKestorLib);
    g_serviceModule.m_isService = TRUE;

    switch (ScanCommandLine(commandLine))
    {
    case OPTION_UNREGSERVER:
        return g_serviceModule.UnregisterAsServer();
    case OPTION_REGSERVER:
        return g_serviceModule.RegisterAsServer(TRUE, FALSE);
    case OPTION_SERVICE:
        return g_serviceModule.RegisterAsServer(TRUE, TRUE);
    case OPTION_NONE:
        break;
    }

    // Without its AppID registration the server does not run at all.
    CRegistryKey appIdKey;
    CRegistryKey serverKey;
    BOOL isService = FALSE;
    LONG error = DecideServiceMode(appIdKey, serverKey, &isService);
    if (error != ERROR_SUCCESS)
        return error;
    g_serviceModule.m_isService = isService;
    g_serviceModule.m_startedByCom = StartedByCom(commandLine);
    g_serviceModule.StartHosting();
    return static_cast<int>(g_serviceModule.ProcessExitCode());
}
