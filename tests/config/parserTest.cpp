// Parsing peppered documents into the page list: every failure with its text and status, page ids,
// the unit and general filters, the flat field list, and the fields read back from an image.
#include "testSupport.h"

#include "config/xmlRaii.h"
#include "core/zelkorInternal.h"

#include <gmock/gmock.h>

#include <map>

using namespace configtest;
using namespace pageengine;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

enum Filter { NoFilter, UnitFilter, GeneralFilter };

struct ErrorCase {
    const char* fixture;
    Filter filter;
    ZELKOR_STATUS status;
    const char* output;
    const char* logged; // engine log message, or null when nothing is logged
};

void PrintTo(const ErrorCase& c, std::ostream* os) {
    *os << c.fixture;
}

class ParseErrors : public EngineTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(ParseErrors, ReportEachFailureWithItsTextAndStatus) {
    const ErrorCase& c = GetParam();
    if (c.filter == UnitFilter)
        setUnitON();
    if (c.filter == GeneralFilter)
        setGeneralON();
    LogCapture log;
    ::testing::internal::CaptureStdout();
    ZELKOR_STATUS status = zelkor_ParseXmlFile(nullptr, fixture(c.fixture).c_str(), nullptr, nullptr);
    std::string output = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(output, c.output);
    std::string logged = log.text();
    if (c.logged != nullptr)
        EXPECT_THAT(logged,
                    HasSubstr("ERROR : zelkor_hal_GEN3::zelkor_hal_xml2bin : " + std::string(c.logged)));
    else
        EXPECT_EQ(logged, "");
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, ParseErrors,
    ::testing::Values(
        ErrorCase{"errors/no_schema_location.xml", NoFilter, 36,
                  "\n3: element MANUFACTURING: Schemas validity error : element MANUFACTURING: "
                  "'xsi:noNamespaceSchemaLocation' is required but missing\n",
                  nullptr},
        ErrorCase{"errors/no_page.xml", NoFilter, 40,
                  "\nERROR : XML does not contain any page.\nInvalid XML file.\n", "Invalid XML file.\n"},
        ErrorCase{"errors/page_without_id.xml", NoFilter, 37,
                  "\nERROR : Page ID is missing for page \"Nameless Id\".\n\nThe XML file failed Schema "
                  "validation.\n",
                  "Invalid Page Id in XML File.\n"},
        ErrorCase{
            "errors/invalid_page_id.xml", NoFilter, 40,
            "\nERROR : Invalid Page ID for page \"Bad Id\".\n\nThe XML file failed Schema validation.\n",
            nullptr},
        ErrorCase{"errors/duplicate_page_id.xml", NoFilter, 38,
                  "\nERROR : Page ID \"FF10\" is used for multiple pages.\n\nThe XML file failed Schema "
                  "validation.\n",
                  "Duplicate Page Id in XML File.\n"},
        ErrorCase{"errors/bit_top_level.xml", NoFilter, 40,
                  "\nERROR : Invalid element \"flag\" in page \"Loose Bit\".\nERROR : Invalid XML file.\n",
                  nullptr},
        ErrorCase{"errors/hex_element.xml", NoFilter, 40,
                  "\nERROR : Invalid element \"Hex\" in page \"Odd Element\".\n\nERROR : Invalid XML file.\n",
                  nullptr},
        ErrorCase{"errors/char_too_long.xml", NoFilter, 40,
                  "\nERROR : Invalid content for element \"label\" in page \"Names\".\n\n\nERROR : Invalid "
                  "XML file.\n",
                  nullptr},
        ErrorCase{"errors/number_content.xml", NoFilter, 40,
                  "\nERROR : Invalid content \"0x12\" in page \"Numbers\".\n\nERROR : Invalid XML file.\n",
                  nullptr},
        ErrorCase{"errors/bad_address.xml", NoFilter, 40,
                  "\nERROR : Invalid content for element \"ip\" in page \"Network\".\n\n\nERROR : Invalid "
                  "XML file.\n",
                  nullptr},
        ErrorCase{"errors/bad_length.xml", NoFilter, 40,
                  "\nERROR : Invalid content for element \"b\" in page \"Odd Length\".\n\n\nERROR : Invalid "
                  "XML file.\n",
                  nullptr},
        ErrorCase{
            "errors/offset_overlap.xml", NoFilter, 39,
            "\nERROR : Offset validation failed for element \"second\" in parent element \"parent\".\n\n"
            "The XML file failed Schema validation.\n",
            nullptr},
        ErrorCase{"errors/page_too_long.xml", NoFilter, 40,
                  "\nERROR : Page \"Big\" is too long: a page holds at most 65528 data bytes.\n\n"
                  "\nERROR : Invalid XML file.\n",
                  "Page too long in XML File.\n"},
        ErrorCase{"errors/huge_length.xml", NoFilter, 40,
                  "\nERROR : Page \"Huge\" is too long: a page holds at most 65528 data bytes.\n\n"
                  "\nERROR : Invalid XML file.\n",
                  "Page too long in XML File.\n"},
        ErrorCase{"general_only.xml", UnitFilter, 54, "Xml does not contain any unit page...\n",
                  "Unit page is not available in XML File.\n"},
        ErrorCase{"unit_only.xml", GeneralFilter, 55, "Xml does not contain any Non-unit page...\n",
                  "Only Unit pages are available in XML File.\n"},
        // A stop inside the page loop still meets the filter check, which then decides the status.
        ErrorCase{"errors/invalid_page_id.xml", UnitFilter, 54,
                  "\nERROR : Invalid Page ID for page \"Bad Id\".\n\nThe XML file failed Schema validation.\n"
                  "Xml does not contain any unit page...\n",
                  "Unit page is not available in XML File.\n"},
        ErrorCase{"malformed/unclosed.xml", NoFilter, 41, "", "LIBXML2 failed to parse the XML file "}),
    [](const ::testing::TestParamInfo<ErrorCase>& info) {
        std::string name = std::to_string(info.index) + "_" + info.param.fixture;
        for (char& c : name)
            if (!std::isalnum(static_cast<unsigned char>(c)))
                c = '_';
        return name;
    });

