#include "service/command_line.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "broker/kestor_interface.h"
#include "scratch_registry.h"

namespace {

const char kProgram[] = "\"C:\\Program Files\\Kestor\\ZovKestor.exe\"";

CommandLineOption Scan(const std::string &arguments)
{
    return ScanCommandLine((std::string(kProgram) + arguments).c_str());
}

TEST(FindNextTokenTest, ReturnsTheRestAfterTheFirstDelimiter)
{
    const char text[] = "abc/def-ghi";
    EXPECT_EQ(text + 4, FindNextToken(text, "-/"));
    EXPECT_EQ(text + 8, FindNextToken(text + 4, "-/"));
    EXPECT_EQ(nullptr, FindNextToken(text + 8, "-/"));
}

TEST(FindNextTokenTest, NothingToFind)
{
    EXPECT_EQ(nullptr, FindNextToken(NULL, "-/"));
    EXPECT_EQ(nullptr, FindNextToken("", "-/"));
    EXPECT_EQ(nullptr, FindNextToken("no delimiter here", "-/"));
    EXPECT_EQ(nullptr, FindNextToken("text", ""));
}

TEST(FindNextTokenTest, TrailingDelimiterGivesTheEmptyRest)
{
    const char text[] = "word-";
    const char *rest = FindNextToken(text, "-/");
    ASSERT_EQ(text + 5, rest);
    EXPECT_STREQ("", rest);
    EXPECT_EQ(nullptr, FindNextToken(rest, "-/"));
}

TEST(ScanCommandLineTest, EachOptionInAnyCaseAfterSlashOrHyphen)
{
    EXPECT_EQ(OPTION_REGSERVER, Scan(" /regserver"));
    EXPECT_EQ(OPTION_REGSERVER, Scan(" -REGSERVER"));
    EXPECT_EQ(OPTION_REGSERVER, Scan(" -RegServer"));
    EXPECT_EQ(OPTION_UNREGSERVER, Scan(" /UnregServer"));
    EXPECT_EQ(OPTION_UNREGSERVER, Scan(" -unregserver"));
    EXPECT_EQ(OPTION_SERVICE, Scan(" -Service"));
    EXPECT_EQ(OPTION_SERVICE, Scan(" /SERVICE"));
}

TEST(ScanCommandLineTest, OnlyAnOptionThatEndsTheLineCounts)
{
    EXPECT_EQ(OPTION_NONE, Scan(""));
    EXPECT_EQ(OPTION_NONE, Scan(" -RegServer "));
    EXPECT_EQ(OPTION_NONE, Scan(" -RegServer -Verbose"));
    EXPECT_EQ(OPTION_NONE, Scan(" RegServer"));
    EXPECT_EQ(OPTION_NONE, Scan(" -Reg Server"));
    // Two options: the last one wins, the first never matches.
    EXPECT_EQ(OPTION_REGSERVER, Scan(" -Service -RegServer"));
    EXPECT_EQ(OPTION_UNREGSERVER, Scan(" /RegServer /UnregServer"));
}

TEST(ScanCommandLineTest, EveryDelimiterStartsACandidate)
{
    EXPECT_EQ(OPTION_SERVICE, Scan(" --Service"));
    EXPECT_EQ(OPTION_SERVICE, Scan(" -/Service"));
    EXPECT_EQ(OPTION_SERVICE, Scan(" -x-Service"));
    // A quoted path with a hyphen and a slash in it, then the option.
    EXPECT_EQ(OPTION_SERVICE, ScanCommandLine("\"C:\\my-tools/Kestor\\ZovKestor.exe\" -Service"));
    // An option word inside the path alone is no option.
    EXPECT_EQ(OPTION_NONE, ScanCommandLine("C:\\x\\-Service\\ZovKestor.exe"));
    EXPECT_EQ(OPTION_SERVICE, ScanCommandLine("C:\\tools\\ZovKestor.exe -Service"));
}

TEST(ScanCommandLineTest, ComActivationSwitchIsNoOption)
{
    EXPECT_EQ(OPTION_NONE, Scan(" -Embedding"));
    EXPECT_EQ(OPTION_NONE, Scan(" /Embedding"));
    EXPECT_EQ(OPTION_NONE, Scan(" -Service -Embedding"));

    // It only tells a server that COM started it, by the option grammar.
    EXPECT_TRUE(StartedByCom((std::string(kProgram) + " -Embedding").c_str()));
    EXPECT_TRUE(StartedByCom("C:\\k\\ZovKestor.exe /EMBEDDING"));
    EXPECT_TRUE(StartedByCom("C:\\k\\ZovKestor.exe -Service -embedding"));
    EXPECT_FALSE(StartedByCom(kProgram));
    EXPECT_FALSE(StartedByCom("C:\\k\\ZovKestor.exe -Embedding "));
    EXPECT_FALSE(StartedByCom("C:\\k\\ZovKestor.exe -Embedding -Service"));
    EXPECT_FALSE(StartedByCom("C:\\k-Embedding\\ZovKestor.exe"));
}

// The mode decision reads HKEY_CLASSES_ROOT, here pointed at a scratch key.
class ServiceModeTest : public testing::Test
{
protected:
    ScratchKey m_root{"ServiceMode"};
    ClassesRootOverride m_override{m_root.Handle()};
    HKEY m_server = NULL;

