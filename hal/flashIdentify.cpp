// Flash engine, first half: the binding, the access primitives, the bus width, the identification of a part
// (CFI query, then the table of known parts without CFI), the erase-block geometry and the positioning of a
// window offset on its part, region and block.
#include "hal/flash.h"
#include "hal/flashCommands.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

ZELKOR_INSTANCE* gZelkorObj = nullptr;
void* gIalHandle = nullptr;
uint32_t gHardwareBaseAddress = 0;
ZELKOR_REGION gRegion{};
FLASH_INFO gFlashInfo{};

namespace {

constexpr uint32_t kBusWordAddress = 0x2C000000u;
constexpr uint32_t kBus16High = 0x20000000u;
constexpr uint32_t kBus16Low = 0x10000000u;
constexpr uint32_t kBus8 = 0x30000000u;
constexpr uint32_t kBusWidthFailed = 0xFFFFFFFFu;
constexpr uint8_t kCfiQuery = 0x98;
constexpr uint8_t kAmdReset = 0xF0;
constexpr uint8_t kIntelReset = 0xFF;
constexpr uint8_t kMaxDeviceSize = 26; // 64 MiB, the largest window
constexpr uint32_t kReadChunk = 0x8000;
constexpr int kIdentifyTries = 3;

// The table of parts without CFI, searched in row order. The algorithm column holds the command set each
// part answers to (the 0x01 and 0x04 parts speak the AMD set, the 0x89 parts the Intel set).
const NON_CFI_FLASH_ENTRY sNonCfiFlashInfo[] = {
    {0x01, 0x5B, 0x100000, 4, FLASH_ALGO_AMD, {{0x4000, 1}, {0x2000, 2}, {0x8000, 1}, {0x10000, 15}}},
    {0x89, 0xA6, 0x100000, 1, FLASH_ALGO_INTEL, {{0x10000, 16}}},
    {0x89, 0xAA, 0x200000, 1, FLASH_ALGO_INTEL, {{0x10000, 32}}},
    {0x04, 0x5B, 0x100000, 4, FLASH_ALGO_AMD, {{0x4000, 1}, {0x2000, 2}, {0x8000, 1}, {0x10000, 15}}},
};
const NON_CFI_FLASH_ENTRY* sPtrNonCfiFlashInfo = sNonCfiFlashInfo;

ZELKOR_STATUS ialRead(uint32_t address, uint32_t n, uint8_t* out) {
    if (gZelkorObj == nullptr || gZelkorObj->ialVectors.zelkor_ial_uploadRegion == nullptr)
        return 1;
    return gZelkorObj->ialVectors.zelkor_ial_uploadRegion(gIalHandle, &gRegion, address, n, nullptr, out);
}

ZELKOR_STATUS ialWrite(uint32_t address, uint32_t n, uint8_t* in) {
    if (gZelkorObj == nullptr || gZelkorObj->ialVectors.zelkor_ial_downloadRegion == nullptr)
        return 1;
    return gZelkorObj->ialVectors.zelkor_ial_downloadRegion(gIalHandle, &gRegion, address, n, nullptr, in);
}

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

// A command write whose failure is the step's: the primitive prints its line, the step prints its own.
ZELKOR_STATUS command(uint32_t offset, uint8_t value, const char* failure) {
    if (flash_writeByte(offset, value) == 0)
        return 0;
    say(failure, value, offset);
    return 1;
}

ZELKOR_STATUS readLogged(const char* fn, uint32_t offset, uint8_t* out, const char* label) {
    if (flash_readByte(offset, out) != 0)
        return 1;
    flashLog(fn, ZELKOR_LOG_INFO, "flashAddr = 0x%x, %s = 0x%x", offset, label, *out);
    return 0;
}

// Looks for "QRY" at o + first, o + first + step, o + first + 2 step; a read failure ends the look.
bool matchesQry(uint32_t o, uint32_t first, uint32_t step, const char* readFailed) {
    static const char kQry[] = "QRY";
    for (uint32_t i = 0; i < 3; ++i) {
        const uint32_t at = o + first + i * step;
        uint8_t byte = 0;
        if (flash_readByte(at, &byte) != 0) {
            flashLog("flash_decideMultiplicationFactor()", ZELKOR_LOG_INFO, readFailed, at);
            return false;
        }
        flashLog("flash_decideMultiplicationFactor()", ZELKOR_LOG_INFO, "flashAddr = 0x%x, Byte = 0x%x", at,
                 byte);
        if (byte != static_cast<uint8_t>(kQry[i]))
            return false;
    }
    return true;
}

bool sQryFound = false;
const FlashCommandSet* sCommandSet = nullptr;

ZELKOR_STATUS decideFactor(uint32_t o) {
    const char* fn = "flash_decideMultiplicationFactor()";
    sQryFound = false;
    gFlashInfo.MultiplicationFactor = 1;
    if (flash_writeByte(o + 0x55, kCfiQuery) != 0) {
        flashLog(fn, ZELKOR_LOG_INFO, "Failed CFI command query 0x%x failed for address 0x%x", kCfiQuery,
                 o + 0x55);
        return 1;
    }
    if (matchesQry(o, 0x10, 1, "Failed reading CFI byte at address 0x%x")) {
        sQryFound = true;
        return 0;
    }
    flashLog(fn, ZELKOR_LOG_INFO, "Failed QRY match, Flash is not in 16 bit mode");
    gFlashInfo.MultiplicationFactor = 2;
    if (flash_writeByte(o + 0xAA, kCfiQuery) != 0) {
        flashLog(fn, ZELKOR_LOG_INFO, "Failed CFI command query 0x%x for address 0x%x", kCfiQuery, o + 0xAA);
        return 1;
    }
    if (matchesQry(o, 0x20, 2, "Failed reading CFI byte at address %x")) {
        sQryFound = true;
        return 0;
    }
    flashLog(fn, ZELKOR_LOG_INFO, "Failed QRY match, Flash is not in 8 bit mode");
    return 0;
}

// Returns a part that answered the query but was not taken to reading its array, with either set's reset.
void resetProbed(uint32_t o) {
    flash_writeByte(o, kAmdReset);
    flash_writeByte(o, kIntelReset);
}

const FlashCommandSet* chooseCommandSet() {
    return flashChooseCommandSet(gFlashInfo.FlashAlgo, gFlashInfo.BusIs16Bit == 1);
}

} // namespace

