// Flash engine, second half: the command sequences, the completion polls, block and chip erase, programming
// with read-back, and the two operations the hardware modules call, each a state machine over the blocks of
// the range. Every span programmed is read back and every block erased is checked blank, so that a part
// that ignored a command is never reported as done.
#include "hal/flash.h"
#include "hal/flashCommands.h"
#include "osal/osalTime.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

uint8_t gOperationStarted = 0;

namespace {

using F = FlashFrom;

constexpr uint32_t kPollLimit = 0x400001;
constexpr uint32_t kTickBytes = 8192;
constexpr uint32_t kEraseTicks = 25;
constexpr uint32_t kCheckChunk = 0x8000;
constexpr uint8_t kDq6 = 0x40;
constexpr uint8_t kDq5 = 0x20;

// State numbers of the two operations.
enum : uint32_t {
    kPosition = 0,
    kReadBlock = 1,
    kModifyBlock = 2,
    kEraseBlock = 3,
    kProgramBlock = 5,
    kNextOrDone = 6,
    kNextBlock = 7,
    kDecide = 8,
    kOneBlock = 9,
    kOnlyStart = 10,
    kWholeBlock = 11,
    kEnd = 12,
};

// ---- the command sets as data ----

constexpr const char* kIntelReset =
    "\n\nERROR: Failed writing reset command 0x%x to Intel flash address 0x%x\n";
constexpr const char* k8Select1 =
    "\n\nERROR: Failed writing auto select1 command 0x%x to 8 bit AMD flash address 0x%x\n";
constexpr const char* k8Select2 =
    "\n\nERROR: Failed writing auto select2 command 0x%x to 8 bit AMD flash address 0x%x\n";
constexpr const char* k16Select1 =
    "\n\nERROR: Failed writing auto select1 command 0x%x to 16 bit AMD flash address 0x%x\n";
constexpr const char* k16Select2 =
    "\n\nERROR: Failed writing auto select2 command 0x%x to 16 bit AMD flash address 0x%x\n";
constexpr const char* k8Erase =
    "\n\nERROR: Failed writing erase command 0x%x to 8 bit AMD flash address 0x%x\n";
constexpr const char* k16Erase =
    "\n\nERROR: Failed writing erase command 0x%x to 16 bit AMD flash address 0x%x\n";

const FlashCommandSet kIntel{
    "Intel",
    FLASH_ALGO_INTEL,
    false,
    false,
    {{{F::Part, 0, 0xFF, false, kIntelReset, false},
      {F::Part, 0, 0x50, false,
       "\n\nERROR: Failed writing clear command status 0x%x to Intel flash address 0x%x\n", false},
      {F::Part, 0, 0xFF, false, kIntelReset, false},
      {F::Unit, 0, 0x40, false,
       "\n\nERROR: Failed writing program command 0x%x to Intel flash address 0x%x\n", true}},
     4},
    "\n\nERROR: Failed byte programming 8 bit Intel flash",
    "\n\nERROR: Failed writing byte at 0x%x\n",
    {{{F::Part, 0, 0xFF, false, kIntelReset, false},
      {F::Part, 0, 0x50, false,
       "\n\nERROR: Failed writing command clear status 0x%x to Intel flash address 0x%x\n", false},
      {F::Part, 0, 0xFF, false, kIntelReset, false},
      {F::Block, 0, 0x20, false, "\n\nERROR: Failed writing erase command 0x%x to Intel flash address 0x%x\n",
       false},
      {F::Block, 0, 0xD0, false,
       "\n\nERROR: Failed writing erase confirm command 0x%x to Intel flash address 0x%x\n", false}},
     5},
    "\n\nERROR: Failed Erase Block on Intel flash",
    {{}, 0}, // no chip erase: every block is erased
    0,
};

const FlashCommandSet kAmd8{
    "8 bit AMD",
    FLASH_ALGO_AMD,
    false,
    false,
    {{{F::Part, 0xAAA, 0xAA, false, k8Select1, false},
      {F::Part, 0x555, 0x55, false, k8Select2, false},
      {F::Part, 0xAAA, 0xA0, false,
       "\n\nERROR: Failed writing program command 0x%x to 8 bit AMD flash address 0x%x\n", false}},
     3},
    "\n\nERROR: Failed byte programming 8 bit AMD flash",
    "\n\nERROR: Failed writing byte at 0x%x\n",
    {{{F::Part, 0xAAA, 0xAA, false, k8Select1, false},
      {F::Part, 0x555, 0x55, false, k8Select2, false},
      {F::Part, 0xAAA, 0x80, false, k8Erase, false},
      {F::Part, 0xAAA, 0xAA, false, k8Select1, false},
      {F::Part, 0x555, 0x55, false, k8Select2, false}},
     5},
    "\n\nERROR: Failed Erase Block on 8 bit AMD flash",
    {{{F::Block, 0xAAA, 0x10, false,
       "\n\nERROR: Failed writing erase confirm command 0x%x to 8 bit AMD flash address 0x%x\n", false}},
     1},
    0,
};

// On a 16-bit bus the unlock words sit at byte offsets 0xAAA and 0x555 (words 0x555 and 0x2AA), for the
// program prefix as for the erase, and the chip erase is confirmed at the unlock address.
const FlashCommandSet kAmd16{
    "16 bit AMD",
    FLASH_ALGO_AMD,
    true,
    true,
    {{{F::Part, 0xAAA, 0xAA, false, k16Select1, false},
      {F::Part, 0x555, 0x55, false, k16Select2, false},
      {F::Part, 0xAAA, 0xA0, false,
       "\n\nERROR: Failed writing program command 0x%x to 16 bit AMD flash address 0x%x\n", false}},
     3},
    "\n\nERROR: Failed byte programming 16 bit AMD flash",
    "\n\nERROR: Failed word programming 16 bit AMD flash",
    {{{F::Part, 0xAAA, 0xAA, false, k16Select1, false},
      {F::Part, 0x555, 0x55, false, k16Select2, false},
      {F::Part, 0xAAA, 0x80, false, k16Erase, false},
      {F::Part, 0xAAA, 0xAA, false, k16Select1, false},
      {F::Part, 0x555, 0x55, false, k16Select2, false}},
     5},
    "\n\nERROR: Failed Erase Block on 16 bit AMD flash",
    {{{F::Part, 0xAAA, 0x0010, true,
       "\n\nERROR: Failed writing erase confirm command 0x%x to 16 bit AMD flash address 0x%x\n", false}},
     1},
    500,
};

const FlashCycle kAmd8BlockConfirm{F::Block, 0xAAA, 0x30, false, nullptr, false};
const FlashCycle kAmd16BlockConfirm{
    F::Block,
    0,
    0x0030,
    true,
    "\n\nERROR: Failed writing erase confirm command 0x%x to 16 bit AMD flash address 0x%x\n",
    false};

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

const FlashCommandSet& commands() {
    const FlashCommandSet* set = flashCommandSet();
    return set != nullptr ? *set : kAmd8;
}

ZELKOR_STATUS runCycle(const FlashCycle& c, uint32_t unit) {
    const FLASH_INFO& g = gFlashInfo;
    const uint32_t from = c.from == F::Part    ? g.BaseFlashAddress
                          : c.from == F::Block ? g.CurrentBlockStartAddress
                                               : unit;
    const uint32_t at = from + c.offset;
    const ZELKOR_STATUS s =
        c.word ? flash_writeWord(at, c.value) : flash_writeByte(at, static_cast<uint8_t>(c.value));
    if (s == 0)
        return 0;
    if (c.failure != nullptr)
        say(c.failure, c.value, c.reportPart ? g.BaseFlashAddress : at);
    return 1;
}

ZELKOR_STATUS runSequence(const FlashSequence& q, uint32_t unit) {
    for (int i = 0; i < q.count; ++i)
        if (runCycle(q.cycles[i], unit) != 0)
            return 1;
    return 0;
}

// Every byte of the span reads back as wanted (null: as erased).
ZELKOR_STATUS verifySpan(uint32_t offset, uint32_t n, const uint8_t* want) {
    std::unique_ptr<uint8_t[]> got(new (std::nothrow) uint8_t[kCheckChunk]);
    if (!got)
        return 1;
    for (uint32_t done = 0; done < n;) {
        const uint32_t chunk = n - done < kCheckChunk ? n - done : kCheckChunk;
        if (flash_readBytes(offset + done, chunk, got.get()) != 0)
            return 1;
        for (uint32_t i = 0; i < chunk; ++i) {
            const uint8_t expected = want != nullptr ? want[done + i] : 0xFF;
            if (got[i] != expected) {
                say(want != nullptr ? "\n\nERROR: Flash verify failed at 0x%x\n"
                                    : "\n\nERROR: Flash blank check failed at 0x%x\n",
                    offset + done + i);
                return 1;
            }
        }
        done += chunk;
    }
    return 0;
}

// The block-sized working buffer of an operation.
std::unique_ptr<uint8_t[]> sBlock;
uint32_t sBlockSize = 0;
bool sDownloading = false;

uint8_t* blockBuffer() {
    if (!sBlock || sBlockSize < gFlashInfo.BlockSize) {
        sBlock.reset(new (std::nothrow) uint8_t[gFlashInfo.BlockSize]);
        sBlockSize = sBlock ? gFlashInfo.BlockSize : 0;
    }
    return sBlock.get();
}

uint32_t partEnd() {
    return gFlashInfo.BaseFlashAddress + (1u << gFlashInfo.DeviceSize);
}

// Clears the operation flag on every way out.
struct OperationScope {
    explicit OperationScope(bool downloading) { sDownloading = downloading; }
    ~OperationScope() {
        gOperationStarted = 0;
        sBlock.reset();
        sBlockSize = 0;
    }
};

// Reads the block at S, erases it and programs back the bytes [from, to) of it.
ZELKOR_STATUS eraseKeeping(uint32_t keepBefore, uint32_t keepFrom, const char* readFailed, bool readNamesS,
                           const char* eraseFailed, const char* programFailed) {
    const FLASH_INFO& g = gFlashInfo;
    const uint32_t s = g.CurrentBlockStartAddress;
    uint8_t* buffer = blockBuffer();
    if (buffer == nullptr)
        return 1;
    if (flashReadSpan(s, g.BlockSize, buffer) != 0) {
        if (readNamesS)
            say(readFailed, s);
        else
            say("%s", readFailed);
        return 1;
    }
    const uint32_t size = g.BlockSize;
    if (flash_eraseBlock() != 0) {
        say("%s", eraseFailed);
        return 1;
    }
    if ((keepBefore > 0 && flash_programBytes(buffer, s, keepBefore) != 0) ||
        (keepFrom < size && flash_programBytes(buffer + keepFrom, s + keepFrom, size - keepFrom) != 0)) {
        say("%s", programFailed);
        return 1;
    }
    return 0;
}

} // namespace

