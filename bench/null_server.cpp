// KestorNullServer.exe: a local server that does nothing but what every COM
// local server must do (apartment, class object, message loop, end with the
// last object). Its cold activation and its calls are the yardstick the
// benchmark holds ZovKestor as a local server against.
#include <windows.h>

#include "bench/null_class.h"
#include "bench/null_ids.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    EndWithLastObject(GetCurrentThreadId());
    CoInitialize(NULL);
    DWORD cookie = 0;
    HRESULT hr = RegisterNullClass(CLSID_KestorNullServer, &cookie);
    if (SUCCEEDED(hr))
    {
        MSG message;
        while (GetMessageA(&message, NULL, 0, 0) > 0)
            DispatchMessageA(&message);
        CoRevokeClassObject(cookie);
    }
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : hr;
}