class Parser : public EngineTest {};

TEST_F(Parser, MissingFileNameAndMissingFile) {
    LogCapture log;
    EXPECT_EQ(zelkor_ParseXmlFile(nullptr, nullptr, nullptr, nullptr), 5u);
    std::string missing = fixture("no_such_file.xml");
    EXPECT_EQ(zelkor_ParseXmlFile(nullptr, missing.c_str(), nullptr, nullptr), 41u);
    std::string logged = log.text();
    EXPECT_THAT(logged, HasSubstr(engineLogLine("File Name missing.\n")));
    EXPECT_THAT(logged, HasSubstr(engineLogLine("LIBXML2 failed to parse the XML file " + missing + ".\n")));
}

TEST_F(Parser, HandleIsRecordedWhereTheCoreKeepsIt) {
    // The core records the handle of zelkor_xml2bin and zelkor_bin2xml; the engine sees that same record.
    ZELKOR_INSTANCE fromCore{};
    gPtrZelkorHandleXml = &fromCore;
    EXPECT_EQ(xmlHandle(), &fromCore);
    // A conversion records its own handle there too.
    ZELKOR_INSTANCE converting{};
    EXPECT_EQ(zelkor_ParseXmlFile(&converting, fixture("basic.xml").c_str(), nullptr, nullptr), 0u);
    EXPECT_EQ(gPtrZelkorHandleXml, &converting);
    EXPECT_EQ(xmlHandle(), &converting);
    gPtrZelkorHandleXml = nullptr;
}

TEST_F(Parser, RootCheckIsSkippedWhenTheSwitchIsGiven) {
    Conversion result = convertFixture("errors/no_schema_location.xml", "some.xsd");
    EXPECT_EQ(result.parseStatus, 0u);
    EXPECT_EQ(engineState().gXMLPagelist.size(), 1u);
}

