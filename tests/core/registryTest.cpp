#include "tests/support/testSupport.h"

#include <cstring>
#include <dlfcn.h>
#include <string>

namespace {

// The registry lives for the whole process, so every test registers names of its own.

ZELKOR_STATUS answeredOperation(uint8_t* major, uint8_t*) {
    *major = 9;
    return 0;
}

ZELKOR_GENERIC_FUNCTION staticQuery(const char* name) {
    return std::strcmp(name, "zelkor_ial_version") == 0
               ? reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(answeredOperation)
               : nullptr;
}

ZELKOR_GENERIC_FUNCTION otherQuery(const char*) {
    return nullptr;
}

bool moduleLoaded() {
    void* handle = dlopen(TEST_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr)
        return false;
    dlclose(handle);
    return true;
}

uint32_t sizeTagOf(const LIB_ENTRY* entry) {
    void* data = nullptr;
    uint32_t size = 0;
    ll_moveFirst(gLibs);
    while (ll_get(gLibs, &data, &size) == LL_SUCCESS) {
        if (data == entry)
            return size;
        ll_moveNext(gLibs);
    }
    return 0xFFFFFFFF;
}

TEST(Registry, DuplicateNameIsRefusedAndTheFirstEntryKept) {
    ASSERT_EQ(libRegisterSll("DUP-Static", staticQuery), LIB_SUCCESS);
    EXPECT_EQ(libRegisterSll("DUP-Static", otherQuery), LIB_DUPLICATE);
    EXPECT_EQ(libRegisterDll("DUP-Static", "/tmp/x.so"), LIB_DUPLICATE);
    LIB_ENTRY* entry = registryEntry("DUP-Static");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->querySymbol, staticQuery);
    EXPECT_EQ(entry->path, nullptr);
    EXPECT_EQ(sizeTagOf(entry), 0u);
}

TEST(Registry, BadArguments) {
    ASSERT_EQ(initLibs(), LIB_SUCCESS);
    LIB_ENTRY* entry = reinterpret_cast<LIB_ENTRY*>(0x1);
    ZELKOR_GENERIC_FUNCTION function = reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(0x1);
    EXPECT_EQ(libRegisterSll(nullptr, staticQuery), LIB_BAD_ARGUMENT);
    EXPECT_EQ(libRegisterSll("", staticQuery), LIB_BAD_ARGUMENT);
    EXPECT_EQ(libRegisterSll("BAD-Static", nullptr), LIB_BAD_ARGUMENT);
    EXPECT_EQ(libRegisterDll(nullptr, "/tmp/x.so"), LIB_BAD_ARGUMENT);
    EXPECT_EQ(libRegisterDll("BAD-Dynamic", nullptr), LIB_BAD_ARGUMENT);
    EXPECT_EQ(libRegisterDll("BAD-Dynamic", ""), LIB_BAD_ARGUMENT);
    EXPECT_EQ(libOpen(nullptr, &entry), LIB_BAD_ARGUMENT);
    EXPECT_EQ(libOpen("BAD-Static", nullptr), LIB_BAD_ARGUMENT);
    EXPECT_EQ(libOpen("BAD-Static", &entry), LIB_NOT_FOUND) << "nothing was registered under it";
    EXPECT_EQ(entry, nullptr) << "the out value is cleared";
    EXPECT_EQ(libQuerySym(nullptr, "zelkor_ial_version", &function), LIB_BAD_ARGUMENT);
    EXPECT_EQ(libClose(nullptr), LIB_BAD_ARGUMENT);
    EXPECT_EQ(findLibEntry(LIB_FIND_BY_NAME, nullptr, nullptr, &entry), LIB_BAD_ARGUMENT);
    EXPECT_EQ(findLibEntry(LIB_FIND_BY_ENTRY, nullptr, nullptr, &entry), LIB_BAD_ARGUMENT);
    EXPECT_EQ(findLibEntry(LIB_FIND_BY_NAME, "IAL-SAS", nullptr, nullptr), LIB_BAD_ARGUMENT);

    // An entry that is not in the registry is unknown to every operation.
    LIB_ENTRY stranger{};
    stranger.querySymbol = staticQuery;
    stranger.openCount = 1;
    EXPECT_EQ(libQuerySym(&stranger, "zelkor_ial_version", &function), LIB_NOT_FOUND);
    EXPECT_EQ(function, nullptr);
    EXPECT_EQ(libClose(&stranger), LIB_NOT_FOUND);
    EXPECT_EQ(stranger.openCount, 1u);
    EXPECT_EQ(findLibEntry(7, "DUP-Static", nullptr, &entry), LIB_NOT_FOUND) << "unknown lookup mode";
}

