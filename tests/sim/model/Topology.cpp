// The expander's phys, route table and zone rows in its address space. The simulator keeps its own copy of
// each family's register map; a phy block is built from the phy's SMP DISCOVER response, the way the chip
// mirrors it (word k = response bytes 8+4k .. 11+4k, the SATA port selector moved to bit 4 of word 1).
#include "model/Expander.h"

#include <algorithm>

namespace zsim {

namespace {

struct VirtualPlace {
    uint32_t block, zone, counters, information, enableBit;
};

// Where a family keeps its phy data (0: none).
struct PhyMap {
    uint32_t routeCount, phyCount;
    uint32_t mask, maskBytes;
    uint32_t block, zone, counters, reset;
    uint32_t shift;
    uint32_t reserved;      // the last phys that are not physical
    uint32_t defaultPhys;
    std::array<uint32_t, 2> fixedVirtualIds; // Palx: the virtual phys by number; else positional
    std::array<VirtualPlace, 3> virtuals;
};

const PhyMap kOstrelMap{0xC0000100u, 0xC0000104u, 0xC0000044u, 8, 0xC0040040u, 0xC0040154u,
                        0xC0040730u, 0xC0040718u, 12, 3, 39, {0, 0},
                        {{{0xB0020040u, 0xB002037Cu, 0xB0020730u, 0, 36},
                          {0xB0010040u, 0xB001037Cu, 0xB0010730u, 0, 37},
                          {0xB0000040u, 0xB000037Cu, 0xB0000730u, 0, 38}}}};
const PhyMap kQuenzaMap{0xC3800100u, 0xC3800104u, 0xC3800044u, 24, 0xC0000040u, 0xC0000154u, 0, 0, 20, 3, 51,
                        {0, 0},
                        {{{0xB0020044u, 0xB000037Cu, 0, 0xB0000010u, 48},
                          {0xB0010044u, 0xB010037Cu, 0, 0xB0100010u, 49},
                          {0xB0000844u, 0xB020037Cu, 0, 0xB0200010u, 50}}}};
const PhyMap kPalxMap{0xC0000100u, 0xC0000104u, 0xC0000044u, 8, 0xC0040040u, 0, 0xC0040318u, 0xC0040310u,
                      10, 2, 38, {36, 37},
                      {{{0xB0020040u, 0, 0xB0020318u, 0, 36}, {0xB0010040u, 0, 0xB0010318u, 0, 37}, {}}}};

const PhyMap& phyMap(Family family) {
    return family == Family::Ostrel ? kOstrelMap : family == Family::Quenza ? kQuenzaMap : kPalxMap;
}

// Which of the virtual places phy p of n takes, if any: the last phys, or (Palx) phys 36 and 37 above n - 3.
std::optional<uint32_t> virtualPlace(const PhyMap& map, uint32_t p, uint32_t n) {
    if (map.fixedVirtualIds[0] != 0) {
        for (uint32_t k = 0; k < 2; ++k)
            if (p == map.fixedVirtualIds[k] && static_cast<int64_t>(p) > static_cast<int64_t>(n) - 3)
                return k;
        return std::nullopt;
    }
    if (static_cast<int64_t>(p) < static_cast<int64_t>(n) - map.reserved)
        return std::nullopt;
    return p + map.reserved - n;
}

// Quenza lane registers: (core * 64 + lane) << shift.
struct LaneMap {
    uint32_t shift, status, counters, counterStride, attachedRate, reset;
};
constexpr LaneMap kLanes{10, 0x50008008u, 0x50008030u, 4, 0x5000804Cu, 0x50008018u};
constexpr LaneMap kDaxLanes{14, 0x50080020u, 0x500800C0u, 16, 0x50080130u, 0x50080060u};

// Core and lane of the Dax phys 0..47.
std::optional<std::pair<uint32_t, uint32_t>> daxLane(uint32_t phy) {
    struct Run {
        uint32_t first, count, core, lane;
    };
    static constexpr Run kRuns[] = {{0, 4, 3, 4},  {4, 8, 0, 0},  {12, 8, 1, 0}, {20, 8, 2, 0},
                                    {28, 4, 3, 0}, {32, 8, 4, 0}, {40, 8, 5, 0}};
    for (const Run& r : kRuns)
        if (phy >= r.first && phy < r.first + r.count)
            return std::pair{r.core, r.lane + (phy - r.first)};
    return std::nullopt;
}

void putBe(std::vector<uint8_t>& out, size_t at, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[at + i] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
}

void putLe(AddressSpace& space, uint32_t address, uint32_t value) {
    space.writeWord(address, value);
}

uint32_t be32(const std::vector<uint8_t>& bytes, size_t at) {
    return (static_cast<uint32_t>(bytes[at]) << 24) | (static_cast<uint32_t>(bytes[at + 1]) << 16) |
           (static_cast<uint32_t>(bytes[at + 2]) << 8) | bytes[at + 3];
}

constexpr uint32_t kWindowIndex = 0xA0000008u;
constexpr uint32_t kWindowCommand = 0xA000000Cu;
constexpr uint32_t kWindowAddress = 0xA0000020u;
constexpr uint32_t kWindowData = 0xA0000030u;
constexpr uint32_t kZoningControl = 0xA000008Cu;

} // namespace

uint32_t Expander::phyCount() const {
    if (family() == Family::Quenza && productId_ == 0x23D)
        return 27;
    if (family() == Family::Quenza && productId_ == 0x23C)
        return 31;
    return topology_.phyCount.value_or(phyMap(family()).defaultPhys) & 0xFF;
}

std::vector<uint8_t> Expander::discoverResponse(uint32_t phy) const {
    if (phy >= phyCount())
        return {};
    const PhyMap& map = phyMap(family());
    const auto found = topology_.phys.find(phy);
    const PhyState state = found != topology_.phys.end() ? found->second : PhyState{};
    const bool isVirtual = virtualPlace(map, phy, phyCount()).has_value();
    std::vector<uint8_t> r(kDiscoverResponseSize, 0);
    r[0] = 0x41; // SMP response
    r[1] = 0x10; // DISCOVER
    r[3] = static_cast<uint8_t>((kDiscoverResponseSize - 4) / 4);
    r[9] = state.phyId.value_or(static_cast<uint8_t>(phy));
    r[12] = static_cast<uint8_t>((state.deviceType & 7) << 4);
    const uint8_t rate = state.negotiatedRate.value_or(state.deviceType != 0 ? 10 : 0);
    r[13] = rate & 0x0F;
    r[14] = static_cast<uint8_t>(state.sspInitiator << 3 | state.stpInitiator << 2 | state.smpInitiator << 1);
    r[15] = static_cast<uint8_t>(state.sataPortSelector << 7 | state.sspTarget << 3 | state.stpTarget << 2 |
                                 state.smpTarget << 1 | state.sataDevice);
    putBe(r, 16, state.sasAddress.value_or(sasAddress_), 8);
    putBe(r, 24, state.attachedSasAddress, 8);
    r[32] = state.attachedPhyId;
    r[40] = static_cast<uint8_t>((state.programmedMin & 0xF) << 4 | (state.hardwareMin & 0xF));
    r[41] = static_cast<uint8_t>((state.programmedMax & 0xF) << 4 | (state.hardwareMax & 0xF));
    r[42] = state.changeCount;
    r[43] = static_cast<uint8_t>(state.virtualBit.value_or(isVirtual) << 7 | (state.partialPathwayTimeout & 0xF));
    r[44] = state.routing & 0x0F;
    return r;
}

void Expander::installTopology() {
    if (!topology_.present)
        return;
    const PhyMap& map = phyMap(family());
    const uint32_t n = phyCount();
    const bool dax = family() == Family::Quenza && productId_ >= 0x238 && productId_ <= 0x23D;
    const LaneMap& lanes = dax ? kDaxLanes : kLanes;

    uint32_t routes = 0;
    if (!topology_.routes.empty())
        routes = topology_.routes.rbegin()->first + 1;
    space_.defineRegister(map.routeCount, "route-count", topology_.routeCount.value_or(routes) & 0xFFFF, 0);
    space_.defineRegister(map.phyCount, "phy-count", topology_.phyCount.value_or(map.defaultPhys) << 16, 0);

    std::array<uint32_t, 6> mask{};
    auto setBit = [&mask](uint32_t word0, uint32_t bit) {
        if (bit < 64)
            mask[word0 + bit / 32] |= 1u << (bit % 32);
    };
    for (uint32_t p = 0; p < n; ++p) {
        const auto found = topology_.phys.find(p);
        const PhyState state = found != topology_.phys.end() ? found->second : PhyState{};
        const std::vector<uint8_t> response = discoverResponse(p);
        std::array<uint32_t, 13> words{};
        for (size_t k = 0; k < words.size(); ++k)
            words[k] = be32(response, 8 + 4 * k);
        words[1] = (words[1] & ~0x90u) | (state.sataPortSelector ? 0x10u : 0);
        if (state.rawWords)
            words = *state.rawWords;
        const std::optional<uint32_t> k = virtualPlace(map, p, n);
        const bool isVirtual = k.has_value();
        VirtualPlace place{};
        if (isVirtual) {
            place = map.virtuals[*k];
        } else {
            place = {map.block + (p << map.shift), map.zone ? map.zone + (p << map.shift) : 0,
                     map.counters ? map.counters + (p << map.shift) : 0, 0, p};
        }
        for (size_t k = 0; k < words.size(); ++k)
            putLe(space_, place.block + 4 * static_cast<uint32_t>(k), words[k]);
        if (place.zone != 0)
            putLe(space_, place.zone, state.zoneGroup ? (1u << 24) | *state.zoneGroup : 0);
        if (place.counters != 0)
            for (uint32_t i = 0; i < 4; ++i)
                putLe(space_, place.counters + 4 * i, state.counters[i]);
        if (state.enabled)
            setBit(0, place.enableBit);
        if (state.skarvel && map.maskBytes > 8)
            setBit(4, p);
        if (place.information != 0) {
            // The information block: addresses, phy ids, and the flag, rate and routing words.
            std::vector<uint8_t> info(88, 0);
            const uint64_t own = state.sasAddress.value_or(sasAddress_);
            auto le = [&info](size_t at, uint32_t v) {
                for (int i = 0; i < 4; ++i)
                    info[at + i] = static_cast<uint8_t>(v >> (8 * i));
            };
            le(0, static_cast<uint32_t>(own >> 32));
            le(4, static_cast<uint32_t>(own));
            info[50] = response[9];
            le(52, words[1]);
            le(64, static_cast<uint32_t>(state.attachedSasAddress >> 32));
            le(68, static_cast<uint32_t>(state.attachedSasAddress));
            info[75] = state.attachedPhyId;
            le(80, words[8]);
            le(84, words[9]);
            space_.write(place.information, info);
        }
        const bool physical = !isVirtual && p + map.reserved < n;
        if (!physical)
            continue;
        uint32_t resetRegister = map.reset != 0 ? map.reset + (p << map.shift) : 0;
        if (family() == Family::Quenza) {
            const auto lane = dax ? daxLane(p) : std::optional(std::pair{p >> 2, p & 3});
            if (!lane)
                continue;
            const uint32_t l = (lane->first * 64 + lane->second) << lanes.shift;
            putLe(space_, lanes.status + l, static_cast<uint32_t>(state.laneRates) << 16);
            putLe(space_, lanes.attachedRate + l, static_cast<uint32_t>(state.laneAttachedRate & 0xF) << 16);
            for (uint32_t i = 0; i < 4; ++i)
                putLe(space_, lanes.counters + l + lanes.counterStride * i, state.counters[i]);
            resetRegister = lanes.reset + l;
        }
        const bool stuck = state.resetStuck;
        space_.defineRegister(resetRegister, "phy-reset", 0, 0).onWrite = [this, p, stuck,
                                                                             resetRegister](uint32_t word) {
            if ((word & 2u) == 0)
                return;
            ++phyResets_[p];
            space_.findRegister(resetRegister)->value = stuck ? 2u : 0u;
        };
    }
    for (uint32_t i = 0; i < map.maskBytes / 4; ++i)
        putLe(space_, map.mask + 4 * i, mask[i]);

    space_.defineRegister(kWindowIndex, "window-index", 0, 0xFFFFFFFFu);
    space_.defineRegister(kWindowAddress, "window-address-low", 0, 0);
    space_.defineRegister(kWindowAddress + 4, "window-address-high", 0, 0);
    space_.defineRegister(kWindowData, "window-data-low", 0, 0);
    space_.defineRegister(kWindowData + 4, "window-data-high", 0, 0);
    space_.defineRegister(kZoningControl, "zoning-control", topology_.zoning ? 2u : 0u, 0);
    space_.defineRegister(kWindowCommand, "window-command", topology_.tableUnavailable ? 0x8000u : 0u, 0)
        .onWrite = [this](uint32_t word) {
        if (word != 4)
            return;
        const uint32_t index = space_.findRegister(kWindowIndex)->value;
        auto set = [this](uint32_t address, uint32_t value) { space_.findRegister(address)->value = value; };
        // Indices 0x800 to 0xFFF select permission word n = index & 0x7FF (group n / 8, word n % 8).
        if ((index & 0x800u) != 0 && index < 0x1000u) {
            const uint32_t n = index & 0x7FFu;
            const auto row = topology_.zoneRows.find(n / 8);
            set(kWindowData, row != topology_.zoneRows.end() ? row->second[n % 8] : 0);
            return;
        }
        const auto entry = topology_.routes.find(index);
        const RouteEntry e = entry != topology_.routes.end() ? entry->second : RouteEntry{};
        set(kWindowAddress, static_cast<uint32_t>(e.sasAddress));
        set(kWindowAddress + 4, static_cast<uint32_t>(e.sasAddress >> 32));
        set(kWindowData, static_cast<uint32_t>(e.mask));
        set(kWindowData + 4, static_cast<uint32_t>(e.mask >> 32));
    };
}

} // namespace zsim
