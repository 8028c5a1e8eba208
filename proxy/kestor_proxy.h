/*
 * The NDR description of IKestor and the module state of KestorPr.dll.
 *
 * Everything here is static data of the library; the only entry into the
 * tables is ProxyFileList, which every NDR call of proxy_entry_points.c
 * receives. Declared here so that the library's own tests can read the
 * bytes the engine reads. C++ users define CINTERFACE first: the stub
 * vtable's layout is declared for C-style interfaces only.
 */
#ifndef KESTOR_PROXY_H
#define KESTOR_PROXY_H

/* Without it rpcproxy.h leaves the stubless-info field out of the proxy
   vtable header. */
#define USE_STUBLESS_PROXY

#include <windows.h>
#include <objbase.h>
#include <rpcproxy.h>

#include "broker/kestor_interface.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The x64 procedure header extension adds a 2-byte floating-point mask. */
#if defined(_WIN64)
#define KESTOR_PROC_EXTENSION_SIZE 10
#else
#define KESTOR_PROC_EXTENSION_SIZE 8
#endif
#define KESTOR_PROC_FORMAT_SIZE (47 + KESTOR_PROC_EXTENSION_SIZE)
#define KESTOR_TYPE_FORMAT_SIZE 39

/* A proxy vtable of IKestor: the stubless header, then four slots. */
typedef struct KestorProxyVtblLayout
{
    CInterfaceProxyHeader header;
    void *Vtbl[IKESTOR_METHOD_COUNT];
} KestorProxyVtblLayout;

extern const unsigned char KestorProcFormat[KESTOR_PROC_FORMAT_SIZE];
extern const unsigned char KestorTypeFormat[KESTOR_TYPE_FORMAT_SIZE];
extern const unsigned short IKestorFormatOffsets[1];
extern const USER_MARSHAL_ROUTINE_QUADRUPLE BstrMarshalRoutines[1];
extern const MIDL_STUB_DESC KestorStubDesc;
extern const MIDL_STUBLESS_PROXY_INFO IKestorProxyInfo;
extern const MIDL_SERVER_INFO IKestorServerInfo;
/* Writable: the engine puts its stubless entry for method 3 in slot 3. */
extern KestorProxyVtblLayout IKestorProxyVtbl;
extern const CInterfaceStubVtbl IKestorStubVtbl;
extern const PCInterfaceProxyVtblList KestorProxyVtblList[2];
extern const PCInterfaceStubVtblList KestorStubVtblList[2];
extern const PCInterfaceName KestorInterfaceNames[2];
extern const ProxyFileInfo KestorProxyFileInfo;
extern const ProxyFileInfo *ProxyFileList[2];

int __stdcall KestorIidLookup(const IID *iid, int *index);

#if !defined(__cplusplus) || defined(CINTERFACE)
/* IUnknown's proxies in rpcrt4: the platform headers declare them only for
   C++ interfaces. */
HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown *This, REFIID riid,
                                                        void **ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown *This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown *This);
#endif

/* Module state, owned by proxy_entry_points.c. */
extern HMODULE ProxyModule;
extern CStdPSFactoryBuffer ProxyFactory;

ULONG STDMETHODCALLTYPE StubBufferRelease(IRpcStubBuffer *stub);

#ifdef __cplusplus
}
#endif

#endif /* KESTOR_PROXY_H */
