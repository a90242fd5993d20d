// Field values on hostile text and hostile page bytes, below the documents: the hexadecimal rule, text to
// bytes for every type and length, the checks of values a user supplies, and the reader of page bytes
// with random layouts over random data. The checks hold for any input: a documented status, a data buffer
// of the size the format gives the field, a value that an independent reading of the text confirms, and
// no byte read outside the page (the page is a buffer of its exact size under the address sanitizer).
#include "testSupport.h"
#include "xmlMutation.h"

#include "config/engineState.h"
#include "config/pageRecords.h"
#include "config/valueConversion.h"

#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace pageengine;
using namespace robust;
using configtest::field;

const FieldType kTypes[] = {FieldType::Bit,        FieldType::Byte,        FieldType::ByteArray, FieldType::Char,
                            FieldType::Dword,      FieldType::Word,        FieldType::IpAddress, FieldType::ByteString,
                            FieldType::CharNullPad, FieldType::UniCharV};


uint32_t pickCount(Dice& d) {
    return d.oneOf(std::vector<uint32_t>{1, 1, 2, 3, 4, 7, 8, 9, 16, 31, 32, 33, 64, 255, 256, 4096});
}

// A text that is sometimes valid for the field: hexadecimal digits of about the right number, decimal
// dotted quads, plain words; otherwise hostile.
std::string valueText(Dice& d, const PAGE_DATA_NODE& node) {
    static const char digits[] = "0123456789abcdefABCDEF";
    switch (d.below(4)) {
    case 0:
    case 1: {
        const uint32_t around = node.width == WIDTH_BIT ? (node.count + 3) / 4 : 2 * std::min(node.width, 4u) * node.count;
        std::string text(d.below(std::min<uint32_t>(around, 600) + 3), '0');
        for (char& c : text)
            c = digits[d.below(22)];
        if (d.chance(10))
            text = "0x" + text;
        return text;
    }
    case 2:
        return std::to_string(d.below(300)) + "." + std::to_string(d.below(300)) + "." +
               std::to_string(d.below(300)) + "." + std::to_string(d.below(300));
    default:
        return hostileValue(d);
    }
}