const FlashCommandSet* flashChooseCommandSet(uint32_t algo, bool bus16) {
    if (algo == FLASH_ALGO_INTEL)
        return &kIntel;
    return bus16 ? &kAmd16 : &kAmd8;
}

void flash_printDot() {
    if (gZelkorObj != nullptr && gZelkorObj->progress != nullptr)
        gZelkorObj->progress(1, 0);
}

ZELKOR_STATUS flash_programByteIntel(uint32_t a) {
    return runSequence(kIntel.program, a);
}

ZELKOR_STATUS flash_programByte8BitAmd(uint32_t a) {
    return runSequence(kAmd8.program, a);
}

ZELKOR_STATUS flash_programByte16BitAmd(uint32_t a) {
    return runSequence(kAmd16.program, a);
}

ZELKOR_STATUS flash_eraseBlockIntel() {
    return runSequence(kIntel.blockErase, 0);
}

ZELKOR_STATUS flash_eraseBlock8BitAmd() {
    return runSequence(kAmd8.blockErase, 0) || runCycle(kAmd8BlockConfirm, 0);
}

ZELKOR_STATUS flash_eraseBlock16BitAmd() {
    if (runSequence(kAmd16.blockErase, 0) || runCycle(kAmd16BlockConfirm, 0))
        return 1;
    osal_sleepMs(kAmd16.eraseSleepMs);
    return 0;
}