TEST(Registry, LongNamesAreStoredCut) {
    const std::string name40 = "LONG-" + std::string(35, 'n');
    const std::string stored = name40.substr(0, 31);
    ASSERT_EQ(libRegisterSll(name40.c_str(), staticQuery), LIB_SUCCESS);
    LIB_ENTRY* entry = nullptr;
    EXPECT_EQ(libOpen(name40.c_str(), &entry), LIB_NOT_FOUND);
    ASSERT_EQ(libOpen(stored.c_str(), &entry), LIB_SUCCESS);
    EXPECT_EQ(std::string(entry->name), stored);
    EXPECT_EQ(libClose(entry), LIB_SUCCESS);

    // Another long name that shares the stored part is a duplicate, static or dynamic.
    const std::string sibling = stored + "-other-tail";
    EXPECT_EQ(libRegisterSll(sibling.c_str(), otherQuery), LIB_DUPLICATE);
    EXPECT_EQ(libRegisterDll(sibling.c_str(), "/tmp/x.so"), LIB_DUPLICATE);
    int sameName = 0;
    void* data = nullptr;
    ll_moveFirst(gLibs);
    while (ll_get(gLibs, &data, nullptr) == LL_SUCCESS) {
        sameName += stored == static_cast<LIB_ENTRY*>(data)->name;
        ll_moveNext(gLibs);
    }
    EXPECT_EQ(sameName, 1);
}

TEST(Registry, StaticModuleOpenCountsAndQueries) {
    ASSERT_EQ(libRegisterSll("CNT-Static", staticQuery), LIB_SUCCESS);
    LIB_ENTRY* entry = registryEntry("CNT-Static");
    ZELKOR_GENERIC_FUNCTION function = reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(0x1);
    EXPECT_EQ(libQuerySym(entry, "zelkor_ial_version", &function), LIB_NOT_OPEN) << "query before open";
    EXPECT_EQ(function, nullptr);
    EXPECT_EQ(libClose(entry), LIB_NOT_OPEN);
    EXPECT_EQ(entry->openCount, 0u);

    LIB_ENTRY* opened = nullptr;
    ASSERT_EQ(libOpen("CNT-Static", &opened), LIB_SUCCESS);
    EXPECT_EQ(opened, entry);
    ASSERT_EQ(libOpen("CNT-Static", &opened), LIB_SUCCESS);
    EXPECT_EQ(entry->openCount, 2u);

    ASSERT_EQ(libQuerySym(entry, "zelkor_ial_version", &function), LIB_SUCCESS);
    uint8_t major = 0;
    uint8_t minor = 0;
    EXPECT_EQ(reinterpret_cast<IAL_VERSION_FUNCTION>(function)(&major, &minor), 0u);
    EXPECT_EQ(major, 9);
    EXPECT_EQ(libQuerySym(entry, "zelkor_ial_open", &function), LIB_NO_SYMBOL);
    EXPECT_EQ(function, nullptr);

    EXPECT_EQ(libClose(entry), LIB_SUCCESS);
    EXPECT_EQ(libQuerySym(entry, "zelkor_ial_version", &function), LIB_SUCCESS) << "still open once";
    EXPECT_EQ(libClose(entry), LIB_SUCCESS);
    EXPECT_EQ(libQuerySym(entry, "zelkor_ial_version", &function), LIB_NOT_OPEN);
    EXPECT_EQ(libClose(entry), LIB_NOT_OPEN);
    EXPECT_EQ(entry->openCount, 0u);
}

