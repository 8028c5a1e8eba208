/*
 * Entry points of KestorPr.dll. Each hands its arguments, the tables of
 * kestor_proxy_tables.c and the module state below to the matching routine
 * of the NDR engine and returns the engine's answer unchanged.
 */
#include "proxy/kestor_proxy.h"

HMODULE ProxyModule = NULL;

/* Filled in and reference-counted by the engine only. */
CStdPSFactoryBuffer ProxyFactory = {NULL, 0, NULL, 0};

/* The factory's class identifier is the IID of the first interface in the
   proxy-file list; the library has none of its own. Worked out afresh each
   time so that it always follows the tables. */
static const CLSID *FactoryClsid(void)
{
    const PCInterfaceStubVtblList first = ProxyFileList[0]->pStubVtblList[0];
    return first != NULL ? first->header.piid : NULL;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        ProxyModule = instance;
    return TRUE;
}

HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID *object)
{
    return NdrDllGetClassObject(clsid, iid, object, ProxyFileList, FactoryClsid(), &ProxyFactory);
}

HRESULT STDAPICALLTYPE DllCanUnloadNow(void)
{
    return NdrDllCanUnloadNow(&ProxyFactory);
}

HRESULT STDAPICALLTYPE DllRegisterServer(void)
{
    return NdrDllRegisterProxy(ProxyModule, ProxyFileList, FactoryClsid());
}

HRESULT STDAPICALLTYPE DllUnregisterServer(void)
{
    return NdrDllUnregisterProxy(ProxyModule, ProxyFileList, FactoryClsid());
}

/* The stub's Release: the engine drops the stub's hold on the factory when
   the last reference goes. */
ULONG STDMETHODCALLTYPE StubBufferRelease(IRpcStubBuffer *stub)
{
    return NdrCStdStubBuffer_Release(stub, (IPSFactoryBuffer *)&ProxyFactory);
}