ZELKOR_STATUS flash_eraseChip8BitAmd() {
    return runSequence(kAmd8.blockErase, 0) || runSequence(kAmd8.chipErase, 0);
}

ZELKOR_STATUS flash_eraseChip16BitAmd() {
    if (runSequence(kAmd16.blockErase, 0) || runSequence(kAmd16.chipErase, 0))
        return 1;
    osal_sleepMs(kAmd16.eraseSleepMs);
    return 0;
}

// The Intel set has no chip erase: every block of the part is erased in turn, each polled and reset.
ZELKOR_STATUS flash_eraseChipIntel() {
    FLASH_INFO& g = gFlashInfo;
    const uint32_t savedS = g.CurrentBlockStartAddress;
    uint32_t s = g.BaseFlashAddress;
    for (uint8_t r = 0; r < g.MaxRegions; ++r) {
        uint16_t blocks = 0;
        uint32_t size = 0;
        if (flash_readRegionInfo(r, &blocks, &size) != 0 || blocks == 0 || size == 0)
            return 1;
        for (uint32_t b = 0; b < blocks; ++b, s += size) {
            g.CurrentBlockStartAddress = s;
            if (flash_eraseBlockIntel() != 0 || flash_waitIntelComplete(s) != 0) {
                flash_reset();
                return 1;
            }
            if (flash_reset() != 0)
                return 1;
        }
    }
    g.CurrentBlockStartAddress = savedS;
    return 0;
}

