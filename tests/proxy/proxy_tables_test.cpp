// The NDR description of IKestor, byte for byte, and the IID lookup.
// Expected values are written out here, never taken from the tables.
// The vtable structs of the tables exist only for C-style interfaces.
#define CINTERFACE
#include "proxy/kestor_proxy.h"
#include "proxy_test_util.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

const unsigned char kExpectedProcFormat[55] = {
    0x33, 0x6C, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x18, 0x00, 0x08, 0x00, 0x08, 0x00,
    0x46, 0x05, 0x08, 0x05, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x48, 0x00, 0x04, 0x00,
    0x0E, 0x00, 0x8B, 0x00, 0x08, 0x00, 0x1C, 0x00, 0x8B, 0x00, 0x0C, 0x00, 0x1C, 0x00,
    0x8B, 0x00, 0x10, 0x00, 0x1C, 0x00, 0x70, 0x00, 0x14, 0x00, 0x08, 0x00, 0x00};

const unsigned char kExpectedTypeFormat[39] = {
    0x00, 0x00, 0x12, 0x00, 0x0E, 0x00, 0x1B, 0x01, 0x02, 0x00, 0x09, 0x00, 0xFC,
    0xFF, 0x01, 0x00, 0x06, 0x5B, 0x17, 0x03, 0x08, 0x00, 0xF0, 0xFF, 0x08, 0x08,
    0x5C, 0x5B, 0xB4, 0x83, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0xDE, 0xFF, 0x00};

const unsigned char kIKestorIidBytes[16] = {0x34, 0xEC, 0x74, 0xEA, 0xE4, 0x38, 0xFB, 0x4F,
                                            0xA7, 0xB0, 0xBB, 0xC9, 0xA9, 0xDE, 0x39, 0x70};

std::vector<unsigned char> Bytes(const void *data, size_t size)
{
    const unsigned char *p = static_cast<const unsigned char *>(data);
    return std::vector<unsigned char>(p, p + size);
}

const void *OleAut32Ordinal(WORD ordinal)
{
    HMODULE oleaut = GetModuleHandleA("oleaut32.dll");
    return oleaut
               ? reinterpret_cast<const void *>(GetProcAddress(oleaut, MAKEINTRESOURCEA(ordinal)))
               : nullptr;
}

template <typename F>
const void *Addr(F f)
{
    return reinterpret_cast<const void *>(f);
}

TEST(ProxyTables, FormatStringsAreTheWireDefinition)
{
    EXPECT_EQ(Bytes(kExpectedProcFormat, sizeof kExpectedProcFormat),
              Bytes(KestorProcFormat, sizeof KestorProcFormat));
    EXPECT_EQ(Bytes(kExpectedTypeFormat, sizeof kExpectedTypeFormat),
              Bytes(KestorTypeFormat, sizeof KestorTypeFormat));
    EXPECT_EQ(55u, sizeof KestorProcFormat);
    EXPECT_EQ(39u, sizeof KestorTypeFormat);
    EXPECT_EQ(Bytes(kIKestorIidBytes, 16), Bytes(&IID_IKestor, sizeof(IID)));
}

TEST(ProxyTables, OffsetTableIsReachedByMethodNumber)
{
    EXPECT_EQ(0u, IKestorFormatOffsets[0]);
    // Both infos point six bytes before the table so that index 3 is entry 0.
    const uintptr_t table = reinterpret_cast<uintptr_t>(IKestorFormatOffsets);
    EXPECT_EQ(table - 6, reinterpret_cast<uintptr_t>(IKestorProxyInfo.FormatStringOffset));
    EXPECT_EQ(table - 6, reinterpret_cast<uintptr_t>(IKestorServerInfo.FmtStringOffset));
}

TEST(ProxyTables, BstrRoutinesAreOleAut32Ordinals283To286)
{
    // The process imports oleaut32 through these tables, so it is loaded.
    ASSERT_NE(nullptr, GetModuleHandleA("oleaut32.dll"));
    const USER_MARSHAL_ROUTINE_QUADRUPLE &q = BstrMarshalRoutines[0];
    EXPECT_EQ(OleAut32Ordinal(283), Resolve(Addr(q.pfnBufferSize)));
    EXPECT_EQ(OleAut32Ordinal(284), Resolve(Addr(q.pfnMarshall)));
    EXPECT_EQ(OleAut32Ordinal(285), Resolve(Addr(q.pfnUnmarshall)));
    EXPECT_EQ(OleAut32Ordinal(286), Resolve(Addr(q.pfnFree)));
    EXPECT_NE(nullptr, OleAut32Ordinal(283));
}