void flashLog(const char* function, uint32_t level, const char* format, ...) {
    if (gZelkorObj == nullptr || gZelkorObj->log == nullptr)
        return;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    gZelkorObj->log("Flash", function, ZELKOR_LOG_FLASH, level, 1, "%s", text);
}

const FlashCommandSet* flashCommandSet() {
    return sCommandSet;
}

void flash_initGlobalVar(ZELKOR_INSTANCE* handle, uint32_t base) {
    gZelkorObj = handle;
    gIalHandle = handle != nullptr ? handle->ialInstance : nullptr;
    gHardwareBaseAddress = base;
    gRegion = ZELKOR_REGION{ZELKOR_REGION_MEMORY, 0xC0, 0, 0, 0xFFFFFFFFu, 0, 0, 0};
    // What was found through another binding says nothing about this flash.
    gFlashInfo.AvailableFlash = 0;
}

ZELKOR_STATUS flash_writeByte(uint32_t offset, uint8_t value) {
    const uint32_t address = gHardwareBaseAddress + offset;
    uint8_t byte = value;
    if (ialWrite(address, 1, &byte) == 0)
        return 0;
    say("\n\nERROR: Flash write byte 0x%x, failed at address 0x%x\n",
        static_cast<int>(static_cast<int8_t>(value)), address);
    return 1;
}

ZELKOR_STATUS flash_writeWord(uint32_t offset, uint16_t value) {
    const uint32_t address = gHardwareBaseAddress + offset;
    uint8_t bytes[2];
    std::memcpy(bytes, &value, 2);
    if (ialWrite(address, 2, bytes) == 0)
        return 0;
    say("\n\nERROR: Flash write word 0x%x, failed at address 0x%x\n", value, address);
    return 1;
}

ZELKOR_STATUS flash_readByte(uint32_t offset, uint8_t* out) {
    return flash_readBytes(offset, 1, out);
}

