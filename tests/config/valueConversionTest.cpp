// Field values: the hexadecimal rule, every type in both directions, the conversion errors with their
// texts, container packing, reading malformed pages, and the checks of user-supplied values.
#include "testSupport.h"

#include "config/valueConversion.h"
#include "config/xmlRaii.h"

#include <gmock/gmock.h>

#include <cctype>

using namespace configtest;
using namespace pageengine;

namespace {

std::string testName(std::string name) {
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}


std::vector<uint8_t> written(const PAGE_DATA_NODE& node) {
    FILE* file = std::tmpfile();
    EXPECT_EQ(writeDataToFile(&node, file), 0u);
    std::fflush(file);
    std::vector<uint8_t> bytes = readWholeFile(file);
    std::fclose(file);
    return bytes;
}

// ---- the hexadecimal rule

struct HexCase {
    const char* text;
    ZELKOR_STATUS status;
    uint32_t value;
};

void PrintTo(const HexCase& c, std::ostream* os) {
    *os << '"' << (c.text ? c.text : "") << '"';
}

class HexRule : public ::testing::TestWithParam<HexCase> {};

TEST_P(HexRule, Converts) {
    const HexCase& c = GetParam();
    uint32_t value = 0xDEADBEEF;
    EXPECT_EQ(convertToHex(c.text, &value), c.status) << c.text;
    EXPECT_EQ(value, c.status == 0 ? c.value : 0xDEADBEEF) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Texts, HexRule,
                         ::testing::Values(HexCase{"1F", 0, 0x1F}, HexCase{"0x1f", 0, 0x1F},
                                           HexCase{"0XAbC", 0, 0xABC}, HexCase{"FFFFFFFF", 0, 0xFFFFFFFF},
                                           HexCase{"0xFFFFFFFF", 0, 0xFFFFFFFF}, HexCase{"12345", 0, 0x12345},
                                           HexCase{"0x123456789", 1, 0}, HexCase{"123456789", 1, 0},
                                           HexCase{"1x2", 1, 0}, HexCase{"FG01", 1, 0}, HexCase{"12 ", 1, 0},
                                           HexCase{"0x", 1, 0}, HexCase{"", 1, 0}, HexCase{"00x1", 1, 0}));

TEST(HexRule, NullArguments) {
    uint32_t value = 0;
    EXPECT_EQ(convertToHex(nullptr, &value), 5u);
    EXPECT_EQ(convertToHex("1", nullptr), 5u);
}

// ---- every type, text to bytes and back

struct TypeCase {
    FieldType type;
    uint32_t count;
    const char* text;
    std::vector<uint8_t> bytes;
    const char* readBack;
};

void PrintTo(const TypeCase& c, std::ostream* os) {
    *os << dataTypeInfo(c.type).name << " \"" << c.text << '"';
}

class TypeConversion : public EngineTest, public ::testing::WithParamInterface<TypeCase> {};

TEST_P(TypeConversion, BothDirections) {
    const TypeCase& c = GetParam();
    PAGE_DATA_NODE node = field(c.type, c.count);
    ASSERT_EQ(setNodeData(node, c.text, "P"), 0u) << c.text;
    EXPECT_EQ(written(node), c.bytes) << c.text;

    PageReader reader(c.bytes);
    std::optional<std::string> text;
    ASSERT_EQ(reader.readField(field(c.type, c.count), text), 0u);
    EXPECT_EQ(text, c.readBack);
    EXPECT_EQ(reader.position(), c.bytes.size());
}

INSTANTIATE_TEST_SUITE_P(
    Types, TypeConversion,
    ::testing::Values(TypeCase{FieldType::Byte, 1, "7F", {0x7F}, "7F"},
                      TypeCase{FieldType::Byte, 1, "", {0x00}, "00"},
                      TypeCase{FieldType::Byte, 4, "04030201", {1, 2, 3, 4}, "04030201"},
                      TypeCase{FieldType::ByteArray, 2, "0102", {2, 1}, "0102"},
                      TypeCase{FieldType::ByteArray, 3, "1", {1, 0, 0}, "000001"},
                      TypeCase{FieldType::ByteString, 4, "1A2B3C", {0x00, 0x1A, 0x2B, 0x3C}, "001A2B3C"},
                      TypeCase{FieldType::ByteString, 4, "01020304", {1, 2, 3, 4}, "01020304"},
                      TypeCase{FieldType::Word, 1, "abcd", {0xCD, 0xAB}, "ABCD"},
                      TypeCase{FieldType::Word, 2, "ABCD", {0xCD, 0xAB, 0, 0}, "0000ABCD"},
                      TypeCase{FieldType::Word, 2, "ABCD1234", {0x34, 0x12, 0xCD, 0xAB}, "ABCD1234"},
                      TypeCase{FieldType::Dword, 1, "1", {1, 0, 0, 0}, "00000001"},
                      TypeCase{FieldType::Dword, 1, "000000001", {1, 0, 0, 0}, "00000001"},
                      TypeCase{FieldType::Dword,
                               2,
                               "0011223344556677",
                               {0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00},
                               "0011223344556677"},
                      TypeCase{FieldType::IpAddress, 4, "1.2.3.4", {1, 2, 3, 4}, "1.2.3.4"},
                      TypeCase{FieldType::IpAddress, 4, "10.0.0.254 ", {10, 0, 0, 254}, "10.0.0.254"},
                      TypeCase{FieldType::IpAddress, 4, "", {0, 0, 0, 0}, "0.0.0.0"},
                      TypeCase{
                          FieldType::Char, 8, "abc", {'a', 'b', 'c', ' ', ' ', ' ', ' ', ' '}, "abc     "},
                      TypeCase{FieldType::Char, 4, "abcd", {'a', 'b', 'c', 'd'}, "abcd"},
                      TypeCase{FieldType::CharNullPad, 8, "abc", {'a', 'b', 'c', 0, 0, 0, 0, 0}, "abc"},
                      TypeCase{FieldType::UniCharV, 4, "ab", {'a', 0, 'b', 0, 0, 0}, "ab"},
                      TypeCase{FieldType::UniCharV, 4, "", {0, 0}, ""}),
    [](const ::testing::TestParamInfo<TypeCase>& info) {
        return std::to_string(info.index) + "_" + dataTypeInfo(info.param.type).name;
    });

struct BitCase {
    uint32_t length;
    const char* text;
    ZELKOR_STATUS status;
    uint32_t value;
    const char* output;
};

void PrintTo(const BitCase& c, std::ostream* os) {
    *os << "BIT " << c.length << " \"" << c.text << '"';
}

class BitConversion : public EngineTest, public ::testing::WithParamInterface<BitCase> {};

TEST_P(BitConversion, Converts) {
    const BitCase& c = GetParam();
    PAGE_DATA_NODE node = field(FieldType::Bit, c.length, "flag");
    ::testing::internal::CaptureStdout();
    ZELKOR_STATUS status = setNodeData(node, c.text, "P");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.output);
    ASSERT_EQ(status, c.status) << c.text;
    if (status == 0) {
        ASSERT_EQ(node.data.size(), 4u);
        EXPECT_EQ(node.data[0] | node.data[1] << 8 | node.data[2] << 16 | uint32_t{node.data[3]} << 24,
                  c.value);
        EXPECT_TRUE(written(node).empty()); // a bit field never writes bytes of its own
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, BitConversion,
    ::testing::Values(BitCase{3, "7", 0, 7, ""}, BitCase{3, "8", 40, 0, ""}, BitCase{1, "0x1", 0, 1, ""},
                      BitCase{8, "0x1", 0, 1, ""}, BitCase{4, "0005", 0, 5, ""}, BitCase{4, "", 0, 0, ""},
                      BitCase{32, "FFFFFFFF", 0, 0xFFFFFFFF, ""}, BitCase{4, "g", 40, 0, ""},
                      BitCase{33, "1", 40, 0, ""}, BitCase{4, "0x", 40, 0, ""},
                      BitCase{1, "11", 40, 0,
                              "ERROR : Invalid content for element \"flag\" in page \"P\".\n"
                              "Expected maximum 1 BIT, 8 BITS found.\n"},
                      BitCase{6, "100", 40, 0,
                              "ERROR : Invalid content for element \"flag\" in page \"P\".\n"
                              "Expected maximum 6 BITS, 12 BITS found.\n"}));

// ---- conversion errors and their texts

struct ErrorCase {
    FieldType type;
    uint32_t count;
    const char* text;
    const char* output;
};

void PrintTo(const ErrorCase& c, std::ostream* os) {
    *os << dataTypeInfo(c.type).name << " \"" << c.text << '"';
}

class ConversionErrors : public EngineTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(ConversionErrors, RefuseWithTheirText) {
    const ErrorCase& c = GetParam();
    PAGE_DATA_NODE node = field(c.type, c.count, "f");
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(setNodeData(node, c.text, "P"), 40u);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.output);
}