TEST(ProxyTables, StubDescriptorFields)
{
    const MIDL_STUB_DESC &d = KestorStubDesc;
    EXPECT_EQ(nullptr, d.RpcInterfaceInformation);
    EXPECT_EQ(Resolve(Addr(NdrOleAllocate)), Resolve(Addr(d.pfnAllocate)));
    EXPECT_EQ(Resolve(Addr(NdrOleFree)), Resolve(Addr(d.pfnFree)));
    EXPECT_EQ(nullptr, d.IMPLICIT_HANDLE_INFO.pAutoHandle);
    EXPECT_EQ(nullptr, d.apfnNdrRundownRoutines);
    EXPECT_EQ(nullptr, d.aGenericBindingRoutinePairs);
    EXPECT_EQ(nullptr, d.apfnExprEval);
    EXPECT_EQ(nullptr, d.aXmitQuintuple);
    EXPECT_EQ(KestorTypeFormat, d.pFormatTypes);
    EXPECT_EQ(1, d.fCheckBounds);
    EXPECT_EQ(0x00050002u, static_cast<unsigned>(d.Version));
    EXPECT_EQ(nullptr, d.pMallocFreeStruct);
    EXPECT_EQ(0x0600016E, d.MIDLVersion);
    EXPECT_EQ(nullptr, d.CommFaultOffsets);
    EXPECT_EQ(BstrMarshalRoutines, d.aUserMarshalQuadruple);
    EXPECT_EQ(nullptr, d.NotifyRoutineTable);
    EXPECT_EQ(1u, d.mFlags);
    EXPECT_EQ(nullptr, d.CsRoutineTables);
    EXPECT_EQ(nullptr, d.Reserved4);
    EXPECT_EQ(0u, d.Reserved5);
    EXPECT_EQ(20 * 4u, sizeof d);  // exactly twenty 32-bit fields
}

TEST(ProxyTables, ProxyAndServerInfo)
{
    EXPECT_EQ(&KestorStubDesc, IKestorProxyInfo.pStubDesc);
    EXPECT_EQ(KestorProcFormat, IKestorProxyInfo.ProcFormatString);
    EXPECT_EQ(nullptr, IKestorProxyInfo.pTransferSyntax);
    EXPECT_EQ(0u, IKestorProxyInfo.nCount);
    EXPECT_EQ(nullptr, IKestorProxyInfo.pSyntaxInfo);

    EXPECT_EQ(&KestorStubDesc, IKestorServerInfo.pStubDesc);
    EXPECT_EQ(nullptr, IKestorServerInfo.DispatchTable);
    EXPECT_EQ(KestorProcFormat, IKestorServerInfo.ProcString);
    EXPECT_EQ(nullptr, IKestorServerInfo.ThunkTable);
    EXPECT_EQ(nullptr, IKestorServerInfo.pTransferSyntax);
    EXPECT_EQ(0u, IKestorServerInfo.nCount);
    EXPECT_EQ(nullptr, IKestorServerInfo.pSyntaxInfo);
}

TEST(ProxyTables, ProxyVtableHasStublessHeaderAndMarker)
{
    EXPECT_EQ(&IKestorProxyInfo, IKestorProxyVtbl.header.pStublessProxyInfo);
    EXPECT_EQ(&IID_IKestor, IKestorProxyVtbl.header.piid);
    EXPECT_EQ(Addr(IUnknown_QueryInterface_Proxy), IKestorProxyVtbl.Vtbl[0]);
    EXPECT_EQ(Addr(IUnknown_AddRef_Proxy), IKestorProxyVtbl.Vtbl[1]);
    EXPECT_EQ(Addr(IUnknown_Release_Proxy), IKestorProxyVtbl.Vtbl[2]);
    // Nothing in this process has built a proxy from these tables yet.
    EXPECT_EQ(reinterpret_cast<void *>(0xFFFFFFFFu), IKestorProxyVtbl.Vtbl[3]);
    EXPECT_EQ(2 * 4u + 4 * 4u, sizeof IKestorProxyVtbl);

    // The engine writes slot 3: the vtable must not be in read-only storage.
    MEMORY_BASIC_INFORMATION info;
    ASSERT_NE(0u, VirtualQuery(&IKestorProxyVtbl.Vtbl[3], &info, sizeof info));
    EXPECT_TRUE(info.Protect &
                (PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY))
        << "protection 0x" << std::hex << info.Protect;
}

