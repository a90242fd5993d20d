// What a scenario says of an expander's phys, route table and zone rows, and where each family's chip
// keeps them: per-phy register blocks in the layout of an SMP DISCOVER response, the phy mask, zone and
// counter registers, virtual phys, Quenza lane registers and information blocks, phy reset registers, and
// the indirect window through which the route table and the zone permission rows are read.
#ifndef ZSIM_TOPOLOGY_H
#define ZSIM_TOPOLOGY_H

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace zsim {

// One phy as the scenario describes it; unset fields take defaults from the expander.
struct PhyState {
    std::optional<uint8_t> phyId;        // default: the phy number
    std::optional<uint64_t> sasAddress;  // default: the expander's
    uint64_t attachedSasAddress = 0;
    uint8_t attachedPhyId = 0;
    uint8_t deviceType = 0; // 0 none, 1 end device, 2 expander, 3 fanout expander
    bool smpInitiator = false, stpInitiator = false, sspInitiator = false;
    bool sataDevice = false, smpTarget = false, stpTarget = false, sspTarget = false;
    bool sataPortSelector = false;
    std::optional<uint8_t> negotiatedRate; // default: 10 with something attached, else 0
    uint8_t programmedMin = 8, hardwareMin = 8, programmedMax = 11, hardwareMax = 11;
    uint8_t routing = 0;
    uint8_t changeCount = 0;
    uint8_t partialPathwayTimeout = 0;
    std::optional<bool> virtualBit; // default: set for the virtual phys
    std::optional<uint8_t> zoneGroup; // none: zoning not enabled for the phy
    bool enabled = true;
    bool skarvel = false;
    std::array<uint32_t, 4> counters{};
    uint8_t laneRates = 0;    // Quenza lane status bits 16..23
    uint8_t laneAttachedRate = 0; // Quenza attached-rate register bits 16..19
    bool resetStuck = false;  // the reset bit never clears
    std::optional<std::array<uint32_t, 13>> rawWords; // the phy block as given, host-order words
};

struct RouteEntry {
    uint64_t sasAddress = 0;
    uint64_t mask = 0;
};

struct Topology {
    bool present = false; // any topology key given: the registers exist
    std::optional<uint32_t> phyCount;   // the count register's value (default: the family's)
    std::optional<uint32_t> routeCount; // default: one past the highest entry
    std::map<uint32_t, PhyState> phys;
    std::map<uint32_t, RouteEntry> routes;
    std::map<uint32_t, std::array<uint32_t, 8>> zoneRows;
    bool zoning = false;
    bool tableUnavailable = false;
};

// Bytes of an SMP DISCOVER response the model builds (CRC not included).
inline constexpr size_t kDiscoverResponseSize = 120;

} // namespace zsim

#endif
