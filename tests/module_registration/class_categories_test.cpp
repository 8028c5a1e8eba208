// Component categories of a class made up by the test, registered and
// removed through the platform's category manager. The manager writes to
// the machine's classes root whatever this process's HKEY_CLASSES_ROOT
// points at, so these tests use the real one, under a class identifier of
// their own that is removed again afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "broker/com_module.h"
#include "modreg_test_support.h"
#include "registrar/class_categories.h"
#include "scratch_registry.h"
#include "test_hresult.h"

namespace {

const CATID kImplemented = {0x3c0e1d52, 0x7b4a, 0x4f1e, {0x9a, 0x10, 0x51, 0, 0, 0, 0, 1}};
const CATID kRequired = {0x3c0e1d52, 0x7b4a, 0x4f1e, {0x9a, 0x10, 0x51, 0, 0, 0, 0, 2}};
const CATID kForeign = {0x3c0e1d52, 0x7b4a, 0x4f1e, {0x9a, 0x10, 0x51, 0, 0, 0, 0, 3}};

const CategoryMapEntry kMap[] = {
    {CATEGORY_IMPLEMENTED, &kImplemented},
    {CATEGORY_REQUIRED, &kRequired},
    {CATEGORY_MAP_END, NULL},
};

std::string GuidText(REFGUID guid)
{
    WCHAR wide[64];
    StringFromGUID2(guid, wide, 64);
    char narrow[64];
    WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, NULL, NULL);
    return narrow;
}

class ClassCategoriesTest : public testing::Test
{
protected:
    ClassCategoriesTest()
    {
        m_com = CoInitialize(NULL);
        CoCreateGuid(&m_class);
        m_classKey = "CLSID\\" + GuidText(m_class);
    }
    ~ClassCategoriesTest() override
    {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, m_classKey.c_str());
        RegDeleteKeyA(HKEY_CLASSES_ROOT, m_classKey.c_str());
        if (SUCCEEDED(m_com))
            CoUninitialize();
    }

    std::string Implemented(REFGUID category) const
    {
        return m_classKey + "\\Implemented Categories\\" + GuidText(category);
    }
    std::string Required(REFGUID category) const
    {
        return m_classKey + "\\Required Categories\\" + GuidText(category);
    }
    bool Exists(const std::string &path) const
    {
        return RegistryKeyExists(HKEY_CLASSES_ROOT, path.c_str());
    }

    HRESULT m_com;
    CLSID m_class;
    std::string m_classKey;
};

TEST_F(ClassCategoriesTest, RegistersBothKindsAndRemovesThemWithTheEmptyKeys)
{
    ASSERT_SUCCEEDED(m_com);
    ASSERT_SUCCEEDED(UpdateClassCategories(m_class, kMap, TRUE));
    EXPECT_TRUE(Exists(Implemented(kImplemented)));
    EXPECT_TRUE(Exists(Required(kRequired)));
    EXPECT_FALSE(Exists(Implemented(kRequired)));
    EXPECT_FALSE(Exists(Required(kImplemented)));

    ASSERT_SUCCEEDED(UpdateClassCategories(m_class, kMap, FALSE));
    EXPECT_FALSE(Exists(m_classKey + "\\Implemented Categories"));
    EXPECT_FALSE(Exists(m_classKey + "\\Required Categories"));
    EXPECT_TRUE(Exists(m_classKey));

    // Removing again finds nothing and still succeeds.
    EXPECT_SUCCEEDED(UpdateClassCategories(m_class, kMap, FALSE));
}

TEST_F(ClassCategoriesTest, KeepsACategoryKeyThatOthersStillUse)
{
    ASSERT_SUCCEEDED(m_com);
    const CategoryMapEntry foreign[] = {{CATEGORY_IMPLEMENTED, &kForeign}, {0, NULL}};
    ASSERT_SUCCEEDED(UpdateClassCategories(m_class, foreign, TRUE));
    ASSERT_SUCCEEDED(UpdateClassCategories(m_class, kMap, TRUE));

    ASSERT_SUCCEEDED(UpdateClassCategories(m_class, kMap, FALSE));
    EXPECT_TRUE(Exists(Implemented(kForeign)));
    EXPECT_FALSE(Exists(Implemented(kImplemented)));
    EXPECT_FALSE(Exists(m_classKey + "\\Required Categories"));
}

TEST_F(ClassCategoriesTest, NoMapOrNoClassDoesNothing)
{
    ASSERT_SUCCEEDED(m_com);
    const std::string nullClassKey = "CLSID\\" + GuidText(GUID_NULL);
    const std::vector<std::string> nullClassBefore =
        DumpRegistryTree(HKEY_CLASSES_ROOT, nullClassKey);
    EXPECT_HR(S_OK, UpdateClassCategories(m_class, NULL, TRUE));
    EXPECT_HR(S_OK, UpdateClassCategories(GUID_NULL, kMap, TRUE));
    EXPECT_HR(S_OK, UpdateClassCategories(GUID_NULL, kMap, FALSE));
    EXPECT_FALSE(Exists(m_classKey));
    EXPECT_EQ(nullClassBefore, DumpRegistryTree(HKEY_CLASSES_ROOT, nullClassKey));
}

TEST_F(ClassCategoriesTest, ARowWithoutItsIdentifierIsRefused)
{
    ASSERT_SUCCEEDED(m_com);
    const CategoryMapEntry broken[] = {
        {CATEGORY_IMPLEMENTED, &kImplemented}, {CATEGORY_REQUIRED, NULL}, {0, NULL}};
    EXPECT_HR(E_INVALIDARG, UpdateClassCategories(m_class, broken, TRUE));
    EXPECT_SUCCEEDED(UpdateClassCategories(m_class, broken, FALSE));
    EXPECT_FALSE(Exists(m_classKey + "\\Implemented Categories"));
}

// The class walk registers a row's categories after its script and removes
// them before it.
std::vector<std::string> g_seen;
std::string g_watchedKey;

HRESULT WINAPI WatchingHook(BOOL registerObject)
{
    g_seen.push_back(std::string(registerObject ? "register" : "unregister") +
                     (RegistryKeyExists(HKEY_CLASSES_ROOT, g_watchedKey.c_str())
                          ? " with categories"
                          : " without categories"));
    return S_OK;
}

const CategoryMapEntry *WINAPI TestCategoryMap()
{
    return kMap;
}

TEST_F(ClassCategoriesTest, TheClassWalkUpdatesCategoriesAroundTheScript)
{
    ASSERT_SUCCEEDED(m_com);
    ModuleStateGuard state;
    ObjectMapEntry map[2] = {
        {&m_class, WatchingHook, NULL, NULL, NULL, 0, NULL, TestCategoryMap, NULL}, {}};
    g_testModule.m_objectMap = map;
    g_seen.clear();
    g_watchedKey = Implemented(kImplemented);

    ASSERT_SUCCEEDED(g_testModule.RegisterServerObjects(FALSE, NULL));
    EXPECT_TRUE(Exists(Required(kRequired)));
    ASSERT_SUCCEEDED(g_testModule.UnregisterServerObjects(FALSE, NULL));
    EXPECT_FALSE(Exists(m_classKey + "\\Required Categories"));

    const std::vector<std::string> expected = {"register without categories",
                                               "unregister without categories"};
    EXPECT_EQ(expected, g_seen);
}

}  // namespace
