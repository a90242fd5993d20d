// Shared by the XML robustness tests: the fixtures of the page engine's tests, the status sets each entry
// point documents, and xmllint run once over a batch of documents.
#ifndef TESTS_ROBUSTNESS_XML_SUPPORT_H
#define TESTS_ROBUSTNESS_XML_SUPPORT_H

#include "chainSupport.h"
#include "xmlMutation.h"

#include <gtest/gtest.h>

#include <libxml/parser.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace robust {

inline std::string configFixture(const std::string& name) {
    return configtest::fixture(name);
}

// libxml2's own verdict on a text: does it parse at all.
inline bool wellFormed(const std::string& text) {
    xmlDoc* document = xmlReadMemory(text.data(), static_cast<int>(text.size()), "check.xml", nullptr,
                                     XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    const bool parsed = document != nullptr;
    xmlFreeDoc(document);
    return parsed;
}

inline bool statusIn(ZELKOR_STATUS status, std::initializer_list<ZELKOR_STATUS> set) {
    return std::find(set.begin(), set.end(), status) != set.end();
}

// xmllint over many files in one run: the files it refuses (not well-formed, or with a schema, not valid).
inline std::set<std::string> xmllintRefuses(const std::vector<std::string>& files, const std::string& schema = "") {
    std::set<std::string> refused;
    if (files.empty())
        return refused;
    const std::string report = ::testing::TempDir() + "xmllint_report_" + std::to_string(getpid()) + ".txt";
    std::string command = "xmllint --noout ";
    if (!schema.empty())
        command += "--schema '" + schema + "' ";
    for (const std::string& file : files)
        command += "'" + file + "' ";
    command += ">'" + report + "' 2>&1";
    const int code = std::system(command.c_str());
    const std::string output = configtest::readText(report);
    std::remove(report.c_str());
    for (const std::string& file : files) {
        bool failed = false;
        if (!schema.empty()) {
            failed = output.find(file + " validates") == std::string::npos;
        } else {
            // Namespace warnings do not make a document unreadable; parser errors do.
            for (size_t at = output.find(file + ":"); at != std::string::npos && !failed;
                 at = output.find(file + ":", at + 1)) {
                const size_t end = output.find('\n', at);
                failed = output.substr(at, end - at).find("parser error") != std::string::npos;
            }
        }
        if (failed)
            refused.insert(file);
    }
    if (code == 0 && !refused.empty())
        ADD_FAILURE() << "xmllint succeeded but its report names failures:\n" << output;
    return refused;
}

} // namespace robust

#endif