ZELKOR_STATUS flash_readBytes(uint32_t offset, uint32_t n, uint8_t* out) {
    const uint32_t address = gHardwareBaseAddress + offset;
    if (ialRead(address, n, out) == 0)
        return 0;
    say("\n\nERROR: Flash read failed at 0x%x\n", address);
    return 1;
}

ZELKOR_STATUS flashReadSpan(uint32_t offset, uint32_t n, uint8_t* out) {
    for (uint32_t done = 0; done < n;) {
        const uint32_t chunk = n - done < kReadChunk ? n - done : kReadChunk;
        if (flash_readBytes(offset + done, chunk, out + done) != 0)
            return 1;
        done += chunk;
    }
    return 0;
}

ZELKOR_STATUS flash_reset() {
    const uint8_t value = gFlashInfo.FlashAlgo == FLASH_ALGO_AMD ? kAmdReset : kIntelReset;
    return command(gFlashInfo.BaseFlashAddress, value,
                   "\n\nERROR: Failed writing command 0x%x for reseting the flash at address 0x%x\n");
}

uint32_t flash_getFlashBusSize() {
    uint8_t bytes[4] = {};
    if (ialRead(kBusWordAddress, 4, bytes) != 0) {
        say("\n\nERROR: Failed finding flash bus size");
        return kBusWidthFailed;
    }
    uint32_t word = 0;
    std::memcpy(&word, bytes, 4);
    if ((word & kBus16High) != 0) {
        gFlashInfo.BusIs16Bit = 1;
        return kBus16High;
    }
    if ((word & kBus16Low) != 0) {
        gFlashInfo.BusIs16Bit = 1;
        return kBus16Low;
    }
    gFlashInfo.BusIs16Bit = 0;
    return kBus8;
}

ZELKOR_STATUS flash_decideMultiplicationFactor(uint32_t offset) {
    return decideFactor(offset);
}

ZELKOR_STATUS flash_findCfiPart(uint32_t o) {
    const char* fn = "flash_findCfiPart()";
    if (decideFactor(o) != 0) {
        flashLog(fn, ZELKOR_LOG_INFO, "Failed reading multiplication factor from flash address 0x%x", o);
        return 1;
    }
    // Bytes that are not the query answer say nothing of the part.
    if (!sQryFound)
        return 1;
    const uint32_t f = gFlashInfo.MultiplicationFactor;
    uint8_t high = 0;
    uint8_t low = 0;
    if (readLogged(fn, o + 0x14 * f, &high, "upper") != 0) {
        flashLog(fn, ZELKOR_LOG_INFO, "Failed reading primary command set, higher byte from flash address %x",
                 o + 0x14 * f);
        return 1;
    }
    if (readLogged(fn, o + 0x13 * f, &low, "Byte") != 0) {
        flashLog(fn, ZELKOR_LOG_INFO, "Failed reading primary command set, lower byte from flash address %x",
                 o + 0x13 * f);
        return 1;
    }
    const uint32_t commandSet = static_cast<uint32_t>(high) << 8 | low;
    flashLog(fn, ZELKOR_LOG_INFO, "commandSet = 0x%x", commandSet);
    if (commandSet == 1 || commandSet == 3) {
        flashLog(fn, ZELKOR_LOG_INFO, "Intel Flash identified");
        gFlashInfo.FlashAlgo = FLASH_ALGO_INTEL;
    } else if (commandSet == 2 || commandSet == 4) {
        flashLog(fn, ZELKOR_LOG_INFO, "AMD Flash identified");
        gFlashInfo.FlashAlgo = FLASH_ALGO_AMD;
    } else {
        resetProbed(o);
        return 1;
    }
    uint8_t size = 0;
    uint8_t regions = 0;
    if (flash_readByte(o + 0x27 * f, &size) != 0) {
        flashLog(fn, ZELKOR_LOG_INFO, "Failed reading flash size from address %x", o + 0x27 * f);
        return 1;
    }
    flashLog(fn, ZELKOR_LOG_INFO, "flashAddr = 0x%x, gFlashInfo.DeviceSize = 0x%x", o + 0x27 * f, size);
    if (flash_readByte(o + 0x2C * f, &regions) != 0) {
        flashLog(fn, ZELKOR_LOG_INFO, "Failed reading flash region info from address %x", o + 0x2C * f);
        return 1;
    }
    flashLog(fn, ZELKOR_LOG_INFO, "flashAddr = 0x%x, gFlashInfo.MaxRegions = 0x%x", o + 0x2C * f, regions);
    // A size no window holds, or a part without erase regions, is no part the engine can drive.
    if (size == 0 || size > kMaxDeviceSize || regions == 0) {
        resetProbed(o);
        return 1;
    }
    gFlashInfo.DeviceSize = size;
    gFlashInfo.MaxRegions = regions;
    return flash_reset();
}

