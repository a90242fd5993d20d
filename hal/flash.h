// The NOR flash engine: identifies the parts behind an expander's flash window (CFI query first, then the
// identifier codes of four known parts without CFI), and erases and programs them with the AMD or the Intel
// command set. Every command cycle, data byte and status poll is one read or write of expander memory
// through the interface operations of the handle the engine was bound to. One flash at a time: the state is
// process-wide.
#ifndef ZELKOR_HAL_FLASH_H
#define ZELKOR_HAL_FLASH_H

#include "core/zelkor.h"

#include <cstdint>

// What is known of the part and where the current transfer stands. Addresses are window offsets.
typedef struct FLASH_INFO {
    uint8_t MultiplicationFactor; // 1: CFI offsets as they are, 2: doubled
    uint8_t DeviceSize;           // log2 of the part's size in bytes
    uint8_t MaxRegions;           // erase-block regions of the part
    uint8_t CurrentRegion;
    uint8_t CfiCompliance; // 1: identified by CFI, 0: from the table of parts without CFI
    uint8_t NonCfiIndex;
    uint16_t IdenticalBlocks; // blocks in the current region
    uint16_t CurrentBlock;    // index of the current block within its region
    uint32_t BaseFlashAddress;
    uint32_t ActualFlashAddress;
    uint32_t BlockSize;
    uint32_t CurrentBlockStartAddress;
    uint32_t AvailableFlash; // bytes of flash found, limited by the caller's size
    uint32_t FlashAlgo;      // 0 Intel, 1 AMD
    uint32_t BusIs16Bit;
} FLASH_INFO;

typedef struct NON_CFI_FLASH_ENTRY {
    uint8_t manufacturer;
    uint8_t device;
    uint32_t size;
    uint16_t regions;
    uint16_t algorithm; // the command set to drive the part with: 0 Intel, 1 AMD (as FlashAlgo)
    struct {
        uint32_t blockSize;
        uint32_t blocks;
    } region[8];
} NON_CFI_FLASH_ENTRY;

// Flash type codes handed to the hardware modules.
inline constexpr uint32_t FLASH_TYPE_INTEL_8BIT = 0;
inline constexpr uint32_t FLASH_TYPE_INTEL_16BIT = 1;
inline constexpr uint32_t FLASH_TYPE_AMD_8BIT = 3;
inline constexpr uint32_t FLASH_TYPE_AMD_16BIT = 4;
inline constexpr uint32_t FLASH_TYPE_NONE = 0xFFFFFFFFu;

inline constexpr uint32_t FLASH_ALGO_INTEL = 0;
inline constexpr uint32_t FLASH_ALGO_AMD = 1;
inline constexpr ZELKOR_STATUS FLASH_TOO_LARGE = 44;

extern ZELKOR_INSTANCE* gZelkorObj;
extern void* gIalHandle;
extern uint32_t gHardwareBaseAddress;
extern ZELKOR_REGION gRegion;
extern FLASH_INFO gFlashInfo;
extern uint8_t gOperationStarted;

// ---- for the hardware modules ----

// Binds the engine, reads the bus width, identifies the part at offset 0 and writes its type code.
ZELKOR_STATUS flash_retriveFlashType(ZELKOR_INSTANCE* handle, uint32_t base, uint32_t* type);
uint32_t flash_retrieveFlashSize();
uint32_t flash_retrieveBlockSize();
// Erases size bytes from the window offset; avail bounds the flash looked for.
ZELKOR_STATUS flash_performErasing(ZELKOR_INSTANCE* handle, uint32_t base, uint32_t offset, uint32_t size,
                                   uint32_t avail);
// Programs size bytes at the window offset, after one erase of the whole flash when wholeChip is set.
ZELKOR_STATUS flash_performDownloading(ZELKOR_INSTANCE* handle, uint32_t base, uint32_t offset, uint32_t size,
                                       const uint8_t* data, uint32_t avail, uint8_t wholeChip);

// ---- inside the engine ----