bool allHex(std::string_view text) {
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

bool readerStatus(ZELKOR_STATUS status) {
    return status == 0 || status == 1 || status == 39 || status == 40;
}

class ValueRobustness : public ::testing::Test {
  protected:
    void SetUp() override { resetEngineState(); }
    void TearDown() override { resetEngineState(); }
};

TEST_F(ValueRobustness, HexadecimalRuleOnAnyText) {
    for (int i = 0; i < 2000 && !HasFailure(); ++i) {
        const uint32_t seed = 0x4E800000u + static_cast<uint32_t>(i);
        Dice d(seed);
        std::string text = d.chance(50) ? hexNumber(d.word()).substr(d.chance(50) ? 0 : 2) : hostileValue(d);
        if (d.chance(20))
            text = text.substr(0, d.below(static_cast<uint32_t>(text.size()) + 1));
        text = std::string(text.c_str());
        SCOPED_TRACE("seed " + hexNumber(seed) + ", text: " + shown(text, 200));
        uint32_t value = 0x5A5A5A5Au;
        const ZELKOR_STATUS status = convertToHex(text.c_str(), &value);
        ASSERT_TRUE(status == 0 || status == 1) << status;
        if (status != 0)
            continue;
        std::string digitsPart = text;
        if (digitsPart.size() >= 2 && digitsPart[0] == '0' && (digitsPart[1] == 'x' || digitsPart[1] == 'X'))
            digitsPart = digitsPart.substr(2);
        ASSERT_TRUE(allHex(digitsPart) && !digitsPart.empty() && digitsPart.size() <= 8) << "accepted";
        EXPECT_EQ(value, static_cast<uint32_t>(std::stoul(digitsPart, nullptr, 16)));
    }
    uint32_t value = 0;
    EXPECT_EQ(convertToHex(nullptr, &value), 5u);
}

TEST_F(ValueRobustness, TextToBytesForEveryTypeAndLength) {
    int converted = 0;
    for (int i = 0; i < 1500 && !HasFailure(); ++i) {
        const uint32_t seed = 0x5E7D0000u + static_cast<uint32_t>(i);
        Dice d(seed);
        PAGE_DATA_NODE node = field(kTypes[d.below(10)], pickCount(d));
        const std::string text = valueText(d, node);
        SCOPED_TRACE("seed " + hexNumber(seed) + ", " + dataTypeInfo(node.type).name + " LENGTH " +
                     std::to_string(node.count) + ", text: " + shown(text, 300));
        testing::internal::CaptureStdout();
        const ZELKOR_STATUS status = setNodeData(node, text, "P");
        testing::internal::GetCapturedStdout();
        ASSERT_TRUE(status == 0 || status == 40) << status;
        if (status != 0)
            continue;
        ++converted;
        const uint32_t count = node.count;
        switch (node.type) {
        case FieldType::Bit: {
            ASSERT_EQ(node.data.size(), 4u);
            ASSERT_LE(count, 32u);
            const uint32_t value = node.data[0] | node.data[1] << 8 | node.data[2] << 16 | uint32_t{node.data[3]} << 24;
            if (count < 32) {
                EXPECT_LT(uint64_t{value}, 1ull << count);
            }
            break;
        }
        case FieldType::Char:
        case FieldType::CharNullPad:
            ASSERT_EQ(node.data.size(), size_t{count} + 1);
            EXPECT_EQ(node.data.back(), 0);
            EXPECT_LE(text.size(), count);
            break;
        case FieldType::UniCharV:
            // The count becomes the characters and the terminator.
            ASSERT_EQ(node.data.size(), size_t{node.count});
            EXPECT_LE(node.count, count + 1);
            break;
        case FieldType::IpAddress:
            ASSERT_EQ(node.data.size(), size_t{count});
            break;
        default: {
            ASSERT_EQ(node.data.size(), size_t{node.width} * count);
            // Digits that fit are the value: little-endian elements of one big-endian number, or bytes in
            // text order for a ByteString.
            std::string digitsPart = text;
            const size_t room = 2 * size_t{node.width} * count;
            if (!allHex(digitsPart))
                break;
            while (digitsPart.size() > room && digitsPart.front() == '0')
                digitsPart.erase(0, 1);
            ASSERT_LE(digitsPart.size(), room) << "accepted digits that do not fit";
            digitsPart.insert(0, room - digitsPart.size(), '0');
            std::vector<uint8_t> expected(room / 2);
            for (size_t k = 0; k < room / 2; ++k)
                expected[k] = static_cast<uint8_t>(std::stoul(digitsPart.substr(2 * k, 2), nullptr, 16));
            if (node.type != FieldType::ByteString) {
                std::vector<uint8_t> reversed(expected.rbegin(), expected.rend());
                expected = reversed;
            }
            EXPECT_EQ(node.data, expected);
            break;
        }
        }
    }
    EXPECT_GT(converted, 250);
}

TEST_F(ValueRobustness, UserValueChecksOnAnyText) {
    const uint32_t codes[] = {0, 1, 2, 4, 5, 6, 7, 10, 15, 3, 99};
    for (int i = 0; i < 2000 && !HasFailure(); ++i) {
        const uint32_t seed = 0x0C4E0000u + static_cast<uint32_t>(i);
        Dice d(seed);
        const uint32_t code = codes[d.below(11)];
        const uint32_t length = d.chance(20) ? d.word() : pickCount(d);
        PAGE_DATA_NODE shape = field(FieldType::Dword, 1);
        const std::string text = std::string(valueText(d, shape).c_str());
        engineState().gBoolFormatDecimalFound = d.chance(30);
        SCOPED_TRACE("seed " + hexNumber(seed) + ", code " + std::to_string(code) + ", LENGTH " +
                     std::to_string(length) + (engineState().gBoolFormatDecimalFound ? ", decimal" : "") +
                     ", text: " + shown(text, 300));
        testing::internal::CaptureStdout();
        const int input = validateUserInput(text.c_str(), code);
        const int inputLength = validateInputLength(text.c_str(), code, length);
        const int range = validateDecimalValueRangeForFomatAttrib(text.c_str(), code, length);
        testing::internal::GetCapturedStdout();
        EXPECT_TRUE(input == 0 || input == 1);
        EXPECT_TRUE(inputLength == 0 || inputLength == 1);
        EXPECT_TRUE(range == 0 || range == 1);
        if (input == 1 && (code == 1 || code == 2 || code == 4) && !engineState().gBoolFormatDecimalFound) {
            EXPECT_TRUE(allHex(text));
        }
    }
    engineState().gBoolFormatDecimalFound = false;
}

// Random layouts read over random page bytes: whatever the fields claim, the reader stays in the page.
TEST_F(ValueRobustness, PageReaderStaysInsideThePage) {
    for (int i = 0; i < 2000 && !HasFailure(); ++i) {
        const uint32_t seed = 0x2EAD0000u + static_cast<uint32_t>(i);
        Dice d(seed);
        const std::string raw = d.text(d.below(70));
        const std::vector<uint8_t> page(raw.begin(), raw.end());
        std::string layout;
        PageReader reader(page);
        bool overran = false;
        testing::internal::CaptureStdout();
        for (uint32_t n = 1 + d.below(10); n > 0 && !HasFailure(); --n) {
            const bool container = d.chance(30);
            PAGE_DATA_NODE node = field(container ? d.oneOf(std::vector<FieldType>{FieldType::Byte, FieldType::Word,
                                                                                   FieldType::Dword})
                                                  : kTypes[d.below(10)],
                                        d.chance(70) ? 1 + d.below(8) : pickCount(d));
            node.offset = d.chance(70) ? 0 : d.oneOf(std::vector<uint32_t>{1, 2, 3, 7, 8, 31, 32, 33, 100, 0xFFFFFFFFu});
            node.formatDecimal = d.chance(10);
            layout += std::string(dataTypeInfo(node.type).name) + "x" + std::to_string(node.count) + "@" +
                      std::to_string(node.offset) + (container ? "{ " : " ");
            SCOPED_TRACE("seed " + hexNumber(seed) + ", " + std::to_string(page.size()) + " bytes, layout " + layout);
            if (!container) {
                std::optional<std::string> text;
                const ZELKOR_STATUS status = reader.readField(node, text);
                ASSERT_TRUE(readerStatus(status)) << status;
                overran = overran || status == 1;
                continue;
            }
            node.hasChildren = 1;
            const ZELKOR_STATUS entered = reader.enterContainer(node);
            ASSERT_TRUE(readerStatus(entered)) << entered;
            if (entered != 0) {
                overran = overran || entered == 1;
                continue;
            }
            for (uint32_t c = 1 + d.below(4); c > 0; --c) {
                PAGE_DATA_NODE child = field(d.chance(60) ? FieldType::Bit : kTypes[d.below(10)], 1 + d.below(12));
                child.offset = d.chance(70) ? 0 : d.below(40);
                child.level = 1;
                std::optional<std::string> text;
                const ZELKOR_STATUS status = reader.readField(child, text);
                ASSERT_TRUE(readerStatus(status)) << status;
                overran = overran || status == 1;
            }
            reader.leaveContainer();
            layout += "} ";
        }
        testing::internal::GetCapturedStdout();
        EXPECT_LE(reader.position(), page.size()) << layout;
        if (overran) {
            EXPECT_TRUE(reader.overrun());
        }
    }
}

} // namespace
