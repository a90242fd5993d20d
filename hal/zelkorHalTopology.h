// The topology operations of the hardware modules: phys, ports, attached devices, the route table, zone
// permissions and the phy reset. One walk, one decoder, one access-window routine and one reset routine
// serve the three families; where the families differ is the HalTopology record of their descriptor.
#ifndef ZELKOR_HAL_TOPOLOGY_H
#define ZELKOR_HAL_TOPOLOGY_H

#include "core/zelkor.h"

#include <array>
#include <cstdint>

struct HalFamily;

// Register words of one phy block (the words of an SMP DISCOVER response from byte 8 on).
inline constexpr uint32_t PHY_BLOCK_WORDS = 13;
inline constexpr uint32_t PHY_BLOCK_SIZE = 4 * PHY_BLOCK_WORDS;
// The 88-byte information block of a Quenza virtual phy.
inline constexpr uint32_t PHY_INFORMATION_SIZE = 88;

// Statuses of the topology operations.
inline constexpr ZELKOR_STATUS HAL_NO_ROUTE_ENTRY = 31;
inline constexpr ZELKOR_STATUS HAL_NOTHING_ATTACHED = 30;
inline constexpr ZELKOR_STATUS HAL_INVALID_PHY = 45;
inline constexpr ZELKOR_STATUS HAL_ZONING_DISABLED = 46;
inline constexpr ZELKOR_STATUS HAL_ROUTE_TABLE_UNAVAILABLE = 47;
// addPhyToPort
inline constexpr ZELKOR_STATUS PORT_FULL = 2;
inline constexpr ZELKOR_STATUS PORT_HOLDS_PHY = 3;

// Where one of the last phys (the virtual ones) keeps its registers. A zero address: none.
struct HalVirtualPhy {
    uint32_t block;       // 52-byte phy block
    uint32_t zone;        // zone register
    uint32_t counters;    // 16-byte error counters
    uint32_t information; // 88-byte information block
    uint32_t enableBit;   // bit of the 64-bit phy mask
};

// The per-lane registers of family Quenza. The lane offset L of phy p is (core * 64 + lane) << shift, with
// core and lane from sCswPhyMap when mapped, else p >> 2 and p & 3.
struct HalLanes {
    bool mapped;
    uint32_t shift;
    uint32_t status;        // bits 16..23: the rates the lane supports
    uint32_t counters;      // the four error counters, counterStride bytes apart
    uint32_t counterBytes;  // bytes read at counters
    uint32_t counterStride; // bytes between two counters
    uint32_t attachedRate;  // bits 16..19: the rate of a Skarvel link
    uint32_t reset;
};

// Everything in which the families' topology operations differ, as data. Texts are the family's own log
// lines (null: none); numbers they carry are noted.
struct HalTopology {
    // Phy count N: bits 16..23 of countRegister, unless bits 16..31 of deviceIdRegister (0: none) name a
    // device with a fixed count.
    uint32_t countRegister;
    uint32_t deviceIdRegister;
    struct FixedCount {
        uint32_t deviceId;
        uint32_t phys;
    };
    std::array<FixedCount, 2> fixedCounts;
    // The last `reserved` phys are no physical phys: ports, devices and resets use phys 0 .. N-reserved-1.
    uint32_t reserved;
    uint32_t maskAddress;
    uint32_t maskBytes;      // 8: enable bits; 24: enable bits in words 0, 1 and Skarvel bits in words 4, 5
    uint32_t skarvelLastPhy; // the last phy with a Skarvel bit
    uint32_t blockBase;      // phy block of phy p: blockBase + (p << blockShift); the same shift for the
    uint32_t blockShift;     // zone, counter, attached-phy and reset registers
    uint32_t zoneBase;       // 0: no zone register (zone group 65535)
    uint32_t counterBase;    // 0: the counters are lane registers
    uint32_t attachedPhyBase;
    uint32_t resetBase; // 0: the reset register is a lane register
    // Virtual phys: the last virtualCount phys (k = p + virtualCount - N), or with virtualIds the phys of
    // those numbers that lie above N - 3.
    uint32_t virtualCount;
    std::array<uint32_t, 3> virtualIds; // all 0: positional
    std::array<HalVirtualPhy, 3> virtualPhys;
    // Quenza switches.
    bool informationOverlay;     // virtual phys take most fields from their information block
    bool laneRegisters;          // supported rates, counters, Skarvel rate and reset from the lanes
    std::array<HalLanes, 2> lanes; // [0] other types, [1] variant Dax
    bool toleratesMaskFailure;   // getPhy goes on with every mask bit clear
    bool sleepsBeforeZoneOnTcp;  // getPhys waits 10 ms before each zone read over TCP
    bool flagsDevicesCommand;    // getDevices sets gBoolGetDevicesCommand before each getPhy
    bool devicesPassBlockPhyId;  // getDevices asks getPhy for the block's phy id, not p
    // Route table.
    uint32_t routeCountRegister;
    bool routeMaskGrouped;   // eight mask bits per four phys for the first three groups (else bit p)
    uint32_t routeLimit;     // phys at and above it match no entry
    uint32_t routeWalk;      // 0: walk the entry count, else this many indices
    bool routeSkipsFailures; // a failed entry read skips the entry instead of ending the walk

