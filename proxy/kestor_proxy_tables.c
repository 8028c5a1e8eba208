/*
 * How the NDR engine marshals IKestor: Oicf format strings and the tables
 * that lead the engine's stubless proxy and interpreted stub to them.
 *
 * Method 3 is SetSettingValue(valueType, keyPath, valueName, valueData):
 * one 32-bit enumeration and three BSTRs, all [in], returning an HRESULT.
 * The wire form is the same for 32- and 64-bit processes; what differs is
 * the call frame the engine reads the arguments from (one stack slot per
 * argument: 4 bytes on x86, 8 on x64), the size of a BSTR in memory, and
 * the x64 header extension, which carries a floating-point argument mask.
 */
#include "proxy/kestor_proxy.h"

#include <string.h>

/* The tables below are laid out byte by byte beside the offsets they
   describe; the formatter would pack them into anonymous rows. */
/* clang-format off */

#if defined(__x86_64__) || defined(_M_X64)
#define KESTOR_SLOT 0x08
#elif defined(__i386__) || defined(_M_IX86)
#define KESTOR_SLOT 0x04
#else
#error "The format strings describe the x86 and x64 call frames only"
#endif

/* The stack offset of argument n, the interface pointer being argument 0. */
#define KESTOR_ARG(n) ((n) * KESTOR_SLOT)

/* The platform declares the BSTR routines on BSTR pointers; the quadruple
   holds routines on untyped ones. Going through a generic function type
   tells the compiler the conversion is meant. */
#define KESTOR_ROUTINE(type, fn) ((type)(void (*)(void))(fn))

const unsigned char KestorProcFormat[KESTOR_PROC_FORMAT_SIZE] = {
    /* 0: method 3, SetSettingValue */
    0x33,                   /* FC_AUTO_HANDLE: the interface pointer binds */
    0x6C,                   /* Oi flags: object, RPC-flags word, Oi2, new init */
    0x00, 0x00, 0x00, 0x00, /* RPC flags */
    0x03, 0x00,             /* procedure number */
    KESTOR_ARG(6), 0x00,    /* stack size: this, 4 arguments, return slot */
    0x08, 0x00,             /* constant client buffer size */
    0x08, 0x00,             /* constant server buffer size */
    0x46,                   /* Oi2: ClientMustSize, HasReturn, HasExtensions */
    0x05,                   /* parameters: 4 arguments + return value */
    /* 16: extension */
    KESTOR_PROC_EXTENSION_SIZE,
    0x05,       /* HasNewCorrDesc, ServerCorrCheck */
    0x00, 0x00, /* client correlation hint */
    0x03, 0x00, /* server correlation hint: three strings */
    0x00, 0x00, /* notify routine index */
#if KESTOR_PROC_EXTENSION_SIZE == 10
    0x00, 0x00, /* floating-point argument mask: none */
#endif
    /* valueType, [in] FC_ENUM32 in the first argument slot */
    0x48, 0x00, KESTOR_ARG(1), 0x00, 0x0E, 0x00,
    /* keyPath, [in] BSTR by value */
    0x8B, 0x00, KESTOR_ARG(2), 0x00, 0x1C, 0x00,
    /* valueName */
    0x8B, 0x00, KESTOR_ARG(3), 0x00, 0x1C, 0x00,
    /* valueData */
    0x8B, 0x00, KESTOR_ARG(4), 0x00, 0x1C, 0x00,
    /* return value, FC_LONG */
    0x70, 0x00, KESTOR_ARG(5), 0x00, 0x08, 0x00,
    /* end */
    0x00};

const unsigned char KestorTypeFormat[KESTOR_TYPE_FORMAT_SIZE] = {
    /* 0: offset 0 names no type */
    0x00, 0x00,
    /* 2: wire type of a BSTR: unique pointer to the flagged word blob */
    0x12, 0x00, /* FC_UP */
    0x0E, 0x00, /* -> 18 */
    /* 6: the characters */
    0x1B, 0x01, 0x02, 0x00, /* FC_CARRAY, align 2, element size 2 */
    0x09, 0x00, 0xFC, 0xFF, /* count: the FC_ULONG 4 bytes before the array */
    0x01, 0x00,             /* early correlation */
    0x06, 0x5B,             /* FC_SHORT, FC_END */
    /* 18: flags word, character count, characters */
    0x17, 0x03, 0x08, 0x00, /* FC_CSTRUCT, align 4, fixed size 8 */
    0xF0, 0xFF,             /* array -> 6 */
    0x08, 0x08, 0x5C, 0x5B, /* FC_LONG, FC_LONG, FC_PAD, FC_END */
    /* 28: BSTR */
    0xB4, 0x83, /* FC_USER_MARSHAL, unique-pointer wire type, align 4 */
    0x00, 0x00, /* BstrMarshalRoutines[0] */
    KESTOR_SLOT, 0x00, /* memory size: a pointer */
    0x00, 0x00, /* wire size: not fixed */
    0xDE, 0xFF, /* wire type -> 2 */
    /* 38 */
    0x00};

