#include "config/builderSupport.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace pageengine {

bool isConfigGroupName(std::string_view name) {
    return name.substr(0, 3) == "cg_" || name == "configGroup";
}

bool fieldTextForPeppered(const std::string& text, bool decimal, const std::string& field, const std::string& page,
                          std::string& out) {
    if (!decimal || text.empty()) {
        out = text;
        return true;
    }
    bool digits = std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    uint64_t value = 0;
    bool fits = digits;
    for (char c : text) {
        if (!fits)
            break;
        value = value * 10 + static_cast<uint64_t>(c - '0');
        fits = value <= 0xFFFFFFFFull;
    }
    if (!fits) {
        if (digits)
            userMessage("\nINFO  : Maximum value supported for Decimal format is 4294967295(i.e. 0XFFFFFFFF).");
        userMessage("\nERROR : Invalid content for element \"%s\" in page \"%s\".\n\n", field.c_str(), page.c_str());
        userMessage("ERROR : Invalid XML file.");
        return false;
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "%" PRIx64, value);
    out = hex;
    return true;
}

void defSetAllAttributes(const xmlNode* from, xmlNode* to) {
    for (const xmlAttr* attribute = from->properties; attribute != nullptr; attribute = attribute->next) {
        XmlCharPtr value(xmlNodeListGetString(from->doc, attribute->children, 1));
        xmlSetProp(to, attribute->name, value ? value.get() : xmlStr(""));
    }
}

void recordStaticPage(const std::string& name) {
    PAGE_RECORD record;
    record.name = cutName(name);
    conversionCarry().gStaticPageList.push_back(std::move(record));
}

bool ExpansionGuard::enter(const xmlNode* holder, const std::string& name) {
    if (std::find(path_.begin(), path_.end(), holder) != path_.end()) {
        userMessage("\nERROR : Type of element \"%s\" contains itself.\n", name.c_str());
        return false;
    }
    // Past what a reader takes the document could not be read, and the expansion would run out of stack.
    if (path_.size() >= MAX_DOCUMENT_DEPTH) {
        userMessage("\nERROR : Elements nest deeper than %u levels.\n", static_cast<unsigned>(MAX_DOCUMENT_DEPTH));
        return false;
    }
    path_.push_back(holder);
    return true;
}

} // namespace pageengine