constexpr const char* kTooLong = "\nERROR : Invalid content for element \"f\" in page \"P\".\n\n";

INSTANTIATE_TEST_SUITE_P(Texts, ConversionErrors,
                         ::testing::Values(ErrorCase{FieldType::Char, 4, "abcde", kTooLong},
                                           ErrorCase{FieldType::CharNullPad, 2, "abc", kTooLong},
                                           ErrorCase{FieldType::UniCharV, 2, "abc", kTooLong},
                                           ErrorCase{FieldType::Byte, 1, "0x12",
                                                     "\nERROR : Invalid content \"0x12\" in page \"P\".\n"},
                                           ErrorCase{FieldType::Word, 1, "g",
                                                     "\nERROR : Invalid content \"000g\" in page \"P\".\n"},
                                           ErrorCase{FieldType::Dword, 1, "100000001",
                                                     "ERROR : Invalid content for element \"f\" in page "
                                                     "\"P\".\nExpected maximum 1 DWORD, 2 DWORDS found.\n"},
                                           ErrorCase{FieldType::Dword, 2, "10000000000000000",
                                                     "ERROR : Invalid content for element \"f\" in page "
                                                     "\"P\".\nExpected maximum 2 DWORDS, 3 DWORDS found.\n"},
                                           ErrorCase{FieldType::Word, 1, "10000",
                                                     "ERROR : Invalid content for element \"f\" in page "
                                                     "\"P\".\nExpected maximum 1 WORD, 2 WORDS found.\n"},
                                           ErrorCase{FieldType::Word, 2, "100000000",
                                                     "ERROR : Invalid content for element \"f\" in page "
                                                     "\"P\".\nExpected maximum 2 WORDS, 3 WORDS found.\n"},
                                           ErrorCase{FieldType::Byte, 1, "100",
                                                     "ERROR : Invalid content for element \"f\" in page "
                                                     "\"P\".\nExpected maximum 1 BYTE, 2 BYTES found.\n"},
                                           ErrorCase{FieldType::ByteString, 2, "10000",
                                                     "ERROR : Invalid content for element \"f\" in page "
                                                     "\"P\".\nExpected maximum 2 BYTES, 3 BYTES found.\n"},
                                           ErrorCase{FieldType::IpAddress, 4, "1.2.3", kTooLong},
                                           ErrorCase{FieldType::IpAddress, 4, "1.2.3.4.5", kTooLong},
                                           ErrorCase{FieldType::IpAddress, 4, "256.1.1.1", kTooLong},
                                           ErrorCase{FieldType::IpAddress, 4, "1..2.3", kTooLong},
                                           ErrorCase{FieldType::IpAddress, 4, "a.b.c.d", kTooLong},
                                           ErrorCase{FieldType::IpAddress, 4, "1.2.3.4 junk", kTooLong},
                                           ErrorCase{FieldType::IpAddress, 4, "-1.2.3.4", kTooLong},
                                           ErrorCase{FieldType::IpAddress, 4, "0001.2.3.4", kTooLong},
                                           ErrorCase{FieldType::IpAddress, 1, "1.2.3.4", kTooLong},
                                           ErrorCase{FieldType::Hex, 1, "01", ""}),
                         [](const ::testing::TestParamInfo<ErrorCase>& info) {
                             return std::to_string(info.index) + "_" + dataTypeInfo(info.param.type).name;
                         });