ZELKOR_STATUS flash_toggleRoutine(uint32_t a) {
    uint8_t old = 0;
    if (flash_readByte(a, &old) != 0) {
        say("\n\nERROR: Failed reading Dq6 from flash at address 0x%x\n", a);
        return 1;
    }
    for (uint32_t counter = 0;; ++counter) {
        uint8_t now = 0;
        if (flash_readByte(a, &now) != 0) {
            say("\n\nERROR: Failed reading Dq6 and Dq5 from flash at address 0x%x\n", a);
            return 1;
        }
        if (((old ^ now) & kDq6) == 0)
            return 0;
        if (counter == kPollLimit) {
            say("\n\nERROR: Flash access timeout");
            return 1;
        }
        if ((now & kDq5) != 0) {
            uint8_t first = 0;
            uint8_t second = 0;
            if (flash_readByte(a, &first) != 0 || flash_readByte(a, &second) != 0)
                return 1;
            return ((first ^ second) & kDq6) != 0 ? 1 : 0;
        }
        old = now;
    }
}

ZELKOR_STATUS flash_waitIntelComplete(uint32_t a) {
    const uint32_t b = gFlashInfo.BaseFlashAddress;
    if (flash_writeByte(b, 0x70) != 0) {
        say("\n\nERROR: Failed writing command 0x%x for reading status at flash at address 0x%x\n", 0x70, b);
        return 1;
    }
    for (uint32_t counter = 0;; ++counter) {
        uint8_t status = 0;
        if (flash_readByte(a, &status) != 0) {
            say("\n\nERROR: Failed reading data from flash at address 0x%x\n", a);
            return 1;
        }
        if ((status & 0x80) != 0) {
            if ((status & 0x7F) != 0) {
                say("\n\nERROR: Flash ready bit is not set");
                return 1;
            }
            return 0;
        }
        if (counter == kPollLimit) {
            say("\n\nERROR: Flash access timeout");
            return 1;
        }
    }
}

ZELKOR_STATUS flash_waitComplete(uint32_t a) {
    return gFlashInfo.FlashAlgo == FLASH_ALGO_AMD ? flash_toggleRoutine(a) : flash_waitIntelComplete(a);
}