ZELKOR_STATUS flash_findIntelIdentifierInfo(uint8_t* answered, uint8_t* mfg, uint8_t* dev, uint32_t o) {
    uint8_t array[2] = {};
    if (flash_readByte(o, &array[0]) != 0) {
        say("\n\nERROR: Failed reading Intel flash identifier mfg info for address 0x%x\n", o);
        return 1;
    }
    if (flash_readByte(o + 1, &array[1]) != 0) {
        say("\n\nERROR: Failed reading Intel flash identifier devId info for address 0x%x\n", o + 1);
        return 1;
    }
    if (command(o, kIntelReset,
                "\n\nERROR: Failed writing reset command 0x%x to Intel flash address 0x%x\n") ||
        command(o, 0x90,
                "\n\nERROR: Failed writing read identifier command 0x%x to Intel flash address 0x%x\n"))
        return 1;
    if (flash_readByte(o, mfg) != 0) {
        say("\n\nERROR: Failed reading Intel flash identifier mfg info for address 0x%x\n", o);
        return 1;
    }
    if (command(o, 0x90,
                "\n\nERROR: Failed writing read identifier command 0x%x to Intel flash address 0x%x\n"))
        return 1;
    if (flash_readByte(o + 1, dev) != 0) {
        say("\n\nERROR: Failed reading Intel flash identifier devId info for address 0x%x\n", o + 1);
        return 1;
    }
    *answered = *mfg != array[0] || *dev != array[1] ? 1 : 0;
    return 0;
}

ZELKOR_STATUS flash_findAmdIdentifierInfo(uint8_t* mfg, uint8_t* dev, uint32_t o) {
    if (command(o, kAmdReset, "\n\nERROR: Failed writing reset command 0x%x to AMD flash address 0x%x\n") ||
        command(o + 0xAAA, 0xAA,
                "\n\nERROR: Failed writing auto select1 command 0x%x to AMD flash address 0x%x\n") ||
        command(o + 0x555, 0x55,
                "\n\nERROR: Failed writing auto select2 command 0x%x to AMD flash address 0x%x\n") ||
        command(o + 0xAAA, 0x90,
                "\n\nERROR: Failed writing read identifier command 0x%x to AMD flash address 0x%x\n"))
        return 1;
    if (flash_readByte(o, mfg) != 0) {
        say("\n\nERROR: Failed reading AMD flash identifier mfg info for address 0x%x\n", o);
        return 1;
    }
    if (flash_readByte(o + 2, dev) != 0) {
        say("\n\nERROR: Failed reading AMD flash devID info for address 0x%x\n", o + 2);
        return 1;
    }
    return 0;
}

ZELKOR_STATUS flash_findNonCfiPart(uint32_t o) {
    const char* fn = "flash_findNonCfiPart()";
    uint8_t answered = 0;
    uint8_t mfg = 0;
    uint8_t dev = 0;
    if (flash_findIntelIdentifierInfo(&answered, &mfg, &dev, o) != 0) {
        flashLog(fn, ZELKOR_LOG_INFO, "Failed reading Intel identifier from flash address 0x%x", o);
        return 1;
    }
    if (answered == 0 && flash_findAmdIdentifierInfo(&mfg, &dev, o) != 0) {
        flashLog(fn, ZELKOR_LOG_INFO, "Failed reading AMD identifier from flash address 0x%x", o);
        return 1;
    }
    if (flash_writeByte(o, answered ? kIntelReset : kAmdReset) != 0) {
        flashLog(fn, ZELKOR_LOG_INFO, answered ? "Failed reseting Intel flash" : "Failed reseting AMD flash");
        return 1;
    }
    for (uint8_t row = 0; row < sizeof sNonCfiFlashInfo / sizeof sNonCfiFlashInfo[0]; ++row) {
        const NON_CFI_FLASH_ENTRY& e = sPtrNonCfiFlashInfo[row];
        if (e.manufacturer != mfg || e.device != dev)
            continue;
        uint8_t log2 = 0;
        while ((uint64_t{1} << log2) < e.size)
            ++log2;
        gFlashInfo.DeviceSize = log2;
        gFlashInfo.MaxRegions = static_cast<uint8_t>(e.regions);
        gFlashInfo.NonCfiIndex = row;
        gFlashInfo.FlashAlgo = e.algorithm;
        return 0;
    }
    return 1;
}