    // Texts: register access.
    const char* readFailed;         // (size, address)
    const char* writeFailed;        // (size, address)
    const char* deviceReadAnnounce; // (size, address, window id); null: the plain announcement
    bool deviceReadFailureLogged;
    // Texts: phys.
    const char* physCount;        // getPhys (N)
    const char* phyCount;         // getPhy (N)
    const char* phyInvalid;       // getPhy (phy, N)
    const char* zoneGroup;        // (phy id, group)
    const char* phyAppendFailed;  // (phy)
    // Texts: ports and devices.
    const char* portAttached;     // (high, low)
    bool portFullLogged;
    const char* phyInfoFailed;
    const char* portListFailed;
    const char* deviceAllocFailed; // (node size)
    // Texts: route table and zones.
    const char* routeInvalid;
    const char* routeAllocFailed; // (node size)
    const char* zoningEnabled;
    // Texts: phy reset.
    const char* resetWindowMissing;
    const char* resetCountFailed; // (size, address)
    const char* resetAnnounce;    // (phy)
    const char* resetWriteAnnounce;
    const char* resetWriteFailed;
    const char* resetNotTaken;
    const char* resetTaken;
};

// Core and lane of each physical phy of variant Dax.
struct CswPhyMapEntry {
    uint8_t core;
    uint8_t lane;
    uint8_t pad[2];
};
inline constexpr uint32_t CSW_PHY_MAP_ENTRIES = 48;
extern const std::array<CswPhyMapEntry, CSW_PHY_MAP_ENTRIES> sCswPhyMap;

// Set by the Quenza attached-device query before each of its phy reads; never cleared.
extern uint8_t gBoolGetDevicesCommand;

// Writes record fields attachedPhyId .. linkFlag from the 13 words of a phy block; touches no other field.
void populatePhyData(ZELKOR_PHY* rec, const uint32_t block[PHY_BLOCK_WORDS]);
// Appends a zero-filled node holding a copy of rec: 0, 5 for a null record, 6 without memory.
ZELKOR_STATUS addNodetoPhyList(ZELKOR_PHY_LIST** head, const ZELKOR_PHY* rec);
// Inserts the id in ascending order: 0, 2 when the port holds 48 ids, 3 when it holds this one.
ZELKOR_STATUS addPhyToPort(ZELKOR_PORT* port, int32_t phy);
// Appends a zero-filled node holding a copy of rec: 0, 5 for a null record, 6 without memory.
ZELKOR_STATUS addNodeToDeviceList(ZELKOR_DEVICE_LIST** head, const ZELKOR_DEVICE* rec);

ZELKOR_STATUS halGetPhys(const HalFamily& family, ZELKOR_HAL_INSTANCE* hi, ZELKOR_PHY_LIST** out);
ZELKOR_STATUS halGetPhy(const HalFamily& family, ZELKOR_HAL_INSTANCE* hi, uint32_t phy, ZELKOR_PHY* out);
ZELKOR_STATUS halGetPorts(const HalFamily& family, ZELKOR_HAL_INSTANCE* hi, ZELKOR_PORT_LIST** out);
ZELKOR_STATUS halGetDevices(const HalFamily& family, ZELKOR_HAL_INSTANCE* hi, ZELKOR_DEVICE_LIST** out);
ZELKOR_STATUS halGetRouteTable(const HalFamily& family, ZELKOR_HAL_INSTANCE* hi, uint32_t phy,
                               ZELKOR_ROUTE_LIST** out);
ZELKOR_STATUS halGetZonePermissions(const HalFamily& family, ZELKOR_HAL_INSTANCE* hi, uint32_t zoneGroup,
                                    uint32_t row[8]);
ZELKOR_STATUS halResetPhy(const HalFamily& family, ZELKOR_HAL_INSTANCE* hi, uint32_t phy);

// The topology operations with the slots' signatures.
template <const HalFamily& Family> struct HalTopologyOps {
    static ZELKOR_STATUS getPhys(ZELKOR_HAL_INSTANCE* hi, ZELKOR_PHY_LIST** out) {
        return halGetPhys(Family, hi, out);
    }
    static ZELKOR_STATUS getPhy(ZELKOR_HAL_INSTANCE* hi, uint32_t phy, ZELKOR_PHY* out) {
        return halGetPhy(Family, hi, phy, out);
    }
    static ZELKOR_STATUS getPorts(ZELKOR_HAL_INSTANCE* hi, ZELKOR_PORT_LIST** out) {
        return halGetPorts(Family, hi, out);
    }
    static ZELKOR_STATUS getDevices(ZELKOR_HAL_INSTANCE* hi, ZELKOR_DEVICE_LIST** out) {
        return halGetDevices(Family, hi, out);
    }
    static ZELKOR_STATUS getRouteTable(ZELKOR_HAL_INSTANCE* hi, uint32_t phy, ZELKOR_ROUTE_LIST** out) {
        return halGetRouteTable(Family, hi, phy, out);
    }
    static ZELKOR_STATUS getZonePermissions(ZELKOR_HAL_INSTANCE* hi, uint32_t zoneGroup, uint32_t row[8]) {
        return halGetZonePermissions(Family, hi, zoneGroup, row);
    }
    static ZELKOR_STATUS resetPhy(ZELKOR_HAL_INSTANCE* hi, uint32_t phy) { return halResetPhy(Family, hi, phy); }
};

#endif