ZELKOR_STATUS flash_programBytes(const uint8_t* data, uint32_t a, uint32_t n) {
    flashLog("flash_programBytes()", ZELKOR_LOG_INFO, "Programming %ld bytes starting from %ld\n",
             static_cast<long>(n), static_cast<long>(a));
    if (n == 0)
        return 0;
    const FlashCommandSet& set = commands();
    const bool words = gFlashInfo.BusIs16Bit == 1 && gFlashInfo.FlashAlgo == FLASH_ALGO_AMD;
    const FlashCommandSet& unitSet = words ? kAmd16 : set;
    const uint32_t start = a;
    const uint32_t total = n;
    const uint8_t* from = data;
    uint32_t count = 0;
    ZELKOR_STATUS result = 0;
    while (n > 0) {
        if (runSequence(unitSet.program, a) != 0) {
            say("%s", unitSet.programFailed);
            return 1;
        }
        if (words) {
            // An odd count ends with a word whose upper byte is 0xFF: programming it changes nothing.
            const uint16_t word = static_cast<uint16_t>(from[0] | (n >= 2 ? from[1] : 0xFF) << 8);
            if (flash_writeWord(a, word) != 0) {
                say("%s", unitSet.dataFailed);
                return 1;
            }
        } else if (flash_writeByte(a, from[0]) != 0) {
            say(unitSet.dataFailed, a);
            return 1;
        }
        const uint32_t step = words ? 2 : 1;
        count += step;
        if (count >= kTickBytes) {
            flash_printDot();
            count = 0;
        }
        if (flash_waitComplete(a) != 0) {
            say("\n\nERROR: Failed flash program cycle at 0x%x\n", a);
            flash_reset(); // a failed poll leaves the part showing its status
            return 1;
        }
        const bool last = n <= step;
        result = flash_reset() != 0 && last ? 1 : 0;
        n = last ? 0 : n - step;
        a += step;
        from += step;
    }
    if (result != 0)
        return result;
    return verifySpan(start, total, data);
}

ZELKOR_STATUS flash_eraseBlock() {
    const char* fn = "flash_eraseBlock";
    const FLASH_INFO& g = gFlashInfo;
    const FlashCommandSet& set = commands();
    const uint32_t s = g.CurrentBlockStartAddress;
    ZELKOR_STATUS step = 0;
    if (&set == &kAmd16)
        step = flash_eraseBlock16BitAmd();
    else if (&set == &kAmd8)
        step = flash_eraseBlock8BitAmd();
    else
        step = flash_eraseBlockIntel();
    if (step != 0)
        say("%s", set.blockEraseFailed);
    else if (flash_waitComplete(s) != 0) {
        say("\n\nERROR: Failed flash erase block on 0x%x address\n", s);
        step = 1;
    }
    if (step != 0) {
        flashLog(fn, ZELKOR_LOG_ERROR, "FLASH block erase operation **** FAILED ****");
        flash_reset();
        return 1;
    }
    flashLog(fn, ZELKOR_LOG_INFO, "FLASH Block = %ld erased successfully", static_cast<long>(g.CurrentBlock));
    if (flash_reset() != 0)
        return 1;
    return verifySpan(s, g.BlockSize, nullptr);
}

ZELKOR_STATUS flash_eraseChip() {
    const char* fn = "flash_eraseChip()";
    const FLASH_INFO& g = gFlashInfo;
    const FlashCommandSet& set = commands();
    ZELKOR_STATUS step = 0;
    if (&set == &kAmd16)
        step = flash_eraseChip16BitAmd();
    else if (&set == &kAmd8)
        step = flash_eraseChip8BitAmd();
    else
        step = flash_eraseChipIntel();
    if (step == 0 && &set != &kIntel && flash_waitComplete(g.CurrentBlockStartAddress) != 0)
        step = 1;
    if (step != 0) {
        flashLog(fn, ZELKOR_LOG_ERROR, "FLASH chip erase operation **** FAILED ****");
        flash_reset();
        return 1;
    }
    flashLog(fn, ZELKOR_LOG_INFO, "FLASH chip erased successfully");
    if (flash_reset() != 0)
        return 1;
    return verifySpan(g.BaseFlashAddress, 1u << g.DeviceSize, nullptr);
}