void flash_initGlobalVar(ZELKOR_INSTANCE* handle, uint32_t base);
ZELKOR_STATUS flash_writeByte(uint32_t offset, uint8_t value);
ZELKOR_STATUS flash_writeWord(uint32_t offset, uint16_t value);
ZELKOR_STATUS flash_readByte(uint32_t offset, uint8_t* out);
ZELKOR_STATUS flash_readBytes(uint32_t offset, uint32_t n, uint8_t* out);
ZELKOR_STATUS flash_reset();
uint32_t flash_getFlashBusSize();
ZELKOR_STATUS flash_decideMultiplicationFactor(uint32_t offset);
ZELKOR_STATUS flash_findCfiPart(uint32_t offset);
ZELKOR_STATUS flash_findIntelIdentifierInfo(uint8_t* answered, uint8_t* mfg, uint8_t* dev, uint32_t offset);
ZELKOR_STATUS flash_findAmdIdentifierInfo(uint8_t* mfg, uint8_t* dev, uint32_t offset);
ZELKOR_STATUS flash_findNonCfiPart(uint32_t offset);
ZELKOR_STATUS flash_findDeviceInfo(uint32_t offset);
ZELKOR_STATUS flash_readRegionInfo(uint8_t region, uint16_t* blocks, uint32_t* blockSize);
ZELKOR_STATUS flash_init(uint32_t offset);
ZELKOR_STATUS flash_refreshRegionInfo();
ZELKOR_STATUS flash_findAvailableFlash(uint32_t limit);
ZELKOR_STATUS flash_displayStructure();

ZELKOR_STATUS flash_programBytes(const uint8_t* data, uint32_t offset, uint32_t n);
ZELKOR_STATUS flash_eraseBlock();
ZELKOR_STATUS flash_eraseChip();
ZELKOR_STATUS flash_programByteIntel(uint32_t offset);
ZELKOR_STATUS flash_programByte8BitAmd(uint32_t offset);
ZELKOR_STATUS flash_programByte16BitAmd(uint32_t offset);
ZELKOR_STATUS flash_eraseBlockIntel();
ZELKOR_STATUS flash_eraseBlock8BitAmd();
ZELKOR_STATUS flash_eraseBlock16BitAmd();
ZELKOR_STATUS flash_eraseChipIntel();
ZELKOR_STATUS flash_eraseChip8BitAmd();
ZELKOR_STATUS flash_eraseChip16BitAmd();
ZELKOR_STATUS flash_toggleRoutine(uint32_t offset);
ZELKOR_STATUS flash_waitIntelComplete(uint32_t offset);
ZELKOR_STATUS flash_waitComplete(uint32_t offset);
ZELKOR_STATUS flash_postInit(uint32_t* remaining, uint32_t offset);
uint32_t flash_decideEraseState(uint32_t remaining);
ZELKOR_STATUS flash_checkForNextEraseOperation(uint32_t* state, uint32_t* nextOffset, uint32_t mode);
ZELKOR_STATUS flash_readEntireBlock(uint8_t** buffer, uint32_t remaining);
ZELKOR_STATUS flash_modifyBlock(const uint8_t** data, uint8_t* buffer, uint32_t remaining);
ZELKOR_STATUS flash_performErasingEnd(uint32_t keepFrom);
ZELKOR_STATUS flash_performErasingOnlyStart(uint32_t remaining);
ZELKOR_STATUS flash_performErasingOneBlock(uint32_t remaining);
void flash_printDot();

// Shared by the two halves of the engine.
void flashLog(const char* function, uint32_t level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// Reads n bytes in transfers of at most 32 KiB (no in-band or TCP transfer carries more).
ZELKOR_STATUS flashReadSpan(uint32_t offset, uint32_t n, uint8_t* out);
// The command-set row chosen by the last identification (bus and algorithm).
struct FlashCommandSet;
const FlashCommandSet* flashCommandSet();
// Finds every part from offset 0 up to the limit; 1 when the bus word cannot be read.
ZELKOR_STATUS flashFindParts(uint32_t limit);

#endif
