// Conversion chain timings on generated regions of 10, 100, 1,000 and 4,000 pages (8 DWORDs, an IPAddress, a
// bit container and four lanes each: a field repeated four times on the dynamic road, four fields on the
// static road, whose pages have one place per declaration), static and dynamic roads, XML to binary and
// back, each against xmllint --noout --schema on the same document in the same run. The dynamic road
// compiles the XSD once per conversion, as the hardware modules do. Prints one line per size and road, the
// ratio t(1,000)/t(100), which is about 10 when the chain grows linearly, and the time per page at 1,000
// and 4,000 pages beside xmllint's. Each figure is the fastest of three runs.
#include "config/binaryToXml.h"
#include "config/engineState.h"
#include "config/mfgRegion.h"
#include "config/stamps.h"
#include "config/xmlBuilders.h"
#include "config/xmlParser.h"
#include "config/xsdParser.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

// printf-style text; plain string sums of literals and numbers trip GCC 12's -Wrestrict at -O3.
std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    char text[256];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

std::string field(const std::string& name, const std::string& type, const std::string& length,
                  const std::string& extra = "") {
    return "<xs:element name=\"" + name + "\"" + extra +
           "><xs:complexType><xs:simpleContent><xs:extension base=\"xs:string\">"
           "<xs:attribute name=\"TYPE\" type=\"xs:string\" fixed=\"" + type +
           "\"/><xs:attribute name=\"LENGTH\" type=\"xs:string\" fixed=\"" + length +
           "\"/><xs:attribute name=\"INDEX\" type=\"xs:string\"/></xs:extension></xs:simpleContent>"
           "</xs:complexType></xs:element>";
}

// One page type shared by all pages; pages are required (optional ones make libxml2's schema compiler slow).
std::string schema(int pages, bool dynamic) {
    std::string fields;
    for (int i = 0; i < 8; ++i)
        fields += field(format("d%d", i), "DWORD", "1", " default=\"0\"");
    fields += field("ip", "IPAddress", "4", " default=\"0.0.0.0\"");
    fields += "<xs:element name=\"bits\"><xs:complexType><xs:sequence>" + field("lo", "BIT", "4", " default=\"0\"") +
              field("hi", "BIT", "4", " default=\"0\"") +
              "</xs:sequence><xs:attribute name=\"TYPE\" type=\"xs:string\" fixed=\"DWORD\"/>"
              "<xs:attribute name=\"LENGTH\" type=\"xs:string\" fixed=\"1\"/></xs:complexType></xs:element>";
    if (dynamic)
        fields += field("lane", "BYTE", "1", " default=\"00\" maxOccurs=\"4\"");
    else
        for (int l = 0; l < 4; ++l)
            fields += field(format("lane%d", l), "BYTE", "1", " default=\"00\"");
    std::string text = "<?xml version=\"1.0\"?><xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">"
                       "<xs:complexType name=\"pageType\"><xs:sequence>" +
                       fields +
                       "</xs:sequence><xs:attribute name=\"TYPE\" type=\"xs:string\" fixed=\"PAGE\"/>"
                       "<xs:attribute name=\"ID\" type=\"xs:string\" default=\"1\"/></xs:complexType>"
                       "<xs:element name=\"MANUFACTURING\"><xs:annotation><xs:documentation>bench</xs:documentation>"
                       "</xs:annotation><xs:complexType><xs:sequence>";
    for (int p = 0; p < pages; ++p)
        text += format("<xs:element name=\"page%d\" type=\"pageType\"/>", p);
    return text + "</xs:sequence><xs:attribute name=\"SchemaVersion\" type=\"xs:string\" fixed=\"03\"/>"
                  "<xs:attribute name=\"Product\" type=\"xs:string\" fixed=\"Quenza\"/></xs:complexType>"
                  "</xs:element></xs:schema>";
}

std::string user(int pages, bool dynamic, const std::string& xsd) {
    std::string text = "<?xml version=\"1.0\"?><MANUFACTURING xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                       "xsi:noNamespaceSchemaLocation=\"" + xsd + "\" SchemaVersion=\"03\" Product=\"Quenza\">";
    char id[16];
    for (int p = 0; p < pages; ++p) {
        std::snprintf(id, sizeof id, "%X", 0x1000 + p);
        text += format("<page%d ID=\"%s\">", p, id);
        for (int i = 0; i < 8; ++i)
            text += format("<d%d>%d</d%d>", i, 10000000 + p, i);
        text += "<ip>10.0.0.1</ip><bits><lo>3</lo><hi>A</hi></bits>";
        for (int l = 0; l < 4; ++l)
            text += dynamic ? format("<lane INDEX=\"%d\">0%d</lane>", l, l) : format("<lane%d>0%d</lane%d>", l, l, l);
        text += format("</page%d>", p);
    }
    return text + "</MANUFACTURING>";
}