ZELKOR_STATUS flash_postInit(uint32_t* remaining, uint32_t t) {
    if (flash_init(t) != 0) {
        say(sDownloading ? "\n\nERROR: Failed flash init at offset 0x%x\n"
                         : "\n\nERROR: Failed flash init in erase operation at address 0x%x\n",
            t);
        return 1;
    }
    flash_displayStructure();
    if (gOperationStarted == 0) {
        gOperationStarted = 1;
        *remaining = *remaining + t - gFlashInfo.CurrentBlockStartAddress;
    }
    return 0;
}

uint32_t flash_decideEraseState(uint32_t remaining) {
    FLASH_INFO& g = gFlashInfo;
    uint32_t a = g.ActualFlashAddress;
    if (a == 0) {
        g.ActualFlashAddress = g.CurrentBlockStartAddress;
        a = g.CurrentBlockStartAddress;
    }
    const uint32_t s = g.CurrentBlockStartAddress;
    if (a > s)
        return g.BlockSize < remaining ? kOnlyStart : kOneBlock;
    if (a < s)
        return kPosition;
    return uint64_t{remaining} + 1 < g.BlockSize ? kEnd : kWholeBlock;
}

ZELKOR_STATUS flash_checkForNextEraseOperation(uint32_t* state, uint32_t* nextOffset, uint32_t mode) {
    FLASH_INFO& g = gFlashInfo;
    const uint32_t next = mode == 1 ? kReadBlock : kDecide;
    if (g.CurrentBlock + 1 < g.IdenticalBlocks) {
        ++g.CurrentBlock;
        g.CurrentBlockStartAddress += g.BlockSize;
        g.ActualFlashAddress = g.CurrentBlockStartAddress;
        *state = next;
        return 0;
    }
    if (g.CurrentRegion + 1 < g.MaxRegions) {
        ++g.CurrentRegion;
        g.CurrentBlockStartAddress += g.BlockSize;
        g.ActualFlashAddress = g.CurrentBlockStartAddress;
        if (flash_refreshRegionInfo() != 0)
            return 1;
        *state = next;
        return 0;
    }
    g.ActualFlashAddress = partEnd();
    *nextOffset = g.ActualFlashAddress;
    *state = kPosition;
    return 0;
}

ZELKOR_STATUS flash_readEntireBlock(uint8_t** buffer, uint32_t remaining) {
    const FLASH_INFO& g = gFlashInfo;
    *buffer = blockBuffer();
    if (*buffer == nullptr)
        return 1;
    if (g.ActualFlashAddress == g.CurrentBlockStartAddress && remaining >= g.BlockSize)
        return 0; // overwritten whole
    return flashReadSpan(g.CurrentBlockStartAddress, g.BlockSize, *buffer);
}

ZELKOR_STATUS flash_modifyBlock(const uint8_t** data, uint8_t* buffer, uint32_t remaining) {
    const char* fn = "flash_performDownloading()";
    const FLASH_INFO& g = gFlashInfo;
    flashLog(fn, ZELKOR_LOG_INFO, "Entering modify block");
    const uint32_t h = g.ActualFlashAddress - g.CurrentBlockStartAddress;
    if (h < g.BlockSize && h < remaining) {
        const uint32_t n = g.BlockSize - h < remaining - h ? g.BlockSize - h : remaining - h;
        std::memcpy(buffer + h, *data, n);
        *data += n;
    }
    flashLog(fn, ZELKOR_LOG_INFO, "Modify block done");
    return 0;
}

ZELKOR_STATUS flash_performErasingEnd(uint32_t keepFrom) {
    if (eraseKeeping(0, keepFrom, "\n\nERROR: Flash read failed at address 0x%x\n", true,
                     "\n\nERROR: Failed erasing the block", "\n\nERROR: Failed programming the bytes") != 0) {
        say("\n\nERROR: Failed finishing flash erase operation for bytes 0x%x\n", keepFrom);
        return 1;
    }
    return 0;
}

ZELKOR_STATUS flash_performErasingOnlyStart(uint32_t remaining) {
    const FLASH_INFO& g = gFlashInfo;
    if (eraseKeeping(g.ActualFlashAddress - g.CurrentBlockStartAddress, g.BlockSize,
                     "\n\nERROR: Failed reading bytes", false, "\n\nERROR: Failed erasing the block",
                     "\n\nERROR: Failed programming the bytes") != 0) {
        say("\n\nERROR: Failed staring erase operaton for bytes 0x%x\n", remaining);
        return 1;
    }
    return 0;
}

