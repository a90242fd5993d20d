#include "hal/zelkorHalRegions.h"

namespace {

constexpr ZELKOR_REGION row(uint32_t kind, uint32_t id, uint32_t index, uint32_t base, uint32_t size) {
    return ZELKOR_REGION{kind, id, index, base, size, 0, ZELKOR_FLASH_TYPE_UNKNOWN, 0};
}

constexpr uint32_t kWindowSize = 0xFFFFFFFFu;

constexpr std::array<ZELKOR_REGION, 3> familyRows(uint32_t flashBase) {
    return {{
        row(ZELKOR_REGION_MEMORY, MEMORY_WINDOW_REGION_ID, 0, 0, kWindowSize),
        row(ZELKOR_REGION_FLASH, 0x00, 0, flashBase, OSTREL_QUENZA_FLASH_SIZE),
        row(ZELKOR_REGION_PARTITION, FIRMWARE_PARTITION_REGION_ID, 0, flashBase, OSTREL_QUENZA_FLASH_SIZE),
    }};
}

// Designated rows: base and index 0; only the first one carries a size.
constexpr ZELKOR_REGION designated(uint32_t kind, uint32_t id, bool first = false) {
    return row(kind, id, 0, 0, first ? OSTREL_QUENZA_FLASH_SIZE : 0);
}

} // namespace

const std::array<ZELKOR_REGION, 3> gOstrelRegions = familyRows(OSTREL_FLASH_BASE);
const std::array<ZELKOR_REGION, 3> gQuenzaRegions = familyRows(QUENZA_FLASH_BASE);

const std::array<ZELKOR_REGION, 7> gDesignatedRegions = {{
    designated(3, 0xE0, true),
    designated(4, 0xE1),
    designated(5, 0xE2),
    designated(6, 0xE3),
    designated(7, 0xE4),
    designated(8, 0xE5),
    designated(9, 0xE7),
}};

const std::array<ZELKOR_REGION, 8> gDesignatedRegionsQuenza = {{
    designated(3, 0xE0, true),
    designated(4, 0xE1),
    designated(5, 0xE2),
    designated(6, 0xE3),
    designated(7, 0xE4),
    designated(8, 0xE5),
    designated(ZELKOR_REGION_PAGE_STORE, 0xE6),
    designated(9, 0xE7),
}};

const std::array<ZELKOR_REGION, 11> gPalxRegions = {{
    row(ZELKOR_REGION_MEMORY, MEMORY_WINDOW_REGION_ID, 0, 0, kWindowSize),
    row(ZELKOR_REGION_FLASH, 0, 0, PALX_FLASH_BASE, PALX_FLASH_SIZE),
    row(ZELKOR_REGION_PARTITION, 0, 0, 0x10000000u, 0x00040000u),
    row(ZELKOR_REGION_PARTITION, 1, 1, 0x10040000u, 0x00040000u),
    row(ZELKOR_REGION_PARTITION, 2, 2, 0x10080000u, 0x00040000u),
    row(ZELKOR_REGION_PARTITION, 3, 3, 0x100C0000u, 0x00010000u),
    row(ZELKOR_REGION_PARTITION, 4, 4, 0x100D0000u, 0x00010000u),
    row(ZELKOR_REGION_PARTITION, 5, 5, 0x100E0000u, 0x00010000u),
    row(ZELKOR_REGION_PARTITION, 6, 6, 0x100F0000u, 0x00010000u),
    row(ZELKOR_REGION_PARTITION, 7, 7, 0x10100000u, 0x00010000u),
    row(ZELKOR_REGION_BOOT_RECORD, 0x0A, 0x0A, 0x40300000u, 0x00002000u),
}};
