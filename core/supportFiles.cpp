#include "core/supportFiles.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <sys/stat.h>

namespace {

void lookupLog(const SupportLookupTexts& texts, const char* function, uint32_t level, const char* format, ...) {
    if (texts.module == nullptr || format == nullptr)
        return;
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    zelkor_messageLog(texts.module, texts.function != nullptr ? texts.function : function, texts.type, level, 1,
                      "%s", line);
}

bool isDirectory(const char* path) {
    struct stat info {};
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

bool fileReadable(const char* path) {
    if (path == nullptr)
        return false;
    FILE* file = std::fopen(path, "r");
    if (file == nullptr)
        return false;
    std::fclose(file);
    return true;
}

bool copyBounded(char* buffer, std::size_t capacity, const std::string& text) {
    if (buffer == nullptr || text.size() + 1 > capacity)
        return false;
    std::memmove(buffer, text.c_str(), text.size() + 1);
    return true;
}

ZELKOR_STATUS lookupSupportFile(const char* name, const SupportLookupTexts& texts, const char* function,
                                std::string& path) {
    const std::string_view file(name != nullptr ? name : "");
    if (texts.refusesDirectories && file.find_first_of(":\\/") != std::string_view::npos) {
        for (const char* line : texts.directoryRefused)
            lookupLog(texts, function, ZELKOR_LOG_ERROR, line);
        return SUPPORT_NOT_FOUND;
    }
    const char* directory = std::getenv(SUPPORT_FILES_VARIABLE);
    if (directory == nullptr) {
        lookupLog(texts, function, ZELKOR_LOG_ERROR, texts.unset);
        return SUPPORT_UNSET;
    }
    lookupLog(texts, function, ZELKOR_LOG_INFO, texts.announce, directory);
    const std::string_view base(directory);
    const bool separator = base.empty() || (base.back() != '/' && base.back() != '\\');
    // Bounded before anything is built: a variable or name of any length costs no more than the buffer.
    const std::size_t needed = base.size() + (separator ? 1 : 0) + file.size() + 1;
    if (needed > texts.capacity) {
        lookupLog(texts, function, ZELKOR_LOG_ERROR, texts.tooLong, static_cast<int>(needed), directory,
                  name != nullptr ? name : "");
        return SUPPORT_TOO_LONG;
    }
    std::string joined;
    joined.reserve(needed);
    joined.append(base);
    if (separator)
        joined.push_back('/');
    joined.append(file);
    // The joined path must name a file: an empty name, "." or ".." leave it at a directory.
    if (!fileReadable(joined.c_str()) || isDirectory(joined.c_str())) {
        for (const char* line : texts.notFound)
            lookupLog(texts, function, ZELKOR_LOG_ERROR, line, name != nullptr ? name : "", directory);
        return SUPPORT_NOT_FOUND;
    }
    lookupLog(texts, function, ZELKOR_LOG_INFO, texts.found, joined.c_str());
    path = std::move(joined);
    return 0;
}