// The range begins after the block start and ends inside the block: the bytes before and after it are
// read, the block erased and those bytes programmed back.
ZELKOR_STATUS flash_performErasingOneBlock(uint32_t remaining) {
    const FLASH_INFO& g = gFlashInfo;
    return eraseKeeping(g.ActualFlashAddress - g.CurrentBlockStartAddress, remaining,
                        "\n\nERROR: Failed reading block while erasing block", false,
                        "\n\nERROR: Failed erasing block", "\n\nERROR: Failed programming the bytes");
}

namespace {

// Refusals, the flash found and the range checked; 0 to go on, else the status to end with.
ZELKOR_STATUS commonStart(uint32_t offset, uint32_t size, uint32_t avail, bool download) {
    const char* tooLarge =
        download ? "\n\nERROR: Download size of 0x%x is greater than available flash of 0x%x size\n"
                 : "\n\nERROR: Erase size of 0x%x is greater than available flash of 0x%x size\n";
    if (flashFindParts(avail) != 0)
        return 1;
    const uint32_t found = gFlashInfo.AvailableFlash;
    if (found == 0) {
        say(tooLarge, size, 0);
        return 1;
    }
    // Nothing is written past the flash found: a download that does not fit is refused whole, an erase may
    // not begin beyond it.
    if (download && uint64_t{offset} + size > found) {
        say(tooLarge, size, found);
        return FLASH_TOO_LARGE;
    }
    if (!download && offset >= found) {
        say(tooLarge, size, found);
        return 1;
    }
    return 0;
}

// Positions on each part from offset 0 and erases it whole; with data, programs the part's share of it.
ZELKOR_STATUS eachPartWhole(const uint8_t* data, uint32_t size, const char* eraseFailed) {
    const char* fn = "flash_performDownloading()";
    uint32_t p = 0;
    while (p < gFlashInfo.AvailableFlash) {
        uint32_t remaining = 0;
        if (flash_postInit(&remaining, p) != 0)
            return 1;
        if (flash_eraseChip() != 0) {
            say("%s", eraseFailed);
            return 1;
        }
        const uint32_t end = partEnd();
        if (data != nullptr) {
            flashLog(fn, ZELKOR_LOG_INFO, "Flash erase chip done");
            flashLog(fn, ZELKOR_LOG_INFO, "Entering Program block");
            const uint32_t n = p >= size ? 0 : (size - p < end - p ? size - p : end - p);
            if (flash_programBytes(data + p, p, n) != 0) {
                say("\n\nERROR: Failed programming flash at address 0x%x\n",
                    gFlashInfo.CurrentBlockStartAddress);
                return 1;
            }
            flashLog(fn, ZELKOR_LOG_INFO, "Program block done");
        }
        if (end <= p)
            return 1;
        p = end;
    }
    return 0;
}

} // namespace

