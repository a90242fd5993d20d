#include "config/xmlScratch.h"

#include <cstdlib>
#include <filesystem>
#include <new>
#include <vector>

namespace pageengine {

namespace {

ScratchObserver sObserver = nullptr;

} // namespace

XmlScratch::XmlScratch() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = base != nullptr && *base != '\0' ? base : "/tmp";
    if (pattern.back() != '/')
        pattern.push_back('/');
    pattern += "zelkor-xml-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // mkdtemp makes the directory with mode 0700 and a name nobody held before.
    if (mkdtemp(name.data()) != nullptr)
        directory_ = name.data();
}

XmlScratch::~XmlScratch() {
    if (directory_.empty())
        return;
    if (sObserver != nullptr)
        sObserver(directory_);
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}

std::string XmlScratch::path(const std::string& stem, const char* extension) {
    std::string name = directory_ + "/" + stem + std::to_string(++counter_);
    if (name.back() != '.')
        name.push_back('.');
    return name + extension;
}

ZELKOR_STATUS getTemporaryFileName(XmlScratch& scratch, std::string& out, const char* extension, const char* stem) {
    if (extension == nullptr || !scratch.ready())
        return 1;
    try {
        out = scratch.path(stem, extension);
    } catch (const std::bad_alloc&) {
        return 6;
    }
    return 0;
}

void setScratchObserver(ScratchObserver observer) {
    sObserver = observer;
}

} // namespace pageengine