TEST(Registry, SharedObjectModuleIsLoadedWhileOpen) {
    ASSERT_FALSE(moduleLoaded());
    ASSERT_EQ(libRegisterDll("DYN-Module", TEST_MODULE_PATH), LIB_SUCCESS);
    LIB_ENTRY* entry = registryEntry("DYN-Module");
    EXPECT_EQ(sizeTagOf(entry), 1u);
    EXPECT_STREQ(entry->path, TEST_MODULE_PATH);
    EXPECT_EQ(entry->querySymbol, nullptr);
    EXPECT_FALSE(moduleLoaded()) << "registration loads nothing";

    ZELKOR_GENERIC_FUNCTION function = nullptr;
    EXPECT_EQ(libQuerySym(entry, "zelkor_ial_version", &function), LIB_NOT_OPEN);

    LIB_ENTRY* opened = nullptr;
    ASSERT_EQ(libOpen("DYN-Module", &opened), LIB_SUCCESS);
    EXPECT_TRUE(moduleLoaded());
    ASSERT_EQ(libQuerySym(entry, "zelkor_ial_version", &function), LIB_SUCCESS);
    uint8_t major = 0;
    uint8_t minor = 0;
    EXPECT_EQ(reinterpret_cast<IAL_VERSION_FUNCTION>(function)(&major, &minor), 0u);
    EXPECT_EQ(major, 3);
    EXPECT_EQ(minor, 4);
    EXPECT_EQ(libQuerySym(entry, "zelkor_ial_open", &function), LIB_NO_SYMBOL);

    ASSERT_EQ(libOpen("DYN-Module", &opened), LIB_SUCCESS);
    EXPECT_EQ(libClose(entry), LIB_SUCCESS);
    EXPECT_TRUE(moduleLoaded()) << "two opens and one close keep it loaded";
    EXPECT_EQ(libClose(entry), LIB_SUCCESS);
    EXPECT_FALSE(moduleLoaded()) << "the last close unloads it";
    EXPECT_EQ(entry->dlHandle, nullptr);
    EXPECT_EQ(libQuerySym(entry, "zelkor_ial_version", &function), LIB_NOT_OPEN);

    ASSERT_EQ(libOpen("DYN-Module", &opened), LIB_SUCCESS) << "a later open loads it again";
    EXPECT_TRUE(moduleLoaded());
    EXPECT_EQ(libClose(entry), LIB_SUCCESS);
    EXPECT_FALSE(moduleLoaded());
}

TEST(Registry, SharedObjectThatCannotBeLoaded) {
    ASSERT_EQ(libRegisterDll("DYN-Missing", "/nonexistent/zelkor-module.so"), LIB_SUCCESS);
    LIB_ENTRY* opened = reinterpret_cast<LIB_ENTRY*>(0x1);
    EXPECT_EQ(libOpen("DYN-Missing", &opened), LIB_NOT_FOUND);
    EXPECT_EQ(opened, nullptr);
    LIB_ENTRY* entry = registryEntry("DYN-Missing");
    EXPECT_EQ(entry->openCount, 0u);
    EXPECT_EQ(entry->dlHandle, nullptr);
}

TEST(Registry, LookupFollowsRegistrationOrder) {
    ASSERT_EQ(libRegisterSll("ORD-1", staticQuery), LIB_SUCCESS);
    ASSERT_EQ(libRegisterSll("ORD-2", staticQuery), LIB_SUCCESS);
    std::vector<std::string> names;
    void* data = nullptr;
    ll_moveFirst(gLibs);
    while (ll_get(gLibs, &data, nullptr) == LL_SUCCESS) {
        names.emplace_back(static_cast<LIB_ENTRY*>(data)->name);
        ll_moveNext(gLibs);
    }
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[names.size() - 2], "ORD-1");
    EXPECT_EQ(names.back(), "ORD-2");
    LIB_ENTRY* byName = registryEntry("ORD-1");
    LIB_ENTRY* byEntry = nullptr;
    EXPECT_EQ(findLibEntry(LIB_FIND_BY_ENTRY, nullptr, byName, &byEntry), LIB_SUCCESS);
    EXPECT_EQ(byEntry, byName);
}

} // namespace
