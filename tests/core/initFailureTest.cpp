#include "tests/support/testSupport.h"

#include "core/zelkorInternal.h"

namespace {

ZELKOR_GENERIC_FUNCTION squatter(const char*) {
    return nullptr;
}

// A module that takes a built-in name before the first open makes that registration fail, and the
// library stays uninitialised for the rest of the process.
TEST(FirstOpen, FailedRegistrationRefusesEveryOpen) {
    LIB_ENTRY* entry = reinterpret_cast<LIB_ENTRY*>(0x1);
    EXPECT_EQ(findLibEntry(LIB_FIND_BY_NAME, "IAL-SAS", nullptr, &entry), LIB_NOT_FOUND) << "no registry yet";
    EXPECT_EQ(libOpen("IAL-SAS", &entry), LIB_NOT_FOUND);
    EXPECT_EQ(entry, nullptr);
    ASSERT_EQ(libRegisterSll("IAL-COM", squatter), LIB_SUCCESS);

    {
        LogCapture log;
        ZELKOR_INSTANCE* handle = reinterpret_cast<ZELKOR_INSTANCE*>(0x1);
        EXPECT_EQ(zelkor_open(0, 0, &handle, nullptr, nullptr), 7u);
        EXPECT_EQ(handle, nullptr);
        const std::vector<std::string> lines = log.lines();
        EXPECT_TRUE(containsInOrder(
            lines, {"ERROR : zelkor::zelkor_open : Registering IAL-COM library **** FAILED ****",
                    "ERROR : zelkor::zelkor_open : Zelkor library initialization **** FAILED ****"}));
        EXPECT_FALSE(containsLine(
            lines, "ERROR : zelkor::zelkor_open : Registering IAL-CLI library **** FAILED ****"));
    }
    EXPECT_EQ(gFlags, ZELKOR_FLAG_INITIALISED | ZELKOR_FLAG_INSTANCE_LIST);
    // The other six were still registered, and the squatter kept its entry.
    for (const char* name : kBuiltInNames)
        EXPECT_NE(registryEntry(name), nullptr);
    EXPECT_EQ(registryEntry("IAL-COM")->querySymbol, squatter);

    LogCapture log;
    ZELKOR_INSTANCE* handle = nullptr;
    EXPECT_EQ(zelkor_open(5, 0, &handle, nullptr, nullptr), 7u);
    EXPECT_EQ(handle, nullptr);
    const std::vector<std::string> lines = log.lines();
    EXPECT_TRUE(
        containsLine(lines, "ERROR : zelkor::zelkor_open : Zelkor library initialization **** FAILED ****"));
    EXPECT_FALSE(
        containsLine(lines, "ERROR : zelkor::zelkor_open : Registering IAL-COM library **** FAILED ****"))
        << "registration is tried once per process";
}

} // namespace