ZELKOR_STATUS flash_performErasing(ZELKOR_INSTANCE* handle, uint32_t base, uint32_t offset, uint32_t size,
                                   uint32_t avail) {
    flash_initGlobalVar(handle, base);
    if (avail == 0 || size == 0 || base == 0)
        return 1;
    OperationScope scope(false);
    if (const ZELKOR_STATUS s = commonStart(offset, size, avail, false))
        return s;
    FLASH_INFO& g = gFlashInfo;
    // The whole flash only from its start: a range that begins later keeps what lies before it.
    if (offset == 0 && uint64_t{size} + 1 >= g.AvailableFlash)
        return eachPartWhole(nullptr, 0, "\n\nERROR: Failed erasing chip in erase operation");
    // What lies past the flash found is not there to erase.
    if (uint64_t{offset} + size > g.AvailableFlash)
        size = g.AvailableFlash - offset;

    uint32_t remaining = size;
    uint32_t t = offset;
    const uint32_t unit = size / kEraseTicks;
    uint32_t ticksDue = kEraseTicks;
    uint32_t ticksGiven = 0;
    uint32_t state = kPosition;
    int repositioned = 0;
    for (;;) {
        switch (state) {
        case kPosition:
            if (flash_postInit(&remaining, t) != 0)
                return 1;
            state = kDecide;
            break;
        case kDecide:
            state = flash_decideEraseState(remaining);
            if (state == kPosition) {
                // The range lies before the block found: position on it once more, but never loop.
                if (++repositioned > 1)
                    return 1;
                t = g.ActualFlashAddress;
            }
            break;
        case kOneBlock:
            if (flash_performErasingOneBlock(remaining) != 0) {
                say("\n\nERROR: Failed erasing one block for bytes 0x%x\n", remaining);
                return 1;
            }
            return 0;
        case kOnlyStart:
            if (flash_performErasingOnlyStart(remaining) != 0)
                return 1;
            state = kNextOrDone;
            break;
        case kWholeBlock:
            if (flash_eraseBlock() != 0) {
                say("\n\nERROR: Failed flash erase block in erase operation");
                return 1;
            }
            state = kNextOrDone;
            break;
        case kEnd:
            return flash_performErasingEnd(remaining);
        case kNextOrDone:
            if (remaining <= g.BlockSize) {
                for (; ticksGiven < kEraseTicks; ++ticksGiven)
                    flash_printDot();
                return 0;
            }
            remaining -= g.BlockSize;
            if (unit > 0) {
                const uint32_t due = remaining / unit;
                for (; due < ticksDue; --ticksDue, ++ticksGiven)
                    flash_printDot();
            }
            state = kNextBlock;
            break;
        case kNextBlock:
            if (flash_checkForNextEraseOperation(&state, &t, 0) != 0)
                return 1;
            break;
        default:
            return 1;
        }
    }
}

ZELKOR_STATUS flash_performDownloading(ZELKOR_INSTANCE* handle, uint32_t base, uint32_t offset, uint32_t size,
                                       const uint8_t* data, uint32_t avail, uint8_t wholeChip) {
    flash_initGlobalVar(handle, base);
    if (avail == 0 || size == 0 || base == 0 || data == nullptr)
        return 1;
    OperationScope scope(true);
    if (const ZELKOR_STATUS s = commonStart(offset, size, avail, true))
        return s;
    FLASH_INFO& g = gFlashInfo;
    // A whole-flash erase only for data that begins at the flash start.
    if (wholeChip != 0 && offset == 0)
        return eachPartWhole(data, size, "\n\nERROR: Failed erasing complete chip");

    const char* fn = "flash_performDownloading()";
    uint32_t remaining = size;
    uint32_t t = offset;
    const uint8_t* from = data;
    uint8_t* buffer = nullptr;
    uint32_t state = kPosition;
    for (;;) {
        switch (state) {
        case kPosition:
            if (flash_postInit(&remaining, t) != 0)
                return 1;
            state = kReadBlock;
            break;
        case kReadBlock:
            if (flash_readEntireBlock(&buffer, remaining) != 0)
                return 1;
            state = kModifyBlock;
            break;
        case kModifyBlock:
            flash_modifyBlock(&from, buffer, remaining);
            state = kEraseBlock;
            break;
        case kEraseBlock:
            if (flash_eraseBlock() != 0) {
                say("\n\nERROR: Failed erasing block on chip");
                return 1;
            }
            flashLog(fn, ZELKOR_LOG_INFO, "Erase block done");
            state = kProgramBlock;
            break;
        case kProgramBlock:
            if (flash_programBytes(buffer, g.CurrentBlockStartAddress, g.BlockSize) != 0) {
                say("\n\nERROR: Failed programming flash at address 0x%x\n", g.CurrentBlockStartAddress);
                return 1;
            }
            remaining = remaining < g.BlockSize ? 0 : remaining - g.BlockSize;
            state = kNextOrDone;
            break;
        case kNextOrDone:
            if (remaining == 0)
                return 0;
            state = kNextBlock;
            break;
        case kNextBlock:
            if (flash_checkForNextEraseOperation(&state, &t, 1) != 0)
                return 1;
            break;
        default:
            return 1;
        }
    }
}