std::vector<uint16_t> pageIds() {
    std::vector<uint16_t> ids;
    for (const PAGE_RECORD& page : engineState().gXMLPagelist)
        ids.push_back(page.pageId);
    return ids;
}

TEST_F(Parser, PageIdsAndPagesWithoutFields) {
    Conversion result = convertFixture("ids.xml");
    ASSERT_EQ(result.parseStatus, 0u) << result.output;
    // "0xfe02", "12345" (low 16 bits), the empty group page, "ff05"; the text-only page gives nothing.
    EXPECT_THAT(pageIds(), ElementsAre(0xFE02, 0x2345, 0x0004, 0xFF05));
    const PAGE_RECORD& emptyGroup = engineState().gXMLPagelist[2];
    EXPECT_TRUE(emptyGroup.nodes.empty());
    EXPECT_EQ(emptyGroup.length, 4u);
    EXPECT_EQ(emptyGroup.checksum, 0x08);
    // LENGTH="0" is one element.
    const PAGE_RECORD& lower = engineState().gXMLPagelist[3];
    EXPECT_EQ(lower.nodes[0].count, 1u);
    EXPECT_EQ(lower.length, 8u);
    walkImageIndependently(result.image);
}

TEST_F(Parser, UnitFilterKeepsUnitPages) {
    setUnitON();
    ASSERT_EQ(convertFixture("units.xml").parseStatus, 0u);
    EXPECT_THAT(pageIds(), ElementsAre(0x0001));
}

TEST_F(Parser, GeneralFilterKeepsTheOtherPages) {
    setGeneralON();
    ASSERT_EQ(convertFixture("units.xml").parseStatus, 0u);
    EXPECT_THAT(pageIds(), ElementsAre(0x0002));
}

TEST_F(Parser, ConversionsFollowEachOtherInOneProcess) {
    ASSERT_EQ(convertFixture("basic.xml").parseStatus, 0u);
    ASSERT_EQ(convertFixture("units.xml").parseStatus, 0u);
    EXPECT_THAT(pageIds(), ElementsAre(0x0001, 0x0002));
    // A failed parse leaves nothing that the next one would count as a duplicate.
    ASSERT_EQ(convertFixture("errors/duplicate_page_id.xml").parseStatus, 38u);
    Conversion again = convertFixture("basic.xml");
    ASSERT_EQ(again.parseStatus, 0u);
    EXPECT_EQ(again.image.size(), 92u);
}

TEST_F(Parser, FieldListIsFlatInDocumentOrder) {
    ASSERT_EQ(convertFixture("basic.xml").parseStatus, 0u);
    const PAGE_RECORD& page = engineState().gXMLPagelist[1];
    EXPECT_EQ(page.name, "Every Type");
    EXPECT_EQ(page.length, 52u);
    struct Expected {
        const char* name;
        uint32_t level;
        bool topLevel;
        bool container;
    };
    const std::vector<Expected> expected = {
        {"words", 0, true, false},   {"dword", 0, true, false},  {"serial", 0, true, false},
        {"address", 0, true, false}, {"spaced", 0, true, false}, {"zeroed", 0, true, false},
        {"wide", 0, true, false},    {"flags", 0, true, true},   {"low", 1, false, false},
        {"high", 1, false, false},   {"pair", 0, true, true},    {"lo", 1, false, false},
        {"hi", 1, false, false},     {"bits", 0, true, true},    {"b0", 1, false, false},
        {"b1", 1, false, false},     {"array", 0, true, false}};
    ASSERT_EQ(page.nodes.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(page.nodes[i].name, expected[i].name);
        EXPECT_EQ(page.nodes[i].level, expected[i].level) << expected[i].name;
        EXPECT_EQ(page.nodes[i].topLevel != 0, expected[i].topLevel) << expected[i].name;
        EXPECT_EQ(page.nodes[i].hasChildren != 0, expected[i].container) << expected[i].name;
    }
    const PAGE_RECORD& grouped = engineState().gXMLPagelist[2];
    ASSERT_EQ(grouped.nodes.size(), 2u);
    EXPECT_TRUE(grouped.nodes[0].topLevel && grouped.nodes[1].topLevel);
}