TEST(FieldProperties, AddressIsAlwaysFourBytes) {
    XmlDocPtr doc(xmlNewDoc(xmlStr("1.0")));
    xmlNode* element = xmlNewDocNode(doc.get(), nullptr, xmlStr("IPAddress"), xmlStr("10.1.2.3"));
    xmlDocSetRootElement(doc.get(), element);
    PAGE_DATA_NODE node;
    ASSERT_EQ(populateFieldProperties(element, node, "P"), 0u);
    EXPECT_EQ(node.count, 4u);
    xmlSetProp(element, xmlStr("LENGTH"), xmlStr("1"));
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(populateFieldProperties(element, node, "P"), 40u);
    ::testing::internal::GetCapturedStdout();
}

// ---- packing children into containers, and reading them back

struct Child {
    FieldType type;
    uint32_t count;
    uint32_t offset;
    const char* text; // null for a container; its children follow with a deeper level
    uint32_t level = 1;
};

struct PackCase {
    const char* what;
    FieldType containerType;
    uint32_t containerCount;
    std::vector<Child> children;
    ZELKOR_STATUS status;
    std::vector<uint8_t> bytes;
    std::vector<const char*> readBack; // texts of the leaves, in order
    bool offsetMessage = false;
};

std::vector<PAGE_DATA_NODE> buildNodes(const PackCase& c) {
    std::vector<PAGE_DATA_NODE> nodes;
    PAGE_DATA_NODE container = field(c.containerType, c.containerCount, "parent");
    container.topLevel = 1;
    container.hasChildren = 1;
    container.writeMode = WRITE_NUMBER;
    container.data.assign(std::size_t{container.width} * container.count, 0);
    nodes.push_back(container);
    int index = 0;
    for (const Child& child : c.children) {
        PAGE_DATA_NODE node = field(child.type, child.count, ("child" + std::to_string(index++)).c_str());
        node.offset = child.offset;
        node.level = child.level;
        if (child.text == nullptr) {
            node.hasChildren = 1;
            node.writeMode = WRITE_NUMBER;
            node.data.assign(std::size_t{node.width} * node.count, 0);
        } else {
            EXPECT_EQ(setNodeData(node, child.text, "P"), 0u);
        }
        nodes.push_back(node);
    }
    return nodes;
}

