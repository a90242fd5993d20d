// The library's one log file and its filtered line writer.
#include "core/zelkor.h"
#include "osal/osalFile.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

struct LogVars {
    LOG_CONFIG config;
    FILE* stream;
};

LogVars gLogVars{};

const char* levelWord(uint32_t level) {
    switch (level) {
    case ZELKOR_LOG_ERROR:
        return "ERROR";
    case ZELKOR_LOG_WARN:
        return "WARN";
    case ZELKOR_LOG_INFO:
        return "INFO";
    default:
        return nullptr;
    }
}

} // namespace

extern "C" ZELKOR_STATUS zelkor_initLogger(LOG_CONFIG* config) {
    if (config == nullptr)
        return 1;
    // The name is bounded by its field even when the caller left it unterminated.
    char name[sizeof config->name + 1];
    std::memcpy(name, config->name, sizeof config->name);
    name[sizeof config->name] = '\0';
    // Only a regular file becomes the log: a symbolic link, FIFO, directory or device under the name
    // counts as a log that cannot be created, and is left as it was.
    FILE* stream = osal_openRegularFileForWrite(name, config->truncate == 1);
    if (stream == nullptr) {
        std::fputs("ERROR: Log file creation failed.\n", stdout);
        std::fflush(stdout);
        return 59;
    }
    // A second open replaces the first stream rather than leaking it.
    if (gLogVars.stream != nullptr)
        std::fclose(gLogVars.stream);
    gLogVars.config = *config;
    gLogVars.config.name[sizeof gLogVars.config.name - 1] = '\0';
    gLogVars.stream = stream;
    return 0;
}

extern "C" void zelkor_messageLog(const char* module, const char* function, uint32_t type, uint32_t level,
                                  uint8_t stamp, const char* format, ...) {
    FILE* out = gLogVars.stream;
    if (out == nullptr || (type & gLogVars.config.typeMask) != type ||
        (level & gLogVars.config.levelMask) != level)
        return;

    if (function != nullptr) {
        if (stamp == 1) {
            std::time_t now = std::time(nullptr);
            std::tm tmNow{};
            localtime_r(&now, &tmNow);
            std::fprintf(out, "%d/%d/%02d ", tmNow.tm_mon + 1, tmNow.tm_mday, tmNow.tm_year - 100);
            std::fprintf(out, "%02d:%02d:%02d : ", tmNow.tm_hour, tmNow.tm_min, tmNow.tm_sec);
        }
        if (const char* word = levelWord(level))
            std::fprintf(out, "%s : ", word);
        if (module != nullptr)
            std::fprintf(out, "%s::", module);
        std::fprintf(out, "%s : ", function);
    }

    if (format != nullptr) {
        char buffer[512] = {};
        va_list args;
        va_start(args, format);
        std::vsnprintf(buffer, sizeof buffer - 1, format, args);
        va_end(args);
        std::fputs(buffer, out);
    } else if (type & ZELKOR_LOG_ENTRY) {
        std::fputs("Entry", out);
    } else if (type & ZELKOR_LOG_EXIT) {
        std::fputs("Exit", out);
    }
    std::fputc('\n', out);
}

extern "C" ZELKOR_STATUS zelkor_closeLogger(void) {
    if (gLogVars.stream == nullptr)
        return 1;
    FILE* stream = gLogVars.stream;
    gLogVars.stream = nullptr;
    if (std::fclose(stream) != 0) {
        // The stream is gone; the failure can only be told on the console.
        std::printf("Unable to close Log file [%s]\n", gLogVars.config.name);
        std::fflush(stdout);
        return 1;
    }
    return 0;
}
