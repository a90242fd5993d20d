// The hardware modules' XML conversions through the library on generated documents of 10, 100 and 1,000
// pages, for Ostrel (direct peppered build) and Quenza (default, complete, peppered): xml2bin and bin2xml
// wall time against xmllint --noout --schema on the same document in the same run, and the ratio
// t(1,000)/t(100), about 10 when a conversion grows linearly. Each figure is the fastest of three runs.
#include <zelkor.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <unistd.h>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* pattern, ...) {
    char text[256];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

std::string field(const std::string& name, const std::string& type, const std::string& length) {
    return "<xs:element name=\"" + name + "\" default=\"0\" minOccurs=\"0\"><xs:complexType><xs:simpleContent>" +
           "<xs:extension base=\"" + type + "\"><xs:attribute name=\"TYPE\" type=\"xs:string\" fixed=\"" + type +
           "\"/><xs:attribute name=\"LENGTH\" type=\"xs:string\" fixed=\"" + length +
           "\"/></xs:extension></xs:simpleContent></xs:complexType></xs:element>";
}

// Every page declared in place with its own id and required (optional ones make libxml2's schema compiler
// slow); the user's document gives every field.
std::string schema(int pages, const std::string& product) {
    std::string fields;
    for (int i = 0; i < 8; ++i)
        fields += field(format("d%d", i), "DWORD", "1");
    std::string text = "<?xml version=\"1.0\"?>\n<xs:schema xmlns:xs=\"http://www.w3.org/2001/XMLSchema\">"
                       "<xs:simpleType name=\"DWORD\"><xs:restriction base=\"xs:string\"/></xs:simpleType>"
                       "<xs:element name=\"MANUFACTURING\"><xs:annotation><xs:documentation>bench"
                       "</xs:documentation></xs:annotation><xs:complexType><xs:sequence>";
    for (int p = 0; p < pages; ++p)
        text += format("<xs:element name=\"page%d\"><xs:complexType><xs:sequence>", p) + fields +
                format("</xs:sequence><xs:attribute name=\"TYPE\" type=\"xs:string\" fixed=\"PAGE\"/>"
                       "<xs:attribute name=\"ID\" type=\"xs:string\" default=\"%04X\"/>"
                       "<xs:attribute name=\"UNIT\" type=\"xs:string\" default=\"FALSE\"/>"
                       "</xs:complexType></xs:element>",
                       0x1000 + p);
    text += "</xs:sequence><xs:attribute name=\"SchemaVersion\" type=\"xs:string\"/>"
            "<xs:attribute name=\"Product\" type=\"xs:string\" fixed=\"" +
            product + "\"/></xs:complexType></xs:element></xs:schema>\n";
    return text;
}

std::string document(int pages, const std::string& product, const std::string& xsd) {
    std::string text = "<?xml version=\"1.0\"?>\n<MANUFACTURING xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                       "xsi:noNamespaceSchemaLocation=\"" +
                       xsd + "\" SchemaVersion=\"01\" Product=\"" + product + "\">\n";
    for (int p = 0; p < pages; ++p) {
        text += format("<page%d>", p);
        for (int i = 0; i < 8; ++i)
            text += format("<d%d>%08X</d%d>", i, p * 8 + i, i);
        text += format("</page%d>\n", p);
    }
    return text + "</MANUFACTURING>\n";
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

template <typename F> double fastestOfThree(F run) {
    double best = 1e30;
    for (int i = 0; i < 3; ++i) {
        auto start = Clock::now();
        run();
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return best;
}

} // namespace

int main() {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / format("xml_bench_%d", static_cast<int>(getpid()));
    fs::create_directories(dir);
    fs::current_path(dir);
    struct Family {
        const char* product;
        uint32_t openCode;
    };
    std::map<std::string, std::map<int, double>> times;
    for (const Family& family : {Family{"Ostrel", ZELKOR_INTERFACE_OFFLINE_OSTREL},
                                 Family{"Quenza", ZELKOR_INTERFACE_OFFLINE_QUENZA}}) {
        for (int pages : {10, 100, 1000}) {
            const std::string xsd = format("%s%d.xsd", family.product, pages);
            const std::string xml = format("%s%d.xml", family.product, pages);
            writeFile(xsd, schema(pages, family.product));
            writeFile(xml, document(pages, family.product, xsd));
            std::snprintf(gSharedVars.supportPath, sizeof gSharedVars.supportPath, "%s", xsd.c_str());
            ZELKOR_INSTANCE* handle = nullptr;
            if (zelkor_open(family.openCode, 0, &handle, nullptr, nullptr) != 0)
                return 1;
            ZELKOR_STATUS status = 0;
            const double toBinary = fastestOfThree([&] {
                FILE* out = std::fopen("image.bin", "wb");
                status |= zelkor_xml2bin(handle, xml.c_str(), xsd.c_str(), out, nullptr);
                std::fclose(out);
            });
            const double back = fastestOfThree([&] {
                FILE* in = std::fopen("image.bin", "rb");
                status |= zelkor_bin2xml(handle, xml.c_str(), "back.xml", in);
                std::fclose(in);
            });
            const std::string lint = "xmllint --noout --schema " + xsd + " " + xml + " >/dev/null 2>&1";
            const double xmllint = fastestOfThree([&] { status |= std::system(lint.c_str()) != 0 ? 1u : 0u; });
            zelkor_close(handle);
            if (status != 0) {
                std::printf("%s %d pages: a conversion failed\n", family.product, pages);
                return 1;
            }
            std::printf("%-6s %5d pages: xml2bin %9.1f ms (%6.1f x xmllint)  bin2xml %9.1f ms (%6.1f x xmllint)  "
                        "xmllint %8.1f ms\n",
                        family.product, pages, toBinary, toBinary / xmllint, back, back / xmllint, xmllint);
            times[std::string(family.product) + " xml2bin"][pages] = toBinary;
            times[std::string(family.product) + " bin2xml"][pages] = back;
        }
    }
    for (const auto& [name, bySize] : times)
        std::printf("%-15s t(1000)/t(100) = %5.1f\n", name.c_str(), bySize.at(1000) / bySize.at(100));
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(dir);
    return 0;
}