// Reads the fields of a flat list back with the reader, as the field walk does.
void readBack(PageReader& reader, const std::vector<PAGE_DATA_NODE>& nodes, std::size_t& i,
              std::vector<std::string>& texts) {
    const PAGE_DATA_NODE& node = nodes[i++];
    if (!node.hasChildren) {
        std::optional<std::string> text;
        ASSERT_EQ(reader.readField(node, text), 0u);
        texts.push_back(text.value_or("-"));
        return;
    }
    ASSERT_EQ(reader.enterContainer(node), 0u);
    while (i < nodes.size() && nodes[i].level > node.level)
        readBack(reader, nodes, i, texts);
    reader.leaveContainer();
}

void PrintTo(const PackCase& c, std::ostream* os) {
    *os << c.what;
}

class Packing : public EngineTest, public ::testing::WithParamInterface<PackCase> {};

TEST_P(Packing, PacksAndReadsBack) {
    const PackCase& c = GetParam();
    std::vector<PAGE_DATA_NODE> nodes = buildNodes(c);
    ::testing::internal::CaptureStdout();
    ZELKOR_STATUS status = getChildNodeData(nodes, 0);
    std::string output = ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(status, c.status);
    if (status != 0) {
        EXPECT_EQ(output, c.offsetMessage
                              ? "\nERROR : Offset validation failed for element \"child1\" in parent "
                                "element \"parent\".\n\nThe XML file failed Schema validation.\n"
                              : "");
        return;
    }
    EXPECT_EQ(written(nodes[0]), c.bytes);

    PageReader reader(c.bytes);
    std::vector<std::string> texts;
    std::size_t i = 0;
    readBack(reader, nodes, i, texts);
    EXPECT_EQ(texts, std::vector<std::string>(c.readBack.begin(), c.readBack.end()));
    EXPECT_EQ(reader.position(), c.bytes.size());
}