    void SetUp() override
    {
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(m_root.Handle(), "AppID\\" KESTOR_APPID_TEXT, 0,
                                                 NULL, 0, KEY_ALL_ACCESS, NULL, &m_server, NULL));
    }
    void TearDown() override
    {
        if (m_server != NULL)
            RegCloseKey(m_server);
    }

    void SetLocalService(DWORD type, const void *bytes, DWORD count)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(m_server, "LocalService", 0, type,
                                                static_cast<const BYTE *>(bytes), count));
    }

    // The decided mode, or -1 when the decision failed.
    int Decide()
    {
        CRegistryKey appIdKey;
        CRegistryKey serverKey;
        BOOL isService = 2;
        LONG result = DecideServiceMode(appIdKey, serverKey, &isService);
        EXPECT_EQ(ERROR_SUCCESS, result);
        if (result != ERROR_SUCCESS)
            return -1;
        // Both keys stay open for the caller while the server runs.
        EXPECT_NE(nullptr, appIdKey.Handle());
        EXPECT_NE(nullptr, serverKey.Handle());
        return isService;
    }
};

TEST_F(ServiceModeTest, WellFormedStringOfAnyContentMeansService)
{
    SetLocalService(REG_SZ, "ZovKestor", 10);
    EXPECT_EQ(TRUE, Decide());
    SetLocalService(REG_SZ, "", 1);
    EXPECT_EQ(TRUE, Decide());
    SetLocalService(REG_SZ, "SomethingElse", 14);
    EXPECT_EQ(TRUE, Decide());
    SetLocalService(REG_EXPAND_SZ, "%SystemRoot%", 13);
    EXPECT_EQ(TRUE, Decide());
    SetLocalService(REG_MULTI_SZ, "ZovKestor\0", 11);
    EXPECT_EQ(TRUE, Decide());
}

TEST_F(ServiceModeTest, AbsentOrMalformedValueMeansLocalServer)
{
    EXPECT_EQ(FALSE, Decide());

    const DWORD number = 1;
    SetLocalService(REG_DWORD, &number, sizeof number);
    EXPECT_EQ(FALSE, Decide());

    // A multi-string without its closing second NUL.
    SetLocalService(REG_MULTI_SZ, "ab\0cd", 6);
    EXPECT_EQ(FALSE, Decide());

    // A string stored without its terminator. The registry adds a NUL the
    // count left out when one follows the data, so none may follow here.
    const WCHAR unterminated[] = {L'Z', L'o', L'v', L'X'};
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(m_server, L"LocalService", 0, REG_SZ,
                             reinterpret_cast<const BYTE *>(unterminated), 3 * sizeof(WCHAR)));
    EXPECT_EQ(FALSE, Decide());
}

TEST_F(ServiceModeTest, StringLongerThanTheBufferCountsAsAbsent)
{
    std::string longText(300, 'k');
    SetLocalService(REG_SZ, longText.c_str(), static_cast<DWORD>(longText.size() + 1));
    EXPECT_EQ(FALSE, Decide());
    // 259 characters and the NUL fill the buffer exactly.
    std::string fitting(MAX_PATH - 1, 'k');
    SetLocalService(REG_SZ, fitting.c_str(), MAX_PATH);
    EXPECT_EQ(TRUE, Decide());
}

TEST_F(ServiceModeTest, MissingKeysEndWithFileNotFoundAndNothingHeld)
{
    RegCloseKey(m_server);
    m_server = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(m_root.Handle(), "AppID\\" KESTOR_APPID_TEXT));

    CRegistryKey appIdKey;
    CRegistryKey serverKey;
    BOOL isService = 2;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, DecideServiceMode(appIdKey, serverKey, &isService));
    EXPECT_EQ(nullptr, appIdKey.Handle());
    EXPECT_EQ(nullptr, serverKey.Handle());
    EXPECT_EQ(2, isService);

    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(m_root.Handle(), "AppID"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, DecideServiceMode(appIdKey, serverKey, &isService));
    EXPECT_EQ(nullptr, appIdKey.Handle());
}

}  // namespace
