// Every text the front end shows or logs passes through messageLog.
#include "frontend/messages.h"

#include "core/zelkor.h"
#include "frontend/brannic.h"
#include "frontend/clparser.h"

#include <array>
#include <cstdarg>
#include <cstdio>

namespace {

void writeConsole(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

struct StatusText {
    uint32_t status;
    const char* text;
};

// Codes that are not listed show no text.
constexpr std::array<StatusText, 46> kStatusTexts{{
    {2, "Function is not applicable.\n"},
    {3, "Function is not supported via present interface.\n"},
    {4, "Invalid handle.\n"},
    {5, "Invalid argument.\n"},
    {6, "Failed allocating memory.\n"},
    {7, "Library is not initialized properly.\n"},
    {8, "Failed loading IAL library.\n"},
    {9, "Failed loading HAL library.\n"},
    {10, "Failed mapping IAL vectors.\n"},
    {11, "Failed mapping HAL vectors.\n"},
    {12, "Failed instantiating IAL.\n"},
    {13, "Failed instantiating HAL.\n"},
    {14, "Failed retrieving IAL version.\n"},
    {15, "Failed retrieving HAL version.\n"},
    {16, "Incompatible IAL library.\n"},
    {17, "Incompatible HAL library.\n"},
    {18, "IAL or HAL API failed.\n"},
    {19, "Invalid expander type.\n"},
    {20, "Unknown error while opening the interface.\n"},
    {21, "Interface does not exists.\n"},
    {22, "Interface permission denied.\n"},
    {23, "Interface was opened, but failed while setting the connection parameters.\n"},
    {24, "Failed writing to interface.\n"},
    {25, "Failed reading from interface.\n"},
    {26, "Failed loading dynamic regions.\n"},
    {29, "Command unsupported on attached expander.\n"},
    {30, "No attached device found.\n"},
    {31, "Routing not configured .\n"},
    {32, "Region does not contain a valid firmware image.\n"},
    {36, "The XML file failed Schema validation.\n"},
    {37, "Invalid Page Id in XML File.\n"},
    {38, "Duplicate Page Id in XML File.\n"},
    {39, "Offset validation failed for the XML document.\n"},
    {40, "Invalid XML file.\n"},
    {41, "LIBXML2 failed to parse the XML file.\n"},
    {42, "Flash region is blank.\n"},
    {43, "Data Size larger than Region Size.\n"},
    {44, "Data Size larger than Flash Size.\n"},
    {45, "Invalid Phy ID.\n"},
    {46, "Zoning Not Enabled on Expander.\n"},
    {47, "Route Table Not Enabled on Expander.\n"},
    {48, "Routing Attribute of the Phy is Not Table.\n"},
    {52, "Environmental variable ZELKOR_SUPPORT_FILES is not defined"},
    {53,
     "Not able to find the support files (*.fw, *.xsd, *.xml) under ZELKOR_SUPPORT_FILES env variable and "
     "current directory.\n"},
    {58, "Env path + support file name lenght is greather than 512 Bytes"},
}};

const char* statusText(uint32_t status) {
    for (const StatusText& row : kStatusTexts)
        if (row.status == status)
            return row.text;
    return nullptr;
}

} // namespace

void messageLog(const char* module, uint32_t level, uint8_t stamp, const char* function, uint32_t destination,
                const char* format, ...) {
    char text[MSG_TEXT_LIMIT + 2] = {};
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text - 1, format, args);
        va_end(args);
    }
    const bool echo = gSharedVars.consoleEcho == 1;
    const bool quiet = (gClParser.optionFlags & CL_OPT_QUIET) != 0;
    bool toConsole = false;
    if (destination == MSG_DEST_ALWAYS)
        toConsole = true;
    else if (destination < MSG_DEST_ALWAYS)
        toConsole = !quiet || echo;
    else
        toConsole = echo;
    if (toConsole)
        writeConsole(text);
    // The text is final: the log writes it verbatim, a '%' in it is no conversion.
    if (destination >= MSG_DEST_LOG)
        zelkor_messageLog(module, function, ZELKOR_LOG_FRONTEND, level, stamp, "%s", text);
}

void consoleLine(const char* text) {
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void zelkor_messageHandler(int32_t event, int32_t) {
    if (event == 1 && gInstance.busy != 0)
        messageLog(kMorvModule, 0, 0, nullptr, MSG_DEST_CONSOLE, ".");
}

void displayZelkorStatus(uint32_t status) {
    messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_ALWAYS, "\n");
    if (const char* text = statusText(status))
        messageLog(kMorvModule, ZELKOR_LOG_ERROR, 0, "main", MSG_DEST_ALWAYS, "%s", text);
}