INSTANTIATE_TEST_SUITE_P(
    Containers, Packing,
    ::testing::Values(PackCase{"bits in a dword",
                               FieldType::Dword,
                               1,
                               {{FieldType::Bit, 4, 0, "3"}, {FieldType::Bit, 4, 0, "A"}},
                               0,
                               {0xA3, 0, 0, 0},
                               {"3", "A"}},
                      PackCase{"bit after an explicit offset",
                               FieldType::Word,
                               1,
                               {{FieldType::Bit, 4, 8, "F"}, {FieldType::Bit, 4, 0, "1"}},
                               0,
                               {0x00, 0x1F},
                               {"F", "1"}},
                      PackCase{"bits in the first byte of two",
                               FieldType::Byte,
                               2,
                               {{FieldType::Bit, 8, 0, "FF"}},
                               0,
                               {0xFF, 0},
                               {"FF"}},
                      PackCase{"bytes at their offsets",
                               FieldType::Dword,
                               1,
                               {{FieldType::Word, 1, 0, "1234"}, {FieldType::Byte, 1, 2, "56"}},
                               0,
                               {0x34, 0x12, 0x56, 0},
                               {"1234", "56"}},
                      PackCase{"text and an address in a byte array",
                               FieldType::ByteArray,
                               6,
                               {{FieldType::Char, 2, 0, "hi"}, {FieldType::IpAddress, 4, 0, "1.2.3.4"}},
                               0,
                               {'h', 'i', 1, 2, 3, 4},
                               {"hi", "1.2.3.4"}},
                      PackCase{"nested container",
                               FieldType::Dword,
                               1,
                               {{FieldType::Word, 1, 0, nullptr, 1},
                                {FieldType::Bit, 4, 0, "5", 2},
                                {FieldType::Bit, 4, 0, "6", 2},
                                {FieldType::Byte, 1, 0, "77", 1}},
                               0,
                               {0x65, 0x00, 0x77, 0x00},
                               {"5", "6", "77"}},
                      PackCase{"byte overlapping the one before",
                               FieldType::Dword,
                               1,
                               {{FieldType::Word, 1, 0, "1234"}, {FieldType::Byte, 1, 1, "56"}},
                               39,
                               {},
                               {},
                               true},
                      PackCase{"bit beyond its container",
                               FieldType::Byte,
                               1,
                               {{FieldType::Bit, 1, 0, "1"}, {FieldType::Bit, 4, 6, "1"}},
                               39,
                               {},
                               {},
                               true},
                      PackCase{"bit beyond the first element",
                               FieldType::Byte,
                               2,
                               {{FieldType::Bit, 1, 0, "1"}, {FieldType::Bit, 4, 6, "1"}},
                               39,
                               {},
                               {},
                               true},
                      PackCase{"child larger than its container",
                               FieldType::Word,
                               1,
                               {{FieldType::Byte, 1, 0, "1"}, {FieldType::Word, 1, 0, "1"}},
                               39,
                               {},
                               {},
                               true},
                      PackCase{"wide text child",
                               FieldType::Dword,
                               1,
                               {{FieldType::Byte, 1, 0, "1"}, {FieldType::UniCharV, 2, 0, "a"}},
                               40,
                               {},
                               {}}),
    [](const ::testing::TestParamInfo<PackCase>& info) { return testName(info.param.what); });

class Reading : public EngineTest {};

TEST_F(Reading, AfterBitsTheReaderSkipsTheWholeContainer) {
    // A two-byte container of bits, then a byte array: the array starts at byte 2, not byte 1.
    const std::vector<uint8_t> bytes = {0x0B, 0x00, 0x02, 0x01};
    PageReader reader(bytes);
    PAGE_DATA_NODE container = field(FieldType::Byte, 2, "bits");
    container.hasChildren = 1;
    std::optional<std::string> text;
    ASSERT_EQ(reader.enterContainer(container), 0u);
    ASSERT_EQ(reader.readField(field(FieldType::Bit, 1), text), 0u);
    EXPECT_EQ(text, "1");
    ASSERT_EQ(reader.readField(field(FieldType::Bit, 3), text), 0u);
    EXPECT_EQ(text, "5");
    reader.leaveContainer();
    EXPECT_EQ(reader.position(), 2u);
    ASSERT_EQ(reader.readField(field(FieldType::ByteArray, 2), text), 0u);
    EXPECT_EQ(text, "0102");
}

struct ShortPageCase {
    const char* what;
    FieldType type;
    uint32_t count;
    std::vector<uint8_t> bytes;
};

void PrintTo(const ShortPageCase& c, std::ostream* os) {
    *os << c.what;
}

class ShortPage : public EngineTest, public ::testing::WithParamInterface<ShortPageCase> {};