ZELKOR_STATUS flash_findDeviceInfo(uint32_t o) {
    const char* fn = "flash_findDeviceInfo()";
    // Resets during the probe go to the part probed.
    gFlashInfo.BaseFlashAddress = o;
    if (flash_findCfiPart(o) == 0) {
        flashLog(fn, ZELKOR_LOG_INFO, "Valid CFI Component Found");
        gFlashInfo.CfiCompliance = 1;
        flash_reset();
        sCommandSet = chooseCommandSet();
        return 0;
    }
    if (flash_findNonCfiPart(o) != 0) {
        flashLog(fn, ZELKOR_LOG_INFO, "Unrecognized Flash Found");
        return 1;
    }
    flashLog(fn, ZELKOR_LOG_WARN, "Non CFI Component Found");
    gFlashInfo.CfiCompliance = 0;
    gFlashInfo.MultiplicationFactor = 1;
    sCommandSet = chooseCommandSet();
    return 0;
}

ZELKOR_STATUS flash_readRegionInfo(uint8_t region, uint16_t* blocks, uint32_t* blockSize) {
    const char* fn = "flash_readRegionInfo()";
    const uint32_t b = gFlashInfo.BaseFlashAddress;
    if (gFlashInfo.CfiCompliance == 1) {
        const uint32_t f = gFlashInfo.MultiplicationFactor;
        if (command(b + 0x55 * f, kCfiQuery,
                    "\n\nERROR: Failed writing CFI command query 0x%x at flash address 0x%x\n"))
            return 1;
        struct Pair {
            uint32_t upperAt, lowerAt;
            const char* upperFailed;
            const char* lowerFailed;
        };
        const Pair pairs[2] = {
            {b + (0x2E + 4u * region) * f, b + (0x2D + 4u * region) * f,
             "\n\nERROR: Failed reading upper byte at flash address 0x%x\n",
             "\n\nERROR: Failed reading upper byte at flash address 0x%x\n"},
            {b + (0x30 + 4u * region) * f, b + (0x2F + 4u * region) * f,
             "\n\nERROR: Failed reading erase block upper byte at flash address 0x%x\n",
             "\n\nERROR: Failed reading erase block lower byte at flash address 0x%x\n"},
        };
        uint32_t values[2] = {};
        for (int i = 0; i < 2; ++i) {
            uint8_t upper = 0;
            uint8_t lower = 0;
            if (readLogged(fn, pairs[i].upperAt, &upper, "upper") != 0) {
                say(pairs[i].upperFailed, pairs[i].upperAt);
                return 1;
            }
            if (readLogged(fn, pairs[i].lowerAt, &lower, "lower") != 0) {
                say(pairs[i].lowerFailed, pairs[i].lowerAt);
                return 1;
            }
            values[i] = static_cast<uint32_t>(upper) << 8 | lower;
        }
        *blocks = static_cast<uint16_t>(values[0] + 1);
        *blockSize = values[1] * 256;
        // A count of 0x10000 blocks does not fit: such a region is no region.
        if (values[0] == 0xFFFF)
            *blocks = 0;
    } else {
        const NON_CFI_FLASH_ENTRY& e = sPtrNonCfiFlashInfo[gFlashInfo.NonCfiIndex];
        *blocks = region < 8 ? static_cast<uint16_t>(e.region[region].blocks) : 0;
        *blockSize = region < 8 ? e.region[region].blockSize : 0;
    }
    return flash_reset();
}