TEST(ProxyTables, StubVtableIsInterpretedWithOwnRelease)
{
    const CInterfaceStubVtbl &s = IKestorStubVtbl;
    EXPECT_EQ(&IID_IKestor, s.header.piid);
    EXPECT_EQ(&IKestorServerInfo, s.header.pServerInfo);
    EXPECT_EQ(4u, s.header.DispatchTableCount);
    EXPECT_EQ(nullptr, s.header.pDispatchTable);
    EXPECT_EQ(Addr(CStdStubBuffer_QueryInterface), Addr(s.Vtbl.QueryInterface));
    EXPECT_EQ(Addr(CStdStubBuffer_AddRef), Addr(s.Vtbl.AddRef));
    EXPECT_EQ(Addr(StubBufferRelease), Addr(s.Vtbl.Release));
    EXPECT_EQ(Addr(CStdStubBuffer_Connect), Addr(s.Vtbl.Connect));
    EXPECT_EQ(Addr(CStdStubBuffer_Disconnect), Addr(s.Vtbl.Disconnect));
    EXPECT_EQ(Addr(CStdStubBuffer_Invoke), Addr(s.Vtbl.Invoke));
    EXPECT_EQ(Addr(CStdStubBuffer_IsIIDSupported), Addr(s.Vtbl.IsIIDSupported));
    EXPECT_EQ(Addr(CStdStubBuffer_CountRefs), Addr(s.Vtbl.CountRefs));
    EXPECT_EQ(Addr(CStdStubBuffer_DebugServerQueryInterface),
              Addr(s.Vtbl.DebugServerQueryInterface));
    EXPECT_EQ(Addr(CStdStubBuffer_DebugServerRelease), Addr(s.Vtbl.DebugServerRelease));
    EXPECT_EQ(4 * 4u + 10 * 4u, sizeof s);
}

TEST(ProxyTables, ParallelListsAndProxyFileInfo)
{
    EXPECT_EQ(reinterpret_cast<const void *>(&IKestorProxyVtbl),
              reinterpret_cast<const void *>(KestorProxyVtblList[0]));
    EXPECT_EQ(nullptr, KestorProxyVtblList[1]);
    EXPECT_EQ(reinterpret_cast<const void *>(&IKestorStubVtbl),
              reinterpret_cast<const void *>(KestorStubVtblList[0]));
    EXPECT_EQ(nullptr, KestorStubVtblList[1]);
    ASSERT_NE(nullptr, KestorInterfaceNames[0]);
    EXPECT_EQ(Bytes("IKestor", 8), Bytes(KestorInterfaceNames[0], 8));
    EXPECT_EQ(nullptr, KestorInterfaceNames[1]);

    const ProxyFileInfo &f = KestorProxyFileInfo;
    EXPECT_EQ(KestorProxyVtblList, f.pProxyVtblList);
    EXPECT_EQ(KestorStubVtblList, f.pStubVtblList);
    EXPECT_EQ(KestorInterfaceNames, f.pNamesArray);
    EXPECT_EQ(nullptr, f.pDelegatedIIDs);
    EXPECT_EQ(Addr(KestorIidLookup), Addr(f.pIIDLookupRtn));
    EXPECT_EQ(1, f.TableSize);
    EXPECT_EQ(2, f.TableVersion);
    EXPECT_EQ(nullptr, f.pAsyncIIDLookup);
    EXPECT_EQ(0, f.Filler2);
    EXPECT_EQ(0, f.Filler3);
    EXPECT_EQ(0, f.Filler4);
    EXPECT_EQ(11 * 4u - 4u, sizeof f);  // two 16-bit counts share one word

    EXPECT_EQ(&KestorProxyFileInfo, ProxyFileList[0]);
    EXPECT_EQ(nullptr, ProxyFileList[1]);
}

TEST(ProxyTables, ModuleStateStartsEmpty)
{
    // DllMain never runs for the copy linked into this test program.
    EXPECT_EQ(nullptr, ProxyModule);
    EXPECT_EQ(nullptr, ProxyFactory.lpVtbl);
    EXPECT_EQ(0, ProxyFactory.RefCount);
    EXPECT_EQ(nullptr, ProxyFactory.pProxyFileList);
    EXPECT_EQ(0, ProxyFactory.Filler1);
    EXPECT_EQ(4 * 4u, sizeof ProxyFactory);
}

TEST(IidLookup, OnlyIKestorIsFound)
{
    int index = 7;
    IID copy;
    std::memcpy(&copy, kIKestorIidBytes, sizeof copy);  // equal bytes, other storage
    EXPECT_EQ(1, KestorIidLookup(&copy, &index));
    EXPECT_EQ(0, index);

    const IID others[] = {IID_IUnknown, CLSID_KestorObj, IID_IRpcStubBuffer, GUID_NULL};
    for (const IID &other : others)
    {
        index = 7;
        EXPECT_EQ(0, KestorIidLookup(&other, &index));
        EXPECT_EQ(7, index);
    }
    // A difference in the first or the last byte alone is enough.
    for (size_t at : {size_t(0), size_t(15)})
    {
        unsigned char bytes[16];
        std::memcpy(bytes, kIKestorIidBytes, 16);
        bytes[at] ^= 0x01;
        std::memcpy(&copy, bytes, sizeof copy);
        index = -5;
        EXPECT_EQ(0, KestorIidLookup(&copy, &index)) << "byte " << at;
        EXPECT_EQ(-5, index);
    }
}

}  // namespace
