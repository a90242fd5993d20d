// Region words, lookup in the handle's region list, and the commands that move data to and from regions.
#include "frontend/regions.h"

#include "frontend/handlerSupport.h"

#include <array>
#include <cctype>
#include <cstring>
#include <new>
#include <vector>

using namespace morv;

uint32_t displayCount = 0;

namespace {

constexpr uint32_t kKindMemory = 0;
constexpr uint32_t kKindPartition = 2;
constexpr uint32_t kStatusFailure = 1;
constexpr uint32_t kStatusInvalidArgument = 5;
constexpr uint32_t kStatusNoMemory = 6;
constexpr uint32_t kStatusTooLarge = 43;
constexpr uint8_t kDebugSerialKind = 1;

// A region word: its kind without an index text, with one, and whether the index must be decimal.
struct RegionWord {
    const char* word;
    uint32_t kindWithout;
    uint32_t kindWith;
    bool decimalIndex;
};

// "fw" names a partition only with its number.
constexpr std::array<RegionWord, 10> kRegionWords{{
    {"rmboot", 10, 10, false},
    {"flash", 1, 1, false},
    {"fw", REGION_KIND_NONE, 2, true},
    {"mfg", 6, 2, false},
    {"cfg", 7, 2, false},
    {"log", 8, 2, false},
    {"trace", 9, 2, false},
    {"ram", 11, 11, false},
    {"mem", 0, 0, false},
    {"reg", 0, 0, false},
}};

bool allDigits(const char* text) {
    if (*text == '\0')
        return false;
    for (const char* p = text; *p != '\0'; ++p)
        if (*p < '0' || *p > '9')
            return false;
    return true;
}

void showFailure(uint32_t status) {
    if (status != 0)
        displayZelkorStatus(status);
}

bool isPrintable(uint8_t c) {
    return c >= 0x21 && c <= 0x7F;
}

} // namespace

namespace {

// The region of a transfer to or from a file: 5 without a file, 1 without the region.
uint32_t transferRegion(FILE* file, uint32_t kind, uint32_t index, ZELKOR_REGION_LIST*& node) {
    if (file == nullptr)
        return kStatusInvalidArgument;
    node = findRegion(kind, index);
    return node != nullptr ? 0 : kStatusFailure;
}

} // namespace

uint32_t getRegion(uint32_t, const char* word, const char* indexText) {
    const char* fn = "getRegion";
    FunctionTrace functionTrace(fn);
    if (word == nullptr)
        return REGION_KIND_NONE;
    for (const RegionWord& row : kRegionWords) {
        if (std::strcmp(row.word, word) != 0)
            continue;
        if (!row.decimalIndex)
            return indexText != nullptr ? row.kindWith : row.kindWithout;
        if (indexText == nullptr || !allDigits(indexText)) {
            reportError(fn, "Invalid Region Index Provided.\n");
            return REGION_KIND_NONE;
        }
        return row.kindWith;
    }
    reportError(fn, "Unable to retrieve RegionID\n");
    return REGION_KIND_NONE;
}

ZELKOR_REGION_LIST* firstRegionOfKind(uint32_t kind) {
    for (ZELKOR_REGION_LIST* node = gInstance.regionList; node != nullptr; node = node->next)
        if (node->region.kind == kind)
            return node;
    return nullptr;
}

ZELKOR_REGION_LIST* findRegion(uint32_t kind, uint32_t index) {
    const char* fn = "findRegion";
    FunctionTrace functionTrace(fn);
    bool numbered = false;
    for (ZELKOR_REGION_LIST* node = gInstance.regionList; node != nullptr; node = node->next) {
        if (node->region.kind == kind && (kind != kKindPartition || node->region.index == index))
            return node;
        numbered = numbered || (node->region.kind == kKindPartition && node->region.index != 0);
    }
    if (displayCount == 1)
        reportError(fn, "Region not found.");
    ++displayCount;
    if (kind >= 4 && kind <= 8) {
        reportError(fn, " You must specify a region.\n");
        return nullptr;
    }
    if (!numbered && displayCount == 2)
        showAlways("Currently only region 0 is available.\n");
    return nullptr;
}