namespace {

// Finds the region and block of the part at BaseFlashAddress that hold ActualFlashAddress.
ZELKOR_STATUS walkRegions() {
    FLASH_INFO& g = gFlashInfo;
    uint64_t start = g.BaseFlashAddress;
    for (uint8_t i = 0;; ++i) {
        uint16_t blocks = 0;
        uint32_t size = 0;
        if (flash_readRegionInfo(i, &blocks, &size) != 0) {
            say("\n\nERROR: Failed reading flash region info for 0x%x region number\n", i);
            return 1;
        }
        if (blocks == 0 || size == 0)
            return 1;
        const uint64_t bytes = uint64_t{blocks} * size;
        if (start + bytes > g.ActualFlashAddress) {
            g.IdenticalBlocks = blocks;
            g.BlockSize = size;
            g.CurrentRegion = i;
            g.CurrentBlock = static_cast<uint16_t>((g.ActualFlashAddress - start) / size);
            g.CurrentBlockStartAddress = static_cast<uint32_t>(start + uint64_t{g.CurrentBlock} * size);
            return 0;
        }
        start += bytes;
        if (i + 1 >= g.MaxRegions) {
            say("\n\nERROR: Invalid region number 0x%x found\n", i + 1);
            return 1;
        }
    }
}

} // namespace

ZELKOR_STATUS flash_refreshRegionInfo() {
    return walkRegions();
}

ZELKOR_STATUS flash_init(uint32_t t) {
    FLASH_INFO& g = gFlashInfo;
    uint32_t p = 0;
    int failures = 0;
    for (;;) {
        if (flash_findDeviceInfo(p) == 0) {
            const uint64_t end = uint64_t{p} + (uint64_t{1} << g.DeviceSize);
            failures = 0;
            if (t < end)
                break;
            g.DeviceSize = 0;
            if (end > 0xFFFFFFFFu) {
                say("\n\nERROR: Either flash is not connected or out of range");
                return 1;
            }
            p = static_cast<uint32_t>(end);
            continue;
        }
        // A part that keeps failing at the same place is not there.
        if (p >= g.AvailableFlash || g.DeviceSize == 0 || ++failures >= kIdentifyTries) {
            say("\n\nERROR: Either flash is not connected or out of range");
            return 1;
        }
    }
    g.BaseFlashAddress = p;
    g.ActualFlashAddress = t;
    if (walkRegions() != 0) {
        say("\n\nERROR: Unable to find the flash region info");
        return 1;
    }
    return 0;
}

ZELKOR_STATUS flash_findAvailableFlash(uint32_t limit) {
    const char* fn = "flash_findAvailableFlash()";
    FLASH_INFO& g = gFlashInfo;
    if (flash_findDeviceInfo(g.AvailableFlash) != 0) {
        flashLog(fn, ZELKOR_LOG_INFO, "Retrying due to the failure in finding flash information");
        if (flash_findDeviceInfo(g.AvailableFlash) != 0) {
            flashLog(fn, ZELKOR_LOG_INFO, "Failure in finding flash information");
            return 1;
        }
    }
    const uint64_t found = uint64_t{g.AvailableFlash} + (uint64_t{1} << g.DeviceSize);
    g.AvailableFlash = found > uint64_t{limit} + 1 ? limit : static_cast<uint32_t>(found);
    return 0;
}

ZELKOR_STATUS flashFindParts(uint32_t limit) {
    if (flash_getFlashBusSize() == kBusWidthFailed)
        return 1;
    gFlashInfo.AvailableFlash = 0;
    if (flash_findAvailableFlash(limit) != 0)
        return 0;
    // Every further part begins where the flash found so far ends.
    while (gFlashInfo.AvailableFlash < limit) {
        const uint32_t before = gFlashInfo.AvailableFlash;
        if (flash_findDeviceInfo(before) != 0)
            break;
        const uint64_t found = uint64_t{before} + (uint64_t{1} << gFlashInfo.DeviceSize);
        gFlashInfo.AvailableFlash = found > uint64_t{limit} + 1 ? limit : static_cast<uint32_t>(found);
    }
    return 0;
}

