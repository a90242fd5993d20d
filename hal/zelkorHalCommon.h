// What the three hardware modules share: their instance and its list, the family descriptor that holds
// everything in which the families differ, the routines every module operation is built from, and the
// operations themselves, written once and parameterised by the descriptor.
#ifndef ZELKOR_HAL_COMMON_H
#define ZELKOR_HAL_COMMON_H

#include "core/firmwareImage.h"
#include "core/zelkor.h"
#include "hal/zelkorHalRegionOps.h"
#include "hal/zelkorHalTopology.h"
#include "hal/zelkorHalXml.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>

// One per opened handle, opaque to the core.
struct HalFamily;
struct ZELKOR_HAL_INSTANCE {
    ZELKOR_INSTANCE* handle;
    const HalFamily* family;          // the module that opened it
    FILE* loadedFile;                 // the image file whose contents are in image
    std::unique_ptr<uint8_t[]> image; // its contents, rounded up to whole words and zero-filled
    uint32_t imageSize;               // its size as the file has it
    uint32_t chipType;                // the expander type the open was given (Quenza: 5 is variant Dax)
};

// Every opened hardware instance of any module.
extern LL_LIST* gHALInstanceList;
// Bit 0: gHALInstanceList exists.
extern uint32_t gHBFlags;
inline constexpr uint32_t HAL_FLAG_LIST_CREATED = 1;

// Statuses the modules answer themselves.
inline constexpr ZELKOR_STATUS HAL_FAILURE = 1;
inline constexpr ZELKOR_STATUS HAL_NOT_APPLICABLE = 2; // operation not built into this module
inline constexpr ZELKOR_STATUS HAL_INVALID_HANDLE = 4;
inline constexpr ZELKOR_STATUS HAL_INVALID_ARGUMENT = 5;
inline constexpr ZELKOR_STATUS HAL_NO_MEMORY = 6;
inline constexpr ZELKOR_STATUS HAL_NOT_INITIALISED = 7;
inline constexpr ZELKOR_STATUS HAL_LIST_REFUSED = 13;
inline constexpr ZELKOR_STATUS HAL_NO_MEMORY_WINDOW = 17;
inline constexpr ZELKOR_STATUS HAL_NO_DYNAMIC_REGIONS = 26;
inline constexpr ZELKOR_STATUS HAL_UNSUPPORTED_EXPANDER = 29;
inline constexpr ZELKOR_STATUS HAL_FOREIGN_FIRMWARE = 32;
inline constexpr ZELKOR_STATUS HAL_CONNECTION_DROPPED = 62; // TCP peer hung up after a reset request

// Ethernet settings: the field selectors and the size code that asks the interface for a page patch.
inline constexpr uint8_t ETHERNET_FIELD_LAST = 3; // 0 address, 1 mask, 2 gateway, 3 DHCP
inline constexpr uint32_t ETHERNET_SIZE_CODE = 0xE6;
inline constexpr uint32_t ETHERNET_VALUE_SIZE = 4;

inline constexpr uint32_t SMART_CLI_BIT = 0x400;
// ARM run control registers (Ostrel and Palx share one); the boot address is the next word.
inline constexpr uint32_t ARM_CONTROL_OSTREL = 0x40F00000u;
inline constexpr uint32_t ARM_CONTROL_QUENZA = 0x43C00000u;
inline constexpr uint32_t ARM_BOOT_ADDRESS_OFFSET = 4;

// Starts or stops the expander's processor through the memory window given; the interface status.
using ArmRunControl = ZELKOR_STATUS (*)(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* window);

// Everything in which the families differ, as data. Texts are the module's own log lines; a null text
// means the family writes no such line. Texts that carry numbers take them in the order noted.
struct HalFamily {
    const char* module; // log module name
    uint32_t logType;   // type bits of the module's log lines

    // Regions: the rows open always adds, the rows added when the interface wants designated regions.
    std::span<const ZELKOR_REGION> staticRows;
    std::span<const ZELKOR_REGION> designatedRows;
    bool readsFlash;               // open reads the firmware header and the flash table
    bool progressAfterRows;        // open reports one progress event once the rows are in
    uint32_t headerRow;            // index in staticRows of the row the header and the table are read through
    uint32_t flashBase;            // expander address of the flash
    uint32_t flashBytes;           // bytes of the flash
    uint32_t flashTableSize;       // bytes of the FLASH_TABLE read: its head and flashTableCapacity() entries
    bool partitionsByEntryId;      // partition rows named by the entry's id (else by its table position)
    bool lenientHeaderOnDebugPort; // a foreign header over the debug port still lets some commands on
    FwSignature signature;