uint32_t downloadRegion(uint32_t offset, uint32_t index, uint32_t kind, FILE* file) {
    const char* fn = "downloadRegion";
    FunctionTrace functionTrace(fn);
    ZELKOR_REGION_LIST* node = nullptr;
    if (const uint32_t refused = transferRegion(file, kind, index, node); refused != 0)
        return refused;
    messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_CONSOLE, "Downloading File.");
    logOnly(fn, ZELKOR_LOG_INFO, "\n");
    const long start = std::ftell(file);
    if (start < 0 || std::fseek(file, 0, SEEK_END) != 0)
        return kStatusInvalidArgument;
    const long length = std::ftell(file);
    if (length < 0 || std::fseek(file, start, SEEK_SET) != 0)
        return kStatusInvalidArgument;
    // The whole file must fit behind the offset.
    if (static_cast<uint64_t>(offset) + static_cast<uint64_t>(length) > node->region.size) {
        logOnly(fn, ZELKOR_LOG_ERROR, "Data Size larger than Region Size.\n");
        return kStatusTooLarge;
    }
    return zelkor_downloadRegion(gInstance.handle, &node->region, offset, static_cast<uint32_t>(length), file,
                                 nullptr);
}

uint32_t uploadRegion(uint32_t offset, uint32_t index, uint32_t dwordCount, uint32_t kind, FILE* file) {
    const char* fn = "uploadRegion";
    FunctionTrace functionTrace(fn);
    ZELKOR_REGION_LIST* node = nullptr;
    if (const uint32_t refused = transferRegion(file, kind, index, node); refused != 0)
        return refused;
    const uint32_t size = node->region.size;
    const uint64_t length = dwordCount != 0 ? 4ull * dwordCount : (offset < size ? size - offset : 0);
    if (offset >= size || static_cast<uint64_t>(offset) + length > size) {
        logOnly(fn, ZELKOR_LOG_ERROR, "Offset or length is beyond the region.\n");
        return kStatusInvalidArgument;
    }
    const uint32_t status = zelkor_uploadRegion(gInstance.handle, &node->region, offset,
                                                static_cast<uint32_t>(length), file, nullptr);
    showFailure(status);
    return status;
}

uint32_t eraseRegion(uint32_t kind, uint32_t index) {
    const char* fn = "eraseRegion";
    FunctionTrace functionTrace(fn);
    logOnly(fn, ZELKOR_LOG_INFO, "\n");
    ZELKOR_REGION_LIST* node = findRegion(kind, index);
    if (node == nullptr)
        return kStatusFailure;
    messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_CONSOLE, "Erasing Region.");
    const uint32_t status = zelkor_eraseRegion(gInstance.handle, &node->region);
    showFailure(status);
    return status;
}

uint32_t setMemory(uint32_t address, uint32_t length, uint8_t* buffer) {
    FunctionTrace functionTrace("setMemory");
    ZELKOR_REGION_LIST* node = firstRegionOfKind(kKindMemory);
    if (node == nullptr)
        return kStatusFailure;
    const uint32_t status = zelkor_downloadRegion(gInstance.handle, &node->region, address, length, nullptr, buffer);
    showFailure(status);
    return status;
}

uint32_t getMemory(const char* addressText, const char* countText) {
    const char* fn = "getMemory";
    FunctionTrace functionTrace(fn);
    uint32_t address = 0;
    if (hexStrToU32(addressText, &address) != 0) {
        const char* shown = addressText != nullptr ? addressText : "";
        messageLog(kMorvModule, ZELKOR_LOG_ERROR, 1, fn, MSG_DEST_LOG, "Invalid memory address -- \"%s\"\n", shown);
        messageLog(kMorvModule, ZELKOR_LOG_ERROR, 0, nullptr, MSG_DEST_ALWAYS, "Invalid memory address -- \"%s\"\n",
                   shown);
        return kStatusInvalidArgument;
    }
    uint32_t count = 1;
    if (countText != nullptr && hexStrToU32(countText, &count) != 0) {
        messageLog(kMorvModule, ZELKOR_LOG_ERROR, 1, fn, MSG_DEST_LOG, "Invalid number of dwords -- \"%s\"\n",
                   countText);
        messageLog(kMorvModule, ZELKOR_LOG_ERROR, 0, nullptr, MSG_DEST_ALWAYS,
                   "Invalid number of dwords -- \"%s\"\n", countText);
        return kStatusInvalidArgument;
    }
    ZELKOR_REGION_LIST* node = firstRegionOfKind(kKindMemory);
    if (node == nullptr)
        return kStatusFailure;
    if (count == 0) {
        reportError(fn, "Number of data bytes to be read cannot be 0.\n");
        return kStatusInvalidArgument;
    }
    uint64_t bytes = 4ull * count;
    uint32_t start = address;
    if (gClParser.interfaceKind == kDebugSerialKind) {
        logOnly(fn, ZELKOR_LOG_INFO, "Checking Memory address is DWORD alligned for Debug Serial Interface");
        if (address % 4 != 0) {
            start = address & ~3u;
            bytes += 4;
            logOnly(fn, ZELKOR_LOG_INFO, "Memory address is not DWORD alligned");
            logOnly(fn, ZELKOR_LOG_INFO, "Performing DWORD allignement for memory upload operation");
        } else {
            logOnly(fn, ZELKOR_LOG_INFO, "Memory address is already DWORD alligned");
        }
    }
    // The read and the addresses shown stay within the 32-bit address space and length field.
    if (bytes > 0xFFFFFFFFull || static_cast<uint64_t>(start) + bytes - 1 > 0xFFFFFFFFull) {
        reportError(fn, "Memory range is beyond the address space.\n");
        return kStatusInvalidArgument;
    }
    std::vector<uint8_t> data;
    try {
        data.assign(static_cast<size_t>(bytes), 0);
    } catch (const std::bad_alloc&) {
        reportError(fn, "Failed allocating memory.\n");
        return kStatusNoMemory;
    }
    gInstance.busy = 1;
    const uint32_t status =
        zelkor_uploadRegion(gInstance.handle, &node->region, start, static_cast<uint32_t>(bytes), nullptr,
                            data.data());
    gInstance.busy = 0;
    if (status != 0) {
        displayZelkorStatus(status);
        return status;
    }
    const size_t skip = address - start;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* word = data.data() + skip + 4 * static_cast<size_t>(i);
        const uint32_t value = readLe32(word);
        messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_CONSOLE, "0x%08X: ", address + 4 * i);
        messageLog(kMorvModule, ZELKOR_LOG_INFO, 0, nullptr, MSG_DEST_ALWAYS, "0x%08X\t\t", value);
        char text[6] = {};
        size_t n = 0;
        for (int shift = 24; shift >= 0; shift -= 8) {
            const uint8_t c = static_cast<uint8_t>(value >> shift);
            if (isPrintable(c))
                text[n++] = static_cast<char>(c);
        }
        text[n] = '\n';
        showAlways(text);
    }
    return 0;
}

