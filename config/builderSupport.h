// Pieces the document builders share: field text with FORMAT="Dec", attribute copies, the page list
// handed to binary-to-XML, and the guard against a type that contains itself.
#ifndef CONFIG_BUILDER_SUPPORT_H
#define CONFIG_BUILDER_SUPPORT_H

#include "config/engineState.h"
#include "config/xsdParser.h"

#include <string>
#include <vector>

namespace pageengine {

inline bool isTrueWord(const std::optional<std::string>& text) {
    return text && (*text == "TRUE" || *text == "true" || *text == "True");
}
inline bool isDecimalWord(const std::optional<std::string>& text) {
    return text && (*text == "Dec" || *text == "dec" || *text == "DEC");
}

// A user element that is a configuration group.
bool isConfigGroupName(std::string_view name);

// The text a field carries into a peppered document: as written, or, with FORMAT="Dec", the decimal value
// rewritten in lower-case hexadecimal. A decimal text that is not digits or exceeds 32 bits prints the
// invalid-content lines for field and page and gives false.
bool fieldTextForPeppered(const std::string& text, bool decimal, const std::string& field, const std::string& page,
                          std::string& out);

// Copies every attribute of one element onto another (values as text, namespaces dropped).
void defSetAllAttributes(const xmlNode* from, xmlNode* to);

// Appends a page record carrying only the name to the page list handed to binary-to-XML.
void recordStaticPage(const std::string& name);

// Named types being expanded on the current path of a build.
class ExpansionGuard {
  public:
    // False, after printing why, when the node is already being expanded.
    bool enter(const xmlNode* holder, const std::string& name);
    void leave() { path_.pop_back(); }

  private:
    std::vector<const xmlNode*> path_;
};

} // namespace pageengine

#endif