void write(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool check(ZELKOR_STATUS status, const char* step) {
    if (status != 0)
        std::fprintf(stderr, "%s failed with %u\n", step, status);
    return status == 0;
}

// The peppered document of one road.
bool peppered(bool dynamic, const std::string& dir, const std::string& xsd, const std::string& userPath,
              const std::string& out, uint8_t recordPages) {
    xmlDoc* document = xmlReadFile(userPath.c_str(), nullptr, XML_PARSE_NONET);
    if (document == nullptr)
        return false;
    xmlNode* root = xmlDocGetRootElement(document);
    pageengine::ConversionSchema compiled(xsd);
    bool ok = check(pageengine::processUseAttrib(root, document, nullptr, compiled), "USE") &&
              check(pageengine::processFormatDecAttrib(root, document, nullptr, compiled), "FORMAT");
    if (ok && !dynamic) {
        ok = check(pageengine::createPepperedXml(xsd.c_str(), document, out.c_str(), recordPages), "static");
    } else if (ok) {
        std::string defaults = dir + "/default.xml", complete = dir + "/complete.xml";
        ok = check(pageengine::xsdCreateDefaultXml(compiled, defaults.c_str()), "default") &&
             check(pageengine::comCreateCompleteXml(defaults.c_str(), document, complete.c_str(), nullptr), "complete") &&
             check(pageengine::defCreatePepperedXml(compiled, complete.c_str(), out.c_str(), recordPages), "dynamic");
    }
    xmlFreeDoc(document);
    return ok;
}

struct Timing {
    double xml2bin;
    double bin2xml;
    double xmllint;
    double schema; // libxml2 compiling the XSD once, as each road does once per conversion
};

bool run(int pages, bool dynamic, const std::string& dir, Timing& timing) {
    std::string xsd = dir + "/region.xsd", userPath = dir + "/user.xml", pepperedPath = dir + "/peppered.xml";
    std::string image = dir + "/image.bin", output = dir + "/out.xml";
    write(xsd, schema(pages, dynamic));
    write(userPath, user(pages, dynamic, xsd));

    auto start = Clock::now();
    {
        std::unique_ptr<pageengine::XsdSchema> compiled;
        pageengine::XsdSchema::load(xsd, compiled);
    }
    timing.schema = seconds(start);

    start = Clock::now();
    std::string command = "xmllint --noout --schema '" + xsd + "' '" + userPath + "' 2>/dev/null";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "xmllint refused the generated document\n");
    timing.xmllint = seconds(start);

    start = Clock::now();
    if (!peppered(dynamic, dir, xsd, userPath, pepperedPath, 0) ||
        !check(pageengine::zelkor_ParseXmlFile(nullptr, pepperedPath.c_str(), nullptr, nullptr), "parse"))
        return false;
    FILE* file = std::fopen(image.c_str(), "wb");
    bool written = check(pageengine::zelkor_CreateBinaryFile(nullptr, file), "binary");
    std::fclose(file);
    timing.xml2bin = seconds(start);
    if (!written)
        return false;

    start = Clock::now();
    if (!peppered(dynamic, dir, xsd, userPath, pepperedPath, 1))
        return false;
    file = std::fopen(image.c_str(), "rb");
    bool back = check(pageengine::zelkor_CreateOutputXMLFile(nullptr, userPath.c_str(), output.c_str(), file,
                                                              pepperedPath.c_str()),
                      "bin2xml");
    std::fclose(file);
    timing.bin2xml = seconds(start);
    return back;
}

} // namespace

int main() {
    std::string dir = (std::filesystem::temp_directory_path() / "config_bench_XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr)
        return 1;
    const int sizes[] = {10, 100, 1000, 4000};
    std::map<std::pair<bool, int>, Timing> timings;
    std::printf("%-8s %6s %12s %12s %12s %10s %10s %10s\n", "road", "pages", "xml2bin s", "bin2xml s", "xmllint s",
                "xml2bin/x", "bin2xml/x", "schema s");
    for (bool dynamic : {true, false}) {
        for (int pages : sizes) {
            // The fastest of three runs: the machine is shared, and the slower runs only measure the others.
            Timing timing{1e9, 1e9, 1e9, 1e9};
            for (int repeat = 0; repeat < 3; ++repeat) {
                Timing once{};
                if (!run(pages, dynamic, dir, once)) {
                    std::filesystem::remove_all(dir);
                    return 1;
                }
                timing = {std::min(timing.xml2bin, once.xml2bin), std::min(timing.bin2xml, once.bin2xml),
                          std::min(timing.xmllint, once.xmllint), std::min(timing.schema, once.schema)};
            }
            timings[{dynamic, pages}] = timing;
            std::printf("%-8s %6d %12.4f %12.4f %12.4f %10.2f %10.2f %10.4f\n", dynamic ? "dynamic" : "static",
                        pages, timing.xml2bin, timing.bin2xml, timing.xmllint, timing.xml2bin / timing.xmllint,
                        timing.bin2xml / timing.xmllint, timing.schema);
        }
        const Timing& large = timings[{dynamic, 1000}];
        const Timing& medium = timings[{dynamic, 100}];
        std::printf("%-8s t(1000)/t(100): xml2bin %.1f, bin2xml %.1f\n", dynamic ? "dynamic" : "static",
                    large.xml2bin / medium.xml2bin, large.bin2xml / medium.bin2xml);
        for (int pages : {1000, 4000}) {
            const Timing& t = timings[{dynamic, pages}];
            std::printf("%-8s per page at %d pages: xml2bin %.3f ms, bin2xml %.3f ms, xmllint --schema %.3f ms, "
                        "schema compile %.3f ms\n",
                        dynamic ? "dynamic" : "static", pages, 1e3 * t.xml2bin / pages, 1e3 * t.bin2xml / pages,
                        1e3 * t.xmllint / pages, 1e3 * t.schema / pages);
        }
    }
    std::filesystem::remove_all(dir);
    return 0;
}