uint32_t downloadRamdebug(uint32_t baudChange, FILE* image, uint8_t postValidate) {
    FunctionTrace functionTrace("downloadRamdebug");
    const uint32_t status = zelkor_downloadRamdebug(gInstance.handle, gInstance.target.text, baudChange, image,
                                                    postValidate);
    showFailure(status);
    return status;
}

uint32_t setSmartCli() {
    FunctionTrace functionTrace("setSmartCli");
    const uint32_t status = zelkor_setSmartCli(gInstance.handle);
    showFailure(status);
    return status;
}

uint32_t hexStrToU32(const char* text, uint32_t* out) {
    const char* fn = "hexStrToU32";
    FunctionTrace functionTrace(fn);
    if (text == nullptr || out == nullptr)
        return kStatusFailure;
    *out = 0;
    const size_t length = std::strlen(text);
    const bool prefixed = length >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = prefixed ? text + 2 : text;
    const size_t limit = prefixed ? 10 : 8;
    bool valid = length <= limit && *digits != '\0';
    for (const char* p = digits; valid && *p != '\0'; ++p)
        valid = std::isxdigit(static_cast<unsigned char>(*p)) != 0;
    if (!valid) {
        logOnly(fn, ZELKOR_LOG_ERROR, "Invalid hexadecimal argument");
        return kStatusFailure;
    }
    uint32_t value = 0;
    for (const char* p = digits; *p != '\0'; ++p) {
        const int c = std::tolower(static_cast<unsigned char>(*p));
        value = value << 4 | static_cast<uint32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    }
    *out = value;
    return 0;
}

uint32_t getUserConfirmationForXMLDefaultNode() {
    const char* fn = "getUserConfirmationForXMLDefaultNode";
    FunctionTrace functionTrace(fn);
    if (optionGiven(CL_OPT_YES))
        return 0;
    const std::string name = fieldText(gClParser.xmlFileName);
    messageLog(kMorvModule, ZELKOR_LOG_WARN, 1, fn, MSG_DEST_LOG,
               "\nFile %s contains dynamic values.\nDo you wish to proceed with default values (y/n)?",
               name.c_str());
    messageLog(kMorvModule, ZELKOR_LOG_WARN, 0, nullptr, MSG_DEST_ALWAYS,
               "\nFile %s contains dynamic values.\nDo you wish to proceed with default values (y/n)?",
               name.c_str());
    const int answer = std::fgetc(stdin);
    // The rest of the answer's line is no answer to a later question.
    for (int c = answer; c != EOF && c != '\n';)
        c = std::fgetc(stdin);
    if (answer == 'y' || answer == 'Y')
        return 0;
    reportError(fn, "Download operation aborted by user\n");
    return MORV_STATUS_DECLINED;
}
