// The CRegistryKey operations the interpreter adds: creation, typed writes,
// tree deletion and borrowed handles.
#include "base/registry_key.h"

#include <gtest/gtest.h>

#include <string>

#include "registrar_test_util.h"
#include "scratch_registry.h"

namespace {

TEST(RegistryKeyScriptTest, CreateHoldsTheNewKeyOrNothingChanges)
{
    ScratchKey scratch("KeyCreate");
    CRegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(scratch.Handle(), "First", KEY_READ | KEY_WRITE));
    HKEY first = key.Handle();
    ASSERT_NE(nullptr, first);
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue("text", "S"));

    // A name the registry refuses leaves the held key as it was.
    EXPECT_NE(ERROR_SUCCESS,
              key.Create(scratch.Handle(), std::string(300, 'x').c_str(), KEY_READ | KEY_WRITE));
    EXPECT_EQ(first, key.Handle());

    // Creating an existing key opens it.
    ASSERT_EQ(ERROR_SUCCESS, key.Create(scratch.Handle(), "First", KEY_READ | KEY_WRITE));
    ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue("D", 0x01020304));
    ASSERT_EQ(ERROR_SUCCESS, key.SetBinaryValue("B", "\x00\xff", 2));
    ASSERT_EQ(ERROR_SUCCESS, key.SetBinaryValue("Empty", "", 0));
    ASSERT_EQ(ERROR_SUCCESS, key.SetMultiStringValue(NULL, "a\0b\0\0", 5));
    key.Close();

    EXPECT_EQ(
        "(root)\n"
        "\\First\n"
        "\\First [B] type 3: 00 ff\n"
        "\\First [D] type 4: 04 03 02 01\n"
        "\\First [Empty] type 3:\n"
        "\\First [S] type 1: 74 65 78 74 00\n"
        "\\First [] type 7: 61 00 62 00 00\n",
        DumpTree(HKEY_CURRENT_USER, scratch.Path()));
}

TEST(RegistryKeyScriptTest, DeleteKeyTreeRemovesEveryLevel)
{
    ScratchKey scratch("KeyTree");
    for (const char *path : {"Tree\\A\\A1\\A11", "Tree\\A\\A2", "Tree\\B", "Tree\\C\\C1", "Other"})
        SetStringValue(HKEY_CURRENT_USER, scratch.Path() + "\\" + path, "v", "1");

    CRegistryKey parent;
    parent.Attach(scratch.Handle());
    EXPECT_EQ(ERROR_SUCCESS, parent.DeleteKeyTree("Tree"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, parent.DeleteKeyTree("Tree"));
    EXPECT_EQ(scratch.Handle(), parent.Detach());
    EXPECT_EQ(nullptr, parent.Handle());

    EXPECT_EQ("(root)\n\\Other\n\\Other [v] type 1: 31 00\n",
              DumpTree(HKEY_CURRENT_USER, scratch.Path()));
    // The borrowed handle is still open.
    EXPECT_EQ(ERROR_SUCCESS, RegQueryInfoKeyA(scratch.Handle(), NULL, NULL, NULL, NULL, NULL, NULL,
                                              NULL, NULL, NULL, NULL, NULL));
}

// The snapshots the script tests compare hold every value, also those after
// one too large for a first read.
TEST(RegistrySnapshotTest, ValuesAfterALargeOneAreTaken)
{
    ScratchKey scratch("SnapshotLarge");
    const std::string large(9000, 'x');
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(scratch.Handle(), "large", 0, REG_BINARY,
                                            reinterpret_cast<const BYTE *>(large.data()),
                                            static_cast<DWORD>(large.size())));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(scratch.Handle(), "after", 0, REG_BINARY,
                                            reinterpret_cast<const BYTE *>("ab"), 2));
    RegistrySnapshot snapshot = TakeSnapshot(HKEY_CURRENT_USER, scratch.Path());
    EXPECT_EQ(ValueLine(REG_BINARY, "ab"), snapshot[" [after]"]);
    EXPECT_EQ(ValueLine(REG_BINARY, large), snapshot[" [large]"]);
}

}  // namespace