    // Registers.
    uint32_t ethernetPageId; // 0: the family has no Ethernet settings
    uint32_t miscControl;
    bool smartCliMergesBit; // smart CLI ORs its bit into the register (else writes the bit alone)
    uint32_t chipResetRegister;
    uint32_t chipResetKey;
    uint32_t watchdogRegister;          // 0: no watchdog reset; every kind asks for the chip reset
    uint32_t watchdogRegisterDebugPort; // the same over the debug port
    uint32_t watchdogWord;
    uint32_t armControl;               // ARM run control; the boot address is the next word
    ArmRunControl armStart;            // the family's start and stop at that register
    ArmRunControl armStop;             // (startArm and stopArm, or the Quenza pair)
    uint32_t miscSetAfterWatchdog;     // bits set in misc control after a watchdog reset over the debug port
    uint32_t watchdogDelayDebugPortMs; // wait before a watchdog reset over the debug port
    bool announcesRegionLookup;        // the Ethernet and reset operations log the region lookup

    // Texts of open.
    const char* allocationFailed; // (instance size)
    const char* rowsFailed;
    const char* populateFailed;
    const char* designatedFailed;
    const char* headerRead;           // (84, 0)
    const char* headerReadFailed;     // (84, 0)
    const char* dynamicRegionsFailed; // after a failed header or table read
    const char* headerValidating;
    const char* headerForeign;
    const char* tableRead;       // (table size, table offset)
    const char* tableReadFailed; // (table size, table offset)
    const char* updatingRegions;
    const char* updatingRegionsFailed;
    const char* flashBlank;
    // Texts of close and getRegions.
    const char* removeFailed;
    const char* copyFailed; // (node size)
    const char* copyDone;
    // Texts of the chip reset: (4, register) or, with chipResetTextsNameKey, (key, register).
    const char* chipResetAnnounce;
    const char* chipResetFailed; // null: the family logs no failed reset write
    bool chipResetTextsNameKey;
    // A chip that resets may drop the command that reset it. Without resetWritesChecked the statuses of
    // the reset writes are not looked at (a failed read still ends a watchdog reset); with
    // chipResetTakesHangUp a TCP peer's hang-up (62) after the chip reset write counts as sent.
    bool resetWritesChecked;
    bool chipResetTakesHangUp;

    // Region download, upload and erase, and the image checks.
    const HalRegionData* regionOps;
    // Phys, ports, devices, route table, zones and phy reset.
    const HalTopology* topology;

    // XML conversions (zelkorHalXml.h).
    const HalXmlRoute* xmlRoute;
};

// ---- common routines ----

// Writes one line of the family's log through the handle's log function (nothing without one).
void halLog(const HalFamily& family, const ZELKOR_INSTANCE* handle, const char* function, uint32_t level,
            const char* format, ...) __attribute__((format(printf, 5, 6)));
void halLogEntry(const HalFamily& family, const ZELKOR_INSTANCE* handle, const char* function);

// The listed instance equal to hi, or null. The list's cursor is left on its node.
ZELKOR_HAL_INSTANCE* getHALInstance(ZELKOR_HAL_INSTANCE* hi);
// Sets *out to the first memory-window node of the handle's region list (untouched when there is none);
// 1 when the list is empty, else 0.
ZELKOR_STATUS getHALRegion(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION_LIST** out);
// Appends a node holding a copy of the row: 0, 5 for a null row, 6 without memory.
ZELKOR_STATUS addNodeToRegionList(ZELKOR_REGION_LIST** head, const ZELKOR_REGION* row);
// Frees every node of a region list and clears its head.
void freeHalRegionList(ZELKOR_REGION_LIST** head);
// Loads the whole file into hi, every time it is called: 0, 1 when the file cannot be
// measured or read whole, 5 for a null hi, 6 without memory.
ZELKOR_STATUS readFileToBuffer(ZELKOR_HAL_INSTANCE* hi, FILE* file);
// Sets the head to a list of the eleven Palx rows; 6 when an append fails (the list is then empty).
ZELKOR_STATUS initPalxRegionList(ZELKOR_REGION_LIST** head);

// One transfer through the handle's interface operations, as the memory window or a flash region sees
// it. The interface status is returned unchanged.
ZELKOR_STATUS halRead(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* region, uint32_t offset, uint8_t* buffer,
                      uint32_t size);
ZELKOR_STATUS halWrite(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* region, uint32_t offset, uint8_t* buffer,
                       uint32_t size);
// A 32-bit register word in host order through the memory window.
ZELKOR_STATUS halReadWord(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* window, uint32_t address, uint32_t* value);
ZELKOR_STATUS halWriteWord(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* window, uint32_t address, uint32_t value);

// Lets the expander's processor run (word 1) or stops it (word 0): startArm and stopArm at the Ostrel and
// Palx control register, startArmQuenza and stopArmQuenza at Quenza's.
ZELKOR_STATUS startArm(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* window);
ZELKOR_STATUS stopArm(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* window);
ZELKOR_STATUS startArmQuenza(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* window);
ZELKOR_STATUS stopArmQuenza(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* window);

