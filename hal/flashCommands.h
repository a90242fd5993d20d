// The command sequences of the flash engine as data: one row per command set and bus width, chosen when a
// part is identified. Each cycle is one write; a failed cycle prints the primitive's line and then its own.
#ifndef ZELKOR_HAL_FLASH_COMMANDS_H
#define ZELKOR_HAL_FLASH_COMMANDS_H

#include <cstdint>

// Where a cycle's offset counts from.
enum class FlashFrom {
    Part,  // the part's base b
    Block, // the current block S
    Unit,  // the unit being programmed
};

struct FlashCycle {
    FlashFrom from;
    uint32_t offset;
    uint16_t value;
    bool word;           // a 16-bit write (else one byte)
    const char* failure; // printed with (value, offset written); null: the primitive's line only
    bool reportPart;     // the failure names b instead of the offset written
};

inline constexpr int kFlashMaxCycles = 5;

struct FlashSequence {
    FlashCycle cycles[kFlashMaxCycles];
    int count;
};

struct FlashCommandSet {
    const char* name;
    uint32_t algo; // FlashAlgo
    bool bus16;
    bool wordData; // units are 16-bit words
    FlashSequence program;
    const char* programFailed; // a failed prefix
    const char* dataFailed;    // a failed data write ("%x" of the offset for byte writes)
    FlashSequence blockErase;
    const char* blockEraseFailed; // printed after a failed block sequence
    FlashSequence chipErase;      // count 0: the part has no chip erase; every block is erased
    uint32_t eraseSleepMs;        // after every erase sequence
};

// The row for a command set on a bus width.
const FlashCommandSet* flashChooseCommandSet(uint32_t algo, bool bus16);

#endif