TEST_F(Parser, RootAttributes) {
    XmlDocPtr basic(xmlReadFile(fixture("basic.xml").c_str(), nullptr, 0));
    ASSERT_TRUE(basic);
    EXPECT_EQ(getSchemaNameFromXmlFile(basic.get()), "peppered.xsd");
    EXPECT_EQ(getSchemaVersionFromXmlFile(basic.get()), "1.0");
    EXPECT_EQ(getProductNameFromXmlFile(basic.get()), "Quenza");

    XmlDocPtr bare(xmlReadFile(fixture("errors/bare_root.xml").c_str(), nullptr, 0));
    ASSERT_TRUE(bare);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(getSchemaNameFromXmlFile(bare.get()), std::nullopt);
    EXPECT_EQ(getSchemaVersionFromXmlFile(bare.get()), std::nullopt);
    EXPECT_EQ(getProductNameFromXmlFile(bare.get()), std::nullopt);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "\n3: element MANUFACTURING: Schemas validity error : element MANUFACTURING: "
              "'xsi:noNamespaceSchemaLocation' is required but missing\n"
              "\n3: element MANUFACTURING: Schemas validity error : element MANUFACTURING: "
              "'SchemaVersion' is required but missing\n"
              "\n3: element MANUFACTURING: Schemas validity error : element MANUFACTURING: "
              "'Product' is required but missing\n");
}

TEST_F(Parser, FindXmlNodeGivesTheFirstMatch) {
    XmlDocPtr doc(xmlReadFile(fixture("units.xml").c_str(), nullptr, 0));
    ASSERT_TRUE(doc);
    xmlNode* page = findXmlNode(doc.get(), "//PAGE");
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(xmlProp(page, "ID"), "0001");
    EXPECT_EQ(findXmlNode(doc.get(), "//CONFIGSET"), nullptr);
    EXPECT_EQ(findXmlNode(nullptr, "//PAGE"), nullptr);
}

TEST(NodeList, AddNodeCopiesTheNodeAndItsData) {
    std::vector<PAGE_DATA_NODE> list;
    PAGE_DATA_NODE node;
    node.name = "n";
    node.data = {1, 2};
    EXPECT_EQ(addNodeToElementList(&list, &node), 0u);
    node.data[0] = 9;
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].data, (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(addNodeToElementList(nullptr, &node), 5u);
    EXPECT_EQ(addNodeToElementList(&list, nullptr), 5u);
}

// Texts of the leaf fields below a node, by NAME.
void collectTexts(xmlNode* node, std::map<std::string, std::string>& texts) {
    for (xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (!isElement(child))
            continue;
        if (hasElementChild(child))
            collectTexts(child, texts);
        else if (auto name = xmlProp(child, "NAME"))
            texts[*name] = xmlText(child);
    }
}

void clearLeafTexts(xmlNode* node) {
    for (xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (!isElement(child))
            continue;
        if (hasElementChild(child) || nameIs(child, "CONFIGSET"))
            clearLeafTexts(child);
        else
            xmlNodeSetContent(child, xmlStr(""));
    }
}

xmlNode* pageElementWithId(xmlDoc* doc, uint16_t id) {
    for (xmlNode* page = findXmlNode(doc, "//PAGE"); page != nullptr; page = page->next) {
        uint32_t value = 0;
        if (isElement(page) && convertToHex(xmlProp(page, "ID").value_or("").c_str(), &value) == 0 &&
            (value & 0xFFFF) == id)
            return page;
    }
    return nullptr;
}