// ---- the operations, once for every family ----

ZELKOR_STATUS halVersion(uint8_t* major, uint8_t* minor);
ZELKOR_STATUS halOpen(const HalFamily& family, ZELKOR_INSTANCE* handle, ZELKOR_HAL_INSTANCE** out,
                      uint32_t chipType);
ZELKOR_STATUS halClose(const HalFamily& family, ZELKOR_HAL_INSTANCE* hi);
ZELKOR_STATUS halGetRegions(const HalFamily& family, ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION_LIST** out);
ZELKOR_STATUS halSetMorv(const HalFamily& family, ZELKOR_HAL_INSTANCE* hi, uint8_t* value, uint8_t selector);
ZELKOR_STATUS halSetSmartCli(const HalFamily& family, ZELKOR_HAL_INSTANCE* hi);
ZELKOR_STATUS halResetExpander(const HalFamily& family, ZELKOR_HAL_INSTANCE* hi, uint8_t kind);
// The instance check of an operation with a fixed answer: 4 for an instance the modules do not hold, else
// the answer (after a log line naming the operation when the answer is not 0).
ZELKOR_STATUS halFixedAnswer(const HalFamily& family, ZELKOR_HAL_INSTANCE* hi, const char* operation,
                             ZELKOR_STATUS answer);

// ---- op-name tables ----

using HalGeneric = ZELKOR_GENERIC_FUNCTION;

struct HalOperation {
    const char* name;
    HalGeneric function;
};

// A compile-time text, so that one template makes an operation per name.
template <size_t N> struct HalName {
    char text[N];
    constexpr HalName(const char (&source)[N]) { std::copy_n(source, N, text); }
};

// The operation of a slot that answers a fixed status after the instance check.
template <const HalFamily& Family, HalName Name, ZELKOR_STATUS Answer, typename Slot> struct HalFixed;
template <const HalFamily& Family, HalName Name, ZELKOR_STATUS Answer, typename... Args>
struct HalFixed<Family, Name, Answer, ZELKOR_STATUS (*)(ZELKOR_HAL_INSTANCE*, Args...)> {
    static ZELKOR_STATUS call(ZELKOR_HAL_INSTANCE* hi, Args...) {
        return halFixedAnswer(Family, hi, Name.text, Answer);
    }
};

template <typename F> constexpr HalGeneric halGeneric(F function) {
    return reinterpret_cast<HalGeneric>(function);
}

// A table row of an operation not built into this module: it answers 2 ("not applicable").
#define HAL_NOT_BUILT(family, slot)                                                                          \
    HalOperation {                                                                                           \
#slot, halGeneric(&HalFixed <family, #slot, HAL_NOT_APPLICABLE, decltype(HAL_VECTORS::slot)>::call)  \
    }
// A table row of an operation with a fixed answer.
#define HAL_FIXED(family, slot, answer)                                                                      \
    HalOperation {                                                                                           \
#slot, halGeneric(&HalFixed <family, #slot, answer, decltype(HAL_VECTORS::slot)>::call)              \
    }

// The operations every family builds the same way, with the family's own signatures.
template <const HalFamily& Family> struct HalOps {
    static ZELKOR_STATUS open(ZELKOR_INSTANCE* handle, ZELKOR_HAL_INSTANCE** out, uint32_t chipType) {
        return halOpen(Family, handle, out, chipType);
    }
    static ZELKOR_STATUS close(ZELKOR_HAL_INSTANCE* hi) { return halClose(Family, hi); }
    static ZELKOR_STATUS getRegions(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION_LIST** out) {
        return halGetRegions(Family, hi, out);
    }
    static ZELKOR_STATUS setMorv(ZELKOR_HAL_INSTANCE* hi, uint8_t* value, uint8_t selector) {
        return halSetMorv(Family, hi, value, selector);
    }
    static ZELKOR_STATUS setSmartCli(ZELKOR_HAL_INSTANCE* hi) { return halSetSmartCli(Family, hi); }
    static ZELKOR_STATUS resetExpander(ZELKOR_HAL_INSTANCE* hi, uint8_t kind) {
        return halResetExpander(Family, hi, kind);
    }
    static ZELKOR_STATUS xml2bin(ZELKOR_HAL_INSTANCE* hi, const char* xmlPath, const char* third, FILE* output,
                                 void* context) {
        return halXml2bin(Family, hi, xmlPath, third, output, context);
    }
    static ZELKOR_STATUS bin2xml(ZELKOR_HAL_INSTANCE* hi, const char* templatePath, const char* outputPath,
                                 FILE* image) {
        return halBin2xml(Family, hi, templatePath, outputPath, image);
    }
};

// The function of the row whose name equals name exactly, or null.
HalGeneric halLookup(std::span<const HalOperation> table, const char* name);

#endif