ZELKOR_STATUS flash_displayStructure() {
    const char* fn = "flash_displayStructure()";
    const FLASH_INFO& g = gFlashInfo;
    flashLog(fn, ZELKOR_LOG_INFO, "Multiplication Factor = 0x%x", g.MultiplicationFactor);
    flashLog(fn, ZELKOR_LOG_INFO, "Device Size = %ld ", static_cast<long>(g.DeviceSize));
    flashLog(fn, ZELKOR_LOG_INFO, "Flash Algo = %ld ( 0 = INTEL, 1 = AMD) ", static_cast<long>(g.FlashAlgo));
    flashLog(fn, ZELKOR_LOG_INFO, "Maximum Regions = %ld", static_cast<long>(g.MaxRegions));
    flashLog(fn, ZELKOR_LOG_INFO, "Current Region = %ld ", static_cast<long>(g.CurrentRegion));
    flashLog(fn, ZELKOR_LOG_INFO, "CFI Compliance = 0x%x ", g.CfiCompliance);
    flashLog(fn, ZELKOR_LOG_INFO, "Base flashAddress = 0x%lx ",
             static_cast<unsigned long>(g.BaseFlashAddress));
    flashLog(fn, ZELKOR_LOG_INFO, "Actual flashAddress = 0x%lx ",
             static_cast<unsigned long>(g.ActualFlashAddress));
    flashLog(fn, ZELKOR_LOG_INFO, "Block Size = 0x%lx ", static_cast<unsigned long>(g.BlockSize));
    flashLog(fn, ZELKOR_LOG_INFO, "Identical Blocks = %d ", g.IdenticalBlocks);
    flashLog(fn, ZELKOR_LOG_INFO, "Current Block = %d ", g.CurrentBlock);
    flashLog(fn, ZELKOR_LOG_INFO, "Current Block Start Address = 0x%lx ",
             static_cast<unsigned long>(g.CurrentBlockStartAddress));
    flashLog(fn, ZELKOR_LOG_INFO, "NON CFI Index = 0x%x ", g.NonCfiIndex);
    flashLog(fn, ZELKOR_LOG_INFO, "Available flash = 0x%lx ", static_cast<unsigned long>(g.AvailableFlash));
    return 0;
}

ZELKOR_STATUS flash_retriveFlashType(ZELKOR_INSTANCE* handle, uint32_t base, uint32_t* type) {
    const char* fn = "flash_retriveFlashType()";
    flash_initGlobalVar(handle, base);
    if (type == nullptr)
        return 1;
    *type = FLASH_TYPE_NONE;
    if (flash_getFlashBusSize() == kBusWidthFailed) {
        flashLog(fn, ZELKOR_LOG_INFO, "Unsupported flash on board");
        return 1;
    }
    if (base == 0)
        return 1;
    if (flash_findDeviceInfo(0) != 0)
        return 1;
    const bool bus16 = gFlashInfo.BusIs16Bit == 1;
    if (gFlashInfo.FlashAlgo == FLASH_ALGO_AMD) {
        flashLog(fn, ZELKOR_LOG_INFO, bus16 ? "Flash Type = 16 bit AMD" : "Flash Type = 8 bit AMD");
        *type = bus16 ? FLASH_TYPE_AMD_16BIT : FLASH_TYPE_AMD_8BIT;
    } else if (gFlashInfo.FlashAlgo == FLASH_ALGO_INTEL) {
        flashLog(fn, ZELKOR_LOG_INFO, bus16 ? "Flash Type = 16 bit Intel" : "Flash Type = 8 bit Intel");
        *type = bus16 ? FLASH_TYPE_INTEL_16BIT : FLASH_TYPE_INTEL_8BIT;
    } else {
        flashLog(fn, ZELKOR_LOG_INFO,
                 bus16 ? "Invalid 16 bit flash found on board" : "Invalid 8 bit flash found on board");
        return 1;
    }
    return 0;
}

uint32_t flash_retrieveFlashSize() {
    return 1u << (gFlashInfo.DeviceSize & 31);
}

uint32_t flash_retrieveBlockSize() {
    for (int i = 0; i < 5; ++i) {
        gFlashInfo.BlockSize = 0;
        if (flash_init(0) == 0 && gFlashInfo.BlockSize != 0)
            return gFlashInfo.BlockSize;
    }
    return 0;
}