TEST_F(Parser, FieldsAreReadBackFromTheImage) {
    Conversion written = convertFixture("basic.xml");
    ASSERT_EQ(written.parseStatus, 0u);
    XmlDocPtr doc(xmlReadFile(fixture("basic.xml").c_str(), nullptr, 0));
    ASSERT_TRUE(doc);
    clearLeafTexts(xmlDocGetRootElement(doc.get()));

    PageWalkResult walk = walkRegionImage(written.image, [&](const MfgPage& page) {
        xmlNode* element = pageElementWithId(doc.get(), page.header.pageId);
        EXPECT_NE(element, nullptr);
        engineState().gPageName = xmlProp(element, "NAME").value_or("");
        PageReader reader(page.data);
        ZELKOR_STATUS status = readBinaryIntoPepperedPage(element->children, reader);
        EXPECT_EQ(reader.position(), page.data.size() - (page.header.pageId == 0xFF01 ? 1 : 0));
        return status;
    });
    ASSERT_EQ(walk.end, PageWalkEnd::Complete);

    std::map<std::string, std::string> texts;
    collectTexts(xmlDocGetRootElement(doc.get()), texts);
    const std::map<std::string, std::string> expected = {{"first", "030201"},
                                                         {"words", "ABCD1234"},
                                                         {"dword", "00000001"},
                                                         {"serial", "001A2B3C"},
                                                         {"address", "192.168.1.10"},
                                                         {"spaced", "abc     "},
                                                         {"zeroed", "abc"},
                                                         {"wide", "ab"},
                                                         {"low", "3"},
                                                         {"high", "A"},
                                                         {"lo", "11"},
                                                         {"hi", "22"},
                                                         {"b0", "1"},
                                                         {"b1", "5"},
                                                         {"array", "0102"},
                                                         {"upper", "00000001"},
                                                         {"lower", "00000002"}};
    EXPECT_EQ(texts, expected);
}

TEST_F(Parser, ReadingStopsAtTheEndOfAShortPage) {
    Conversion written = convertFixture("basic.xml");
    ASSERT_EQ(written.parseStatus, 0u);
    XmlDocPtr doc(xmlReadFile(fixture("basic.xml").c_str(), nullptr, 0));
    xmlNode* page = pageElementWithId(doc.get(), 0x0010);
    ASSERT_NE(page, nullptr);
    // The page's first 20 data bytes end inside the CHAR field "spaced".
    std::vector<uint8_t> data(written.image.begin() + 28, written.image.begin() + 48);
    LogCapture log;
    PageReader reader(data);
    EXPECT_EQ(readBinaryIntoPepperedPage(page->children, reader), 1u);
    EXPECT_TRUE(reader.overrun());
    EXPECT_THAT(log.text(), HasSubstr(engineLogLine("Page data ends inside field \"spaced\".\n", "ERROR",
                                                    "zelkor_hal_bin2xml")));
}

TEST_F(Parser, UserElementKeepsItsTextForReservedFields) {
    XmlDocPtr doc(xmlNewDoc(xmlStr("1.0")));
    xmlNode* user = xmlNewDocNode(doc.get(), nullptr, xmlStr("reservedBytes"), xmlStr("mine"));
    xmlDocSetRootElement(doc.get(), user);
    const std::vector<uint8_t> data = {0x12, 0x34, 'a', '&', '<'};
    PageReader reader(data);
    PAGE_DATA_NODE reserved;
    reserved.type = FieldType::Byte;
    reserved.width = 1;
    reserved.name = "Reserved Bytes";
    reserved.count = 2;
    EXPECT_EQ(populateDataInXmlwithBinaryData(reserved, user, reader), 0u);
    EXPECT_EQ(xmlText(user), "mine");
    EXPECT_EQ(reader.position(), 2u);
    // Text read back is stored as text, characters XML reserves included.
    PAGE_DATA_NODE value;
    value.type = FieldType::Char;
    value.width = 1;
    value.writeMode = WRITE_TEXT_SPACE_PADDED;
    value.name = "Label";
    value.count = 3;
    EXPECT_EQ(populateDataInXmlwithBinaryData(value, user, reader), 0u);
    EXPECT_EQ(xmlText(user), "a&<");
}

} // namespace
