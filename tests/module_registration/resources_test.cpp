// The resources of the built program, read back from its file: both
// registration scripts byte for byte, the service name, the version block
// and the manifest. The test program carries the same resources and is
// checked alongside.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "build_version.h"
#include "modreg_test_support.h"

namespace {

const char kAppIdScript[] =
    "HKCR\r\n"
    "{\r\n"
    "\tNoRemove AppID\r\n"
    "\t{\r\n"
    "\t\t{48110F26-A676-4995-8522-C747FFF94074} = s 'ZovKestor'\r\n"
    "\t\t'ZovKestor.EXE'\r\n"
    "\t\t{\r\n"
    "\t\t\tval AppID = s {48110F26-A676-4995-8522-C747FFF94074}\r\n"
    "\t\t}\r\n"
    "\t}\r\n"
    "}\r\n";

const char kClassScript[] =
    "HKCR\r\n"
    "{\r\n"
    "\tZovKestor.KestorObj.1 = s 'KestorObj Class'\r\n"
    "\t{\r\n"
    "\t\tCLSID = s '{2D564390-2E15-400B-BFB5-644C86EBEFD0}'\r\n"
    "\t}\r\n"
    "\tZovKestor.KestorObj = s 'KestorObj Class'\r\n"
    "\t{\r\n"
    "\t\tCLSID = s '{2D564390-2E15-400B-BFB5-644C86EBEFD0}'\r\n"
    "\t\tCurVer = s 'ZovKestor.KestorObj.1'\r\n"
    "\t}\r\n"
    "\tNoRemove CLSID\r\n"
    "\t{\r\n"
    "\t\tForceRemove {2D564390-2E15-400B-BFB5-644C86EBEFD0} = s 'KestorObj Class'\r\n"
    "\t\t{\r\n"
    "\t\t\tProgID = s 'ZovKestor.KestorObj.1'\r\n"
    "\t\t\tVersionIndependentProgID = s 'ZovKestor.KestorObj'\r\n"
    "\t\t\tLocalServer32 = s '%MODULE%'\r\n"
    "\t\t\tval AppID = s '{48110F26-A676-4995-8522-C747FFF94074}'\r\n"
    "\t\t\t'TypeLib' = s '{A5F3A260-CB89-4B7C-AC3A-37EDBBE5459B}'\r\n"
    "\t\t}\r\n"
    "\t}\r\n"
    "}\r\n";

const char kManifest[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\"/>\n";

const WORD kEnglishUs = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// The resource's bytes, or "<missing>".
std::string ResourceBytes(HMODULE module, LPCSTR type, LPCSTR name, WORD language)
{
    HRSRC found = FindResourceExA(module, type, name, language);
    if (found == NULL)
        return "<missing>";
    HGLOBAL loaded = LoadResource(module, found);
    const char *data = static_cast<const char *>(LockResource(loaded));
    if (data == NULL)
        return "<missing>";
    return std::string(data, SizeofResource(module, found));
}

std::vector<std::string> ProgramsUnderTest()
{
    std::vector<std::string> programs = {BuildBinFolder() + "module_registration_tests.exe"};
#ifdef MODREG_HAVE_PROGRAM
    programs.push_back(BuildBinFolder() + "ZovKestor.exe");
#endif
    return programs;
}

class ProgramResourcesTest : public testing::TestWithParam<std::string>
{
protected:
    void SetUp() override
    {
        m_module = LoadLibraryExA(GetParam().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, m_module) << GetParam() << " error " << GetLastError();
    }
    void TearDown() override
    {
        if (m_module != NULL)
            FreeLibrary(m_module);
    }

    std::string VersionString(const std::vector<BYTE> &block, const char *name)
    {
        std::string query = std::string("\\StringFileInfo\\040904b0\\") + name;
        char *text = NULL;
        UINT length = 0;
        if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void **>(&text),
                            &length) ||
            text == NULL)
            return "<missing>";
        return text;
    }

    HMODULE m_module = NULL;
};

TEST_P(ProgramResourcesTest, RegistrationScriptsAreStoredByteForByte)
{
    EXPECT_EQ(kAppIdScript, ResourceBytes(m_module, "REGISTRY", MAKEINTRESOURCEA(100), kEnglishUs));
    EXPECT_EQ(kClassScript, ResourceBytes(m_module, "REGISTRY", MAKEINTRESOURCEA(101), kEnglishUs));
}

TEST_P(ProgramResourcesTest, ServiceNameString)
{
    char name[256] = {};
    EXPECT_EQ(9, LoadStringA(m_module, 100, name, sizeof name));
    EXPECT_STREQ("ZovKestor", name);
    // Strings live in blocks of 16; block 7 holds 100, in US English.
    EXPECT_NE("<missing>",
              ResourceBytes(m_module, MAKEINTRESOURCEA(6), MAKEINTRESOURCEA(7), kEnglishUs));
}

TEST_P(ProgramResourcesTest, VersionBlock)
{
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(GetParam().c_str(), &handle);
    ASSERT_NE(0u, size);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(GetParam().c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO *fixed = NULL;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void **>(&fixed), &length));
    ASSERT_NE(nullptr, fixed);
    EXPECT_EQ(BuildVersionHigh(), fixed->dwFileVersionMS);
    EXPECT_EQ(BuildVersionLow(), fixed->dwFileVersionLS);
    EXPECT_EQ(BuildVersionHigh(), fixed->dwProductVersionMS);
    EXPECT_EQ(BuildVersionLow(), fixed->dwProductVersionLS);
    EXPECT_EQ(0x3Fu, fixed->dwFileFlagsMask);
    EXPECT_EQ(0u, fixed->dwFileFlags);
    EXPECT_EQ(static_cast<DWORD>(VOS__WINDOWS32), fixed->dwFileOS);
    EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);

    EXPECT_EQ("Kestor Module", VersionString(block, "FileDescription"));
    EXPECT_EQ(BuildVersionText(), VersionString(block, "FileVersion"));
    EXPECT_EQ("ZovKestor", VersionString(block, "InternalName"));
    EXPECT_EQ("ZovKestor.EXE", VersionString(block, "OriginalFilename"));
    EXPECT_EQ("ZovKestor Module", VersionString(block, "ProductName"));
    EXPECT_EQ(BuildVersionText(), VersionString(block, "ProductVersion"));

    WORD *translation = NULL;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void **>(&translation), &length));
    ASSERT_EQ(4u, length);
    EXPECT_EQ(0x0409, translation[0]);
    EXPECT_EQ(1200, translation[1]);
}

TEST_P(ProgramResourcesTest, Manifest)
{
    EXPECT_EQ(kManifest,
              ResourceBytes(m_module, MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1), kEnglishUs));
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramResourcesTest, testing::ValuesIn(ProgramsUnderTest()),
                         [](const testing::TestParamInfo<std::string> &info) {
                             return info.index == 0 ? std::string("TestProgram")
                                                    : std::string("ZovKestor");
                         });

}  // namespace
