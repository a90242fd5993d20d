// The services the library shares with its modules: case-insensitive search, product and revision decoding.
#include "core/zelkor.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(StrIgnoreCaseStr, FindsTheFirstMatchIgnoringCase) {
    struct Case {
        const char* haystack;
        const char* needle;
        long position; // -1: not found
    };
    const Case cases[] = {
        {"In-Band SAS", "sas", 8},
        {"In-Band SAS", "IN-band", 0},
        {"In-Band SAS", "d S", 6},
        {"aXbXc", "x", 1},
        {"ababab", "BAB", 1},
        {"abc", "abc", 0},
        {"abc", "abcd", -1}, // needle one character longer
        {"abc", "", 0},      // an empty needle matches at the start
        {"", "", 0},
        {"", "a", -1},
        {"abc", "abd", -1},
        {"ab", "b", 1},
        {"[@`{", "{", 3}, // neighbours of the letters are not letters
        {"@", "`", -1},
        {"[", "{", -1},
        {"caf\xC9", "\xE9", -1}, // bytes above 127 are compared as they are
        {"caf\xC9", "\xC9", 3},
    };
    for (const Case& c : cases) {
        const char* found = strIgnoreCaseStr(c.haystack, c.needle);
        if (c.position < 0)
            EXPECT_EQ(found, nullptr) << c.haystack << " / " << c.needle;
        else
            EXPECT_EQ(found, c.haystack + c.position) << c.haystack << " / " << c.needle;
    }
}

TEST(StrIgnoreCaseStr, NullTextsFindNothing) {
    EXPECT_EQ(strIgnoreCaseStr(nullptr, "a"), nullptr);
    EXPECT_EQ(strIgnoreCaseStr("a", nullptr), nullptr);
}

ZELKOR_EXPANDER decoded(uint16_t productId, uint8_t revisionCode) {
    ZELKOR_EXPANDER expander{};
    expander.productId = productId;
    expander.revisionCode = revisionCode;
    expander.revisionIndex = 77;
    expander.type = ZELKOR_CHIP_OSTREL;
    std::memset(expander.name, 'z', sizeof expander.name);
    std::memset(expander.revision, 'z', sizeof expander.revision);
    productIDAndRevDecode(&expander);
    return expander;
}

TEST(ProductIDAndRevDecode, KnownProducts) {
    struct Case {
        uint16_t productId;
        uint32_t type;
        const char* name;
        const char* family;
    };
    const Case cases[] = {
        {0x230, 4, "Vellor_48", "Quenza"}, {0x231, 4, "Vellor_44", "Quenza"},
        {0x232, 4, "Vellor_40", "Quenza"}, {0x233, 4, "Vellor_36", "Quenza"},
        {0x235, 4, "Vellor_28", "Quenza"}, {0x236, 4, "Vellor_24", "Quenza"},
        {0x238, 5, "Kestan_48", "Dax"},    {0x239, 5, "Kestan_44", "Dax"},
        {0x23A, 5, "Kestan_40", "Dax"},    {0x23B, 5, "Kestan_36", "Dax"},
        {0x23C, 5, "Kestan_28", "Dax"},    {0x23D, 5, "Kestan_24", "Dax"},
    };
    for (const Case& c : cases) {
        const ZELKOR_EXPANDER e = decoded(c.productId, 0);
        EXPECT_EQ(e.type, c.type) << std::hex << c.productId;
        EXPECT_STREQ(e.name, c.name);
        ASSERT_NE(e.familyName, nullptr);
        EXPECT_STREQ(e.familyName, c.family);
    }
}

TEST(ProductIDAndRevDecode, UnknownProductsKeepTheirChipType) {
    for (uint16_t productId : {0x234, 0x237, 0x22F, 0x23E, 0x0, 0xFFFF}) {
        const ZELKOR_EXPANDER e = decoded(productId, 3);
        EXPECT_EQ(e.type, static_cast<uint32_t>(ZELKOR_CHIP_OSTREL)) << std::hex << productId;
        EXPECT_STREQ(e.name, "Unknown");
        ASSERT_NE(e.familyName, nullptr);
        EXPECT_STREQ(e.familyName, "Unknown");
        // The revision is decoded whatever the product.
        EXPECT_STREQ(e.revision, "C1");
        EXPECT_EQ(e.revisionIndex, 3);
    }
}

TEST(ProductIDAndRevDecode, Revisions) {
    struct Case {
        uint8_t code;
        uint8_t index;
        const char* text;
    };
    const Case cases[] = {{0, 0, "A0"},
                          {1, 1, "B0"},
                          {2, 2, "C0"},
                          {3, 3, "C1"},
                          {4, 77, "Unknown Revision"},
                          {0x10, 77, "Unknown Revision"},
                          {0xFF, 77, "Unknown Revision"}};
    for (const Case& c : cases) {
        const ZELKOR_EXPANDER e = decoded(0x230, c.code);
        EXPECT_EQ(e.revisionIndex, c.index) << int(c.code);
        EXPECT_STREQ(e.revision, c.text) << int(c.code);
    }
}

} // namespace