TEST_P(ShortPage, ReadingNeverLeavesThePage) {
    const ShortPageCase& c = GetParam();
    PageReader reader(c.bytes);
    PAGE_DATA_NODE node = field(c.type, c.count);
    ZELKOR_STATUS status;
    if (c.type == FieldType::Word && c.count == 2) {
        node.hasChildren = 1;
        status = reader.enterContainer(node);
    } else {
        std::optional<std::string> text;
        status = reader.readField(node, text);
        EXPECT_FALSE(text.has_value());
    }
    EXPECT_EQ(status, 1u);
    EXPECT_TRUE(reader.overrun());
    EXPECT_EQ(reader.position(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, ShortPage,
    ::testing::Values(ShortPageCase{"dword in three bytes", FieldType::Dword, 1, {1, 2, 3}},
                      ShortPageCase{"text in an empty page", FieldType::Char, 1, {}},
                      ShortPageCase{"wide text without terminator", FieldType::UniCharV, 4, {'a', 0, 'b'}},
                      ShortPageCase{"container past the end", FieldType::Word, 2, {1, 2, 3}},
                      ShortPageCase{"address in two bytes", FieldType::IpAddress, 4, {1, 2}}),
    [](const ::testing::TestParamInfo<ShortPageCase>& info) { return testName(info.param.what); });

TEST_F(Reading, DecimalFormatOnReading) {
    engineState().gPageName = "P";
    const std::vector<uint8_t> bytes = {0xFF, 0xFF, 0x00, 0x00, 0x05, 0x00,
                                        0x00, 0x00, 0x00, 0x00, 0x00, 0x01};
    PageReader reader(bytes);
    std::optional<std::string> text;
    PAGE_DATA_NODE dword = field(FieldType::Dword, 1);
    dword.formatDecimal = 1;
    ASSERT_EQ(reader.readField(dword, text), 0u);
    EXPECT_EQ(text, "65535");
    PAGE_DATA_NODE wide = field(FieldType::Dword, 2, "big");
    wide.formatDecimal = 1;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(reader.readField(wide, text), 40u);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "\nERROR : Invalid content for element \"big\" in page \"P\".\n\n");

    PageReader again(bytes);
    PAGE_DATA_NODE string = field(FieldType::ByteString, 2);
    string.formatDecimal = 1; // only number fields are shown in decimal
    ASSERT_EQ(again.readField(string, text), 0u);
    EXPECT_EQ(text, "FFFF");
    PAGE_DATA_NODE small = field(FieldType::Dword, 2);
    small.formatDecimal = 1;
    const std::vector<uint8_t> lowOnly = {5, 0, 0, 0, 0, 0, 0, 0};
    PageReader zeroHigh(lowOnly);
    ASSERT_EQ(zeroHigh.readField(small, text), 0u);
    EXPECT_EQ(text, "5");
}

TEST(ReservedNames, EitherCase) {
    EXPECT_TRUE(isReservedFieldName("Reserved 1"));
    EXPECT_TRUE(isReservedFieldName("bits reserved"));
    EXPECT_FALSE(isReservedFieldName("RESERVED"));
    EXPECT_FALSE(isReservedFieldName("serial"));
}

// ---- user-supplied values

struct UserInputCase {
    const char* text;
    uint32_t code;
    bool decimal;
    int valid;
};

void PrintTo(const UserInputCase& c, std::ostream* os) {
    *os << '"' << c.text << "\" code " << c.code;
}

class UserInput : public EngineTest, public ::testing::WithParamInterface<UserInputCase> {};

TEST_P(UserInput, Characters) {
    const UserInputCase& c = GetParam();
    engineState().gBoolFormatDecimalFound = c.decimal;
    EXPECT_EQ(validateUserInput(c.text, c.code), c.valid) << c.text << " code " << c.code;
}

INSTANTIATE_TEST_SUITE_P(
    Values, UserInput,
    ::testing::Values(UserInputCase{"1F", 4, false, 1}, UserInputCase{"1F", 4, true, 0},
                      UserInputCase{"123", 2, true, 1}, UserInputCase{"12G", 1, false, 0},
                      UserInputCase{"1", 0, false, 1}, UserInputCase{"any text", 5, false, 1},
                      UserInputCase{"any text", 6, false, 1}, UserInputCase{"any text", 7, false, 1},
                      UserInputCase{"any text", 10, false, 1}, UserInputCase{"192.168.0.1", 15, false, 1},
                      UserInputCase{"0.1.2.3", 15, false, 0}, UserInputCase{"1.2.3.256", 15, false, 0},
                      UserInputCase{"1.2.3", 15, false, 0}, UserInputCase{"1.2.3.4.5", 15, false, 0},
                      UserInputCase{"1..2.3", 15, false, 0}, UserInputCase{"1.2.3.a", 15, false, 0},
                      UserInputCase{"1", 3, false, 0}, UserInputCase{"1", 99, false, 0}));

struct LengthCase {
    const char* text;
    uint32_t code;
    uint32_t length;
    bool decimal;
    int valid;
    const char* output;
};

constexpr const char* kInfo =
    "\nINFO  : Maximum value supported for Decimal format is 4294967295(i.e. 0XFFFFFFFF).\n";

void PrintTo(const LengthCase& c, std::ostream* os) {
    *os << '"' << c.text << "\" code " << c.code;
}

class InputLength : public EngineTest, public ::testing::WithParamInterface<LengthCase> {};

TEST_P(InputLength, Limits) {
    const LengthCase& c = GetParam();
    engineState().gBoolFormatDecimalFound = c.decimal;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(validateInputLength(c.text, c.code, c.length), c.valid) << c.text;
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.output);
}

