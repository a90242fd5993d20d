// Helpers for the tests of the XML conversion chain: a scratch directory, files as text, xmllint as the
// independent judge of every document written, and the two conversion directions end to end.
#ifndef TESTS_CONFIG_CHAIN_SUPPORT_H
#define TESTS_CONFIG_CHAIN_SUPPORT_H

#include "config/binaryToXml.h"
#include "config/engineState.h"
#include "config/mfgRegion.h"
#include "config/xmlBuilders.h"
#include "config/xmlParser.h"
#include "config/xmlRaii.h"
#include "testSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace configtest {

class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern = ::testing::TempDir() + "config_chain_XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        path_ = mkdtemp(name.data()) != nullptr ? name.data() : ::testing::TempDir();
    }
    ~ScratchDir() {
        if (std::getenv("CONFIG_KEEP_SCRATCH") == nullptr)
            std::filesystem::remove_all(path_);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

inline std::vector<uint8_t> readBytes(const std::string& path) {
    std::string text = readText(path);
    return std::vector<uint8_t>(text.begin(), text.end());
}

// xmllint's verdict: well-formed, and valid against the schema when one is given.
inline bool xmllintAccepts(const std::string& document, const std::string& schema = "") {
    std::string command = "xmllint --noout ";
    if (!schema.empty())
        command += "--schema '" + schema + "' ";
    command += "'" + document + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

inline pageengine::XmlDocPtr parseFile(const std::string& path) {
    return pageengine::XmlDocPtr(xmlReadFile(path.c_str(), nullptr, XML_PARSE_NONET | XML_PARSE_NOBLANKS));
}

// A document written in one canonical form (no blanks, no formatting) for comparing two documents.
inline std::string canonical(const std::string& path) {
    pageengine::XmlDocPtr document = parseFile(path);
    if (!document)
        return "<unparsable " + path + ">";
    xmlChar* text = nullptr;
    int size = 0;
    xmlDocDumpFormatMemory(document.get(), &text, &size, 0);
    std::string result(reinterpret_cast<const char*>(text), static_cast<std::size_t>(size));
    xmlFree(text);
    return result;
}

// Serialised element of the first node an XPath selects in a file, or "" when none.
inline std::string selectText(const std::string& path, const std::string& xpath) {
    pageengine::XmlDocPtr document = parseFile(path);
    xmlNode* node = document ? pageengine::findXmlNode(document.get(), xpath.c_str()) : nullptr;
    return node != nullptr ? pageengine::xmlText(node) : std::string("<none>");
}

// A schema of the test family: global types, then MANUFACTURING with an annotation, its pages in a
// sequence and the root's attribute declarations.
inline std::string regionSchema(const std::string& pages, const std::string& rootAttributes = "",
                                const std::string& types = "") {
    return "<?xml version=\"1.0\"?>\n<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">\n" + types +
           "<xs:element name=\"MANUFACTURING\"><xs:annotation><xs:documentation>test</xs:documentation>"
           "</xs:annotation><xs:complexType><xs:sequence>" +
           pages + "</xs:sequence>" + rootAttributes + "</xs:complexType></xs:element>\n</xs:schema>\n";
}

// A user document holding the given pages.
inline std::string userDocument(const std::string& pages, const std::string& schema = "region.xsd") {
    return "<?xml version=\"1.0\"?>\n<MANUFACTURING xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xsi:noNamespaceSchemaLocation=\"" +
           schema + "\" SchemaVersion=\"03\" Product=\"Quenza\">" + pages + "</MANUFACTURING>\n";
}

// The root's children and attributes of a document, in canonical form without the XML declaration.
inline std::string body(const std::string& path) {
    std::string text = canonical(path);
    std::size_t start = text.find("?>");
    text = start == std::string::npos ? text : text.substr(start + 2);
    while (!text.empty() && (text.front() == '\n'))
        text.erase(0, 1);
    while (!text.empty() && (text.back() == '\n'))
        text.pop_back();
    return text;
}

inline std::time_t fixedClock() {
    return 1700000000;
}

// Peppered document to image file; both statuses must be 0 for the image to be written.
inline ZELKOR_STATUS pepperedToImage(const std::string& peppered, const std::string& image) {
    ZELKOR_STATUS status = pageengine::zelkor_ParseXmlFile(nullptr, peppered.c_str(), nullptr, nullptr);
    if (status != 0)
        return status;
    FILE* file = std::fopen(image.c_str(), "wb");
    if (file == nullptr)
        return 1;
    status = pageengine::zelkor_CreateBinaryFile(nullptr, file);
    std::fclose(file);
    return status;
}

inline ZELKOR_STATUS imageToXml(const std::string& user, const std::string& output, const std::string& image,
                                const std::string& peppered) {
    FILE* file = std::fopen(image.c_str(), "rb");
    if (file == nullptr)
        return 1;
    ZELKOR_STATUS status =
        pageengine::zelkor_CreateOutputXMLFile(nullptr, user.c_str(), output.c_str(), file, peppered.c_str());
    std::fclose(file);
    return status;
}

} // namespace configtest

#endif
