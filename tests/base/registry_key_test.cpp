#include "base/registry_key.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "scratch_registry.h"

namespace {

class RegistryKeyTest : public testing::Test
{
protected:
    ScratchKey m_scratch{"RegistryKey"};

    void WriteRaw(const char *name, DWORD type, const void *bytes, DWORD count)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(m_scratch.Handle(), name, 0, type,
                                                static_cast<const BYTE *>(bytes), count));
    }

    // Queries name into a buffer of the given size, prefilled with 'x'.
    LONG Query(const char *name, DWORD capacity, std::string *text, DWORD *count = NULL)
    {
        CRegistryKey key;
        EXPECT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, m_scratch.Path().c_str(), KEY_READ));
        char buffer[600];
        std::memset(buffer, 'x', sizeof buffer);
        DWORD byteCount = capacity;
        LONG result = key.QueryStringValue(buffer, name, &byteCount);
        text->assign(buffer, strnlen(buffer, capacity));
        if (count)
            *count = byteCount;
        return result;
    }
};

TEST_F(RegistryKeyTest, CloseWithNothingHeldReturnsZero)
{
    CRegistryKey key;
    EXPECT_EQ(ERROR_SUCCESS, key.Close());
    EXPECT_EQ(NULL, key.Handle());
}

TEST_F(RegistryKeyTest, SecondOpenReplacesOnSuccessAndKeepsOnFailure)
{
    CRegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, m_scratch.Path().c_str(), KEY_READ));
    HKEY first = key.Handle();
    ASSERT_NE(nullptr, first);

    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              key.Open(HKEY_CURRENT_USER, (m_scratch.Path() + "\\missing").c_str(), KEY_READ));
    EXPECT_EQ(first, key.Handle());

    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, "Software", KEY_READ));
    EXPECT_NE(nullptr, key.Handle());
    // The first handle was closed by the successful second open.
    DWORD subkeys = 0;
    EXPECT_NE(ERROR_SUCCESS, RegQueryInfoKeyA(first, NULL, NULL, NULL, &subkeys, NULL, NULL, NULL,
                                              NULL, NULL, NULL, NULL));
}

TEST_F(RegistryKeyTest, QueryAcceptsOnlyTerminatedStrings)
{
    WriteRaw("sz", REG_SZ, "abc", 4);
    WriteRaw("expand", REG_EXPAND_SZ, "%x%", 4);
    WriteRaw("multi", REG_MULTI_SZ, "a\0b\0", 5);
    WriteRaw("multiNul", REG_MULTI_SZ, "", 1);
    WriteRaw("multiBad", REG_MULTI_SZ, "a\0", 2);
    DWORD number = 7;
    WriteRaw("dword", REG_DWORD, &number, 4);
    WriteRaw("empty", REG_SZ, "", 0);

    std::string text;
    EXPECT_EQ(ERROR_SUCCESS, Query("sz", 260, &text));
    EXPECT_EQ("abc", text);
    EXPECT_EQ(ERROR_SUCCESS, Query("expand", 260, &text));
    EXPECT_EQ("%x%", text);
    EXPECT_EQ(ERROR_SUCCESS, Query("multi", 260, &text));
    EXPECT_EQ("a", text);
    EXPECT_EQ(ERROR_SUCCESS, Query("multiNul", 260, &text));
    EXPECT_EQ("", text);

    EXPECT_EQ(ERROR_INVALID_DATA, Query("multiBad", 260, &text));
    EXPECT_EQ("", text);
    EXPECT_EQ(ERROR_INVALID_DATA, Query("dword", 260, &text));
    EXPECT_EQ("", text);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, Query("missing", 260, &text));
    EXPECT_EQ("", text);
}

TEST_F(RegistryKeyTest, QueryOfOversizeValueLooksNoFurtherThanTheBuffer)
{
    std::string longText(300, 'L');
    WriteRaw("long", REG_SZ, longText.c_str(), static_cast<DWORD>(longText.size() + 1));
    std::string text;
    DWORD count = 0;
    EXPECT_EQ(ERROR_MORE_DATA, Query("long", 260, &text, &count));
    EXPECT_EQ("", text);
    EXPECT_EQ(301u, count);
}

TEST_F(RegistryKeyTest, QueryWithoutByteCountRaises)
{
    CRegistryKey key;
    char buffer[8];
    EXPECT_THROW(key.QueryStringValue(buffer, "x", NULL), CAtlException);
    EXPECT_THROW(key.SetStringValue(NULL, "x"), CAtlException);
}

TEST_F(RegistryKeyTest, SetStringValueByteCounts)
{
    CRegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS,
              key.Open(HKEY_CURRENT_USER, m_scratch.Path().c_str(), KEY_READ | KEY_WRITE));
    EXPECT_EQ(ERROR_SUCCESS, key.SetStringValue("ZovKestor", "name"));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.SetStringValue("a\0b\0", "multi", true));
    EXPECT_EQ(ERROR_SUCCESS, key.SetStringValue("a\0b\0", "multi2", true, 5));

    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(ReadRegistryValue(m_scratch.Handle(), NULL, "name", &type, &bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(std::string("ZovKestor\0", 10), bytes);
    EXPECT_FALSE(ReadRegistryValue(m_scratch.Handle(), NULL, "multi", &type, &bytes));
    ASSERT_TRUE(ReadRegistryValue(m_scratch.Handle(), NULL, "multi2", &type, &bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
    EXPECT_EQ(std::string("a\0b\0\0", 5), bytes);
}

}  // namespace