INSTANTIATE_TEST_SUITE_P(
    Values, InputLength,
    ::testing::Values(LengthCase{"7", 0, 3, false, 1, ""}, LengthCase{"8", 0, 3, false, 0, ""},
                      LengthCase{"7", 0, 3, true, 1, ""}, LengthCase{"8", 0, 3, true, 0, ""},
                      LengthCase{"10", 0, 4, true, 1, ""}, LengthCase{"10", 0, 4, false, 0, ""},
                      LengthCase{"FFFF", 2, 1, false, 1, ""}, LengthCase{"FFFFF", 2, 1, false, 0, ""},
                      LengthCase{"65535", 2, 1, true, 1, ""}, LengthCase{"65536", 2, 1, true, 0, ""},
                      LengthCase{"4294967295", 4, 1, true, 1, ""},
                      LengthCase{"4294967296", 4, 2, true, 0, kInfo}, LengthCase{"abcd", 5, 4, false, 1, ""},
                      LengthCase{"abcde", 6, 4, false, 0, ""}, LengthCase{"abcde", 7, 4, false, 0, ""},
                      LengthCase{"anything at all", 10, 1, false, 1, ""}));

struct RangeCase {
    const char* text;
    uint32_t code;
    uint32_t length;
    const char* page;
    int valid;
    const char* output;
};

void PrintTo(const RangeCase& c, std::ostream* os) {
    *os << '"' << c.text << "\" code " << c.code;
}

class DecimalRange : public EngineTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(DecimalRange, Limits) {
    const RangeCase& c = GetParam();
    engineState().gFormatElementName = "E";
    engineState().gFormatPageName = c.page;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(validateDecimalValueRangeForFomatAttrib(c.text, c.code, c.length), c.valid) << c.text;
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.output);
}

constexpr const char* kRangeError = "\nERROR : Invalid content for element \"E\" in page \"P\".\n\n";

INSTANTIATE_TEST_SUITE_P(
    Values, DecimalRange,
    ::testing::Values(
        RangeCase{"65535", 2, 1, "P", 1, ""}, RangeCase{"65536", 2, 1, "P", 0, kRangeError},
        RangeCase{"65536", 2, 1, "", 0, "\nERROR : Invalid content for element \"E\".\n\n"},
        RangeCase{"4294967296", 4, 2, "P", 0,
                  "\nINFO  : Maximum value supported for Decimal format is 4294967295(i.e. "
                  "0XFFFFFFFF).\n\nERROR : Invalid content for element \"E\" in page \"P\".\n\n"},
        RangeCase{"99999999999999999999999", 4, 1, "P", 0,
                  "\nINFO  : Maximum value supported for Decimal format is 4294967295(i.e. "
                  "0XFFFFFFFF).\n\nERROR : Invalid content for element \"E\" in page \"P\".\n\n"},
        RangeCase{"7", 0, 3, "P", 1, ""}, RangeCase{"8", 0, 3, "P", 0, kRangeError},
        RangeCase{"255", 1, 1, "P", 1, ""}, RangeCase{"256", 1, 1, "P", 0, kRangeError},
        RangeCase{"12a", 4, 1, "P", 0, kRangeError}, RangeCase{"text", 5, 1, "P", 1, ""}));

} // namespace