/* Indexed by method number; only method 3 is described. */
const unsigned short IKestorFormatOffsets[1] = {0};

const USER_MARSHAL_ROUTINE_QUADRUPLE BstrMarshalRoutines[1] = {
    {KESTOR_ROUTINE(USER_MARSHAL_SIZING_ROUTINE, BSTR_UserSize),
     KESTOR_ROUTINE(USER_MARSHAL_MARSHALLING_ROUTINE, BSTR_UserMarshal),
     KESTOR_ROUTINE(USER_MARSHAL_UNMARSHALLING_ROUTINE, BSTR_UserUnmarshal),
     KESTOR_ROUTINE(USER_MARSHAL_FREEING_ROUTINE, BSTR_UserFree)}};

const MIDL_STUB_DESC KestorStubDesc = {
    NULL,           /* object interface: no RPC interface information */
    NdrOleAllocate, /* allocator */
    NdrOleFree,     /* free routine */
    {NULL},         /* implicit handle */
    NULL,           /* rundown routines */
    NULL,           /* generic binding routines */
    NULL,           /* expression evaluation */
    NULL,           /* transmit-as routines */
    KestorTypeFormat,
    1,          /* bounds checking */
    0x00050002, /* NDR 5.2 */
    NULL,       /* allocator/free structure */
    0x0600016E, /* MIDLVersion 6.0.366 */
    NULL,       /* communication and fault offsets */
    BstrMarshalRoutines,
    NULL, /* notify routines */
    1,    /* flags */
    NULL, /* character-set routines */
    NULL, /* proxy/server information */
    0};   /* expression information */

/* The engine indexes the offset table by method number: 3 lands on entry 0. */
#define KESTOR_FORMAT_OFFSETS_BY_METHOD (&IKestorFormatOffsets[-3])

const MIDL_STUBLESS_PROXY_INFO IKestorProxyInfo = {
    &KestorStubDesc, KestorProcFormat, KESTOR_FORMAT_OFFSETS_BY_METHOD, NULL, 0, NULL};

const MIDL_SERVER_INFO IKestorServerInfo = {
    &KestorStubDesc,
    NULL, /* no dispatch table: every method is interpreted */
    KestorProcFormat,
    KESTOR_FORMAT_OFFSETS_BY_METHOD,
    NULL, /* thunks */
    NULL,
    0,
    NULL};

KestorProxyVtblLayout IKestorProxyVtbl = {
    {&IKestorProxyInfo, &IID_IKestor},
    {(void *)IUnknown_QueryInterface_Proxy, (void *)IUnknown_AddRef_Proxy,
     (void *)IUnknown_Release_Proxy,
     (void *)-1 /* stubless: the engine supplies method 3 */}};

const CInterfaceStubVtbl IKestorStubVtbl = {
    {&IID_IKestor, &IKestorServerInfo, IKESTOR_METHOD_COUNT, NULL /* interpreted */},
    {CStdStubBuffer_QueryInterface, CStdStubBuffer_AddRef, StubBufferRelease,
     CStdStubBuffer_Connect, CStdStubBuffer_Disconnect, CStdStubBuffer_Invoke,
     CStdStubBuffer_IsIIDSupported, CStdStubBuffer_CountRefs,
     CStdStubBuffer_DebugServerQueryInterface, CStdStubBuffer_DebugServerRelease}};

/* Three parallel lists: index 0 of each names IKestor. */
const PCInterfaceProxyVtblList KestorProxyVtblList[2] = {
    (PCInterfaceProxyVtblList)&IKestorProxyVtbl, NULL};

const PCInterfaceStubVtblList KestorStubVtblList[2] = {
    (PCInterfaceStubVtblList)&IKestorStubVtbl, NULL};

const PCInterfaceName KestorInterfaceNames[2] = {"IKestor", NULL};

const ProxyFileInfo KestorProxyFileInfo = {
    KestorProxyVtblList,
    KestorStubVtblList,
    KestorInterfaceNames,
    NULL, /* no delegated interfaces */
    KestorIidLookup,
    1, /* interfaces */
    2, /* table version */
    NULL,
    0,
    0,
    0};

const ProxyFileInfo *ProxyFileList[2] = {&KestorProxyFileInfo, NULL};

int __stdcall KestorIidLookup(const IID *iid, int *index)
{
    /* One interface: a single byte comparison, no search. */
    if (memcmp(iid, KestorProxyVtblList[0]->header.piid, sizeof(IID)) != 0)
        return 0;
    *index = 0;
    return 1;
}

/* clang-format on */
