// Static region tables of the three chip families. A hardware module's open copies these rows into the
// handle's region list (and, for Ostrel and Quenza, adds the partitions it finds in the flash table).
#ifndef ZELKOR_HAL_REGIONS_H
#define ZELKOR_HAL_REGIONS_H

#include "core/zelkor.h"

#include <array>
#include <cstdint>

// Expander address of the first flash byte, per family.
inline constexpr uint32_t OSTREL_FLASH_BASE = 0x14000000u;
inline constexpr uint32_t QUENZA_FLASH_BASE = 0x10000000u;
inline constexpr uint32_t PALX_FLASH_BASE = 0x10000000u;

// Whole flash of 64 MiB less one byte (Ostrel, Quenza) and of 2 MiB (Palx).
inline constexpr uint32_t OSTREL_QUENZA_FLASH_SIZE = 0x03FFFFFFu;
inline constexpr uint32_t PALX_FLASH_SIZE = 0x00200000u;

inline constexpr uint32_t MEMORY_WINDOW_REGION_ID = 0xC0u;
inline constexpr uint32_t FIRMWARE_PARTITION_REGION_ID = 0x80u;

// Memory window, whole flash and firmware partition, in the order open adds them.
extern const std::array<ZELKOR_REGION, 3> gOstrelRegions;
extern const std::array<ZELKOR_REGION, 3> gQuenzaRegions;

// Rows served by the interface module itself, added when the interface asks for them.
extern const std::array<ZELKOR_REGION, 7> gDesignatedRegions;
extern const std::array<ZELKOR_REGION, 8> gDesignatedRegionsQuenza;

// Every row of a Palx handle: memory window, whole flash, flash regions 0 to 7, SEEPROM boot record.
extern const std::array<ZELKOR_REGION, 11> gPalxRegions;

#endif
