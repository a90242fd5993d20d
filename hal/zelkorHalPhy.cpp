// Phy records: the phy count, the decoding of a phy's register block into ZELKOR_PHY, the phy list and the
// single-phy query, for every family through its HalTopology record.
#include "hal/zelkorHalTopologyAccess.h"

#include "osal/osalTime.h"

#include <array>
#include <cstdarg>
#include <cstring>

const std::array<CswPhyMapEntry, CSW_PHY_MAP_ENTRIES> sCswPhyMap = [] {
    std::array<CswPhyMapEntry, CSW_PHY_MAP_ENTRIES> map{};
    auto run = [&map](uint32_t firstPhy, uint32_t count, uint8_t core, uint8_t firstLane) {
        for (uint32_t i = 0; i < count; ++i)
            map[firstPhy + i] = {core, static_cast<uint8_t>(firstLane + i), {0, 0}};
    };
    run(0, 4, 3, 4);
    run(4, 8, 0, 0);
    run(12, 8, 1, 0);
    run(20, 8, 2, 0);
    run(28, 4, 3, 0);
    run(32, 8, 4, 0);
    run(40, 8, 5, 0);
    return map;
}();

uint8_t gBoolGetDevicesCommand = 0;

namespace {

constexpr uint32_t kWordBytes = 4;
constexpr uint32_t kZoneEnabledBit = 1u << 24;
constexpr uint32_t kSleepBeforeZoneMs = 10;
constexpr uint32_t kMaskWords = 6;
constexpr uint32_t kResetBit = 2;

constexpr const char* kReadAnnounce = "Reading %d bytes at 0x%08x offset";
constexpr const char* kWriteAnnounce = "Writing %d bytes at 0x%08x offset";

uint32_t bits(uint32_t word, uint32_t low, uint32_t count) {
    return (word >> low) & ((1u << count) - 1u);
}

uint32_t le32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

// The phy mask: enable bits in words 0 and 1, Skarvel bits in words 4 and 5.
struct PhyMask {
    std::array<uint32_t, kMaskWords> words{};

    // A bit of the 64-bit enable mask; a bit beyond it is clear.
    uint8_t enableBit(uint32_t bit) const { return bit < 64 ? bits(words[bit / 32], bit % 32, 1) : 0; }
    uint8_t skarvelBit(uint32_t phy, uint32_t lastPhy) const {
        return phy <= lastPhy && phy < 64 ? bits(words[4 + phy / 32], phy % 32, 1) : 0;
    }
};

// Where a phy's registers sit.
struct PhyPlace {
    bool isVirtual = false;
    uint32_t block = 0;
    uint32_t zone = 0;
    uint32_t counters = 0;
    uint32_t information = 0;
    uint32_t enableBit = 0;
};

// Which of the last phys p is, if it is one of them.
std::optional<uint32_t> virtualIndex(const HalTopology& t, uint32_t phy, uint32_t phys) {
    const int64_t firstOfLast = static_cast<int64_t>(phys) - 3;
    if (t.virtualIds[0] != 0) {
        // Only the phys of the fixed numbers, and only above N - 3.
        for (uint32_t k = 0; k < t.virtualCount; ++k)
            if (phy == t.virtualIds[k] && static_cast<int64_t>(phy) > firstOfLast)
                return k;
        return std::nullopt;
    }
    const int64_t k = static_cast<int64_t>(phy) + t.virtualCount - static_cast<int64_t>(phys);
    if (k < 0 || k >= static_cast<int64_t>(t.virtualCount))
        return std::nullopt;
    return static_cast<uint32_t>(k);
}

PhyPlace placeOf(const HalTopology& t, uint32_t phy, uint32_t phys) {
    PhyPlace place;
    if (const auto k = virtualIndex(t, phy, phys)) {
        const HalVirtualPhy& v = t.virtualPhys[*k];
        place = {true, v.block, v.zone, v.counters, v.information, v.enableBit};
        return place;
    }
    place.block = phyRegister(t, t.blockBase, phy);
    place.zone = t.zoneBase != 0 ? phyRegister(t, t.zoneBase, phy) : 0;
    place.counters = t.counterBase != 0 ? phyRegister(t, t.counterBase, phy) : 0;
    place.enableBit = phy;
    return place;
}

ZELKOR_STATUS readMask(TopologyAccess& io, PhyMask& mask) {
    const HalTopology& t = io.topology();
    mask = PhyMask{};
    std::array<uint8_t, kMaskWords * kWordBytes> bytes{};
    const ZELKOR_STATUS status = io.read(t.maskAddress, bytes.data(), t.maskBytes);
    for (uint32_t i = 0; i < kMaskWords && status == 0; ++i)
        mask.words[i] = le32(&bytes[kWordBytes * i]);
    return status;
}

// The overlay of a virtual phy from its information block.
void applyInformation(ZELKOR_PHY& rec, const uint8_t* info, bool single) {
    rec.sasAddressHigh = le32(info + 0);
    rec.sasAddressLow = le32(info + 4);
    rec.phyId = info[50];
    const uint32_t flags = le32(info + 52);
    rec.attachedDeviceType = bits(flags, 28, 3);
    rec.attachedSmpInitiator = static_cast<uint8_t>(bits(flags, 9, 1));
    rec.attachedStpInitiator = static_cast<uint8_t>(bits(flags, 10, 1));
    rec.attachedSspInitiator = static_cast<uint8_t>(bits(flags, 11, 1));
    rec.attachedSataDevice = static_cast<uint8_t>(bits(flags, 0, 1));
    rec.attachedSmpTarget = static_cast<uint8_t>(bits(flags, 1, 1));
    rec.attachedStpTarget = static_cast<uint8_t>(bits(flags, 2, 1));
    rec.attachedSspTarget = static_cast<uint8_t>(bits(flags, 3, 1));
    rec.attachedSataPortSelector = static_cast<uint8_t>(bits(flags, 4, 1));
    rec.negotiatedLinkRate = bits(flags, 16, 4);
    rec.attachedSasAddressHigh = le32(info + 64);
    rec.attachedSasAddressLow = le32(info + 68);
    rec.attachedPhyId = info[75];
    const uint32_t rates = le32(info + 80);
    rec.supportedMinLinkRate = static_cast<uint8_t>(bits(rates, 28, 4));
    rec.minLinkRate = static_cast<uint8_t>(bits(rates, 24, 4));
    rec.supportedMaxLinkRate = static_cast<uint8_t>(bits(rates, 20, 4));
    rec.maxLinkRate = static_cast<uint8_t>(bits(rates, 16, 4));
    if (single)
        rec.phyChangeCount = static_cast<uint8_t>(bits(rates, 8, 8));
    rec.virtualPhy = static_cast<uint8_t>(bits(rates, 7, 1));
    rec.routingAttribute = static_cast<uint8_t>(bits(le32(info + 84), 24, 4));
}

// The rates a lane supports, from bits 16..23 of its status register.
void supportedRates(ZELKOR_PHY& rec, uint32_t status) {
    const uint32_t s = bits(status, 16, 8);
    const bool rate12 = (s & 0x03u) != 0;
    const bool rate6 = (s & 0x0Cu) != 0;
    const bool rate3 = (s & 0x30u) != 0;
    rec.supportedMaxLinkRate = rate12 ? 11 : rate6 ? 10 : rate3 ? 9 : 11;
    rec.supportedMinLinkRate = rate3 ? 9 : rate6 ? 10 : rate12 ? 11 : 9;
}

// How one decode runs: for the list (the mask read once before the walk) or for one phy.
struct DecodeRun {
    bool single;
    uint32_t phys;
    PhyMask* mask; // the list's mask; getPhy reads its own
};

ZELKOR_STATUS readZone(TopologyAccess& io, const PhyPlace& place, bool single, ZELKOR_PHY& rec) {
    const HalTopology& t = io.topology();
    if (place.zone == 0) {
        rec.zoneGroup = ZELKOR_ZONE_GROUP_NONE;
        return 0;
    }
    if (!single && t.sleepsBeforeZoneOnTcp && io.handle()->interface == ZELKOR_INTERFACE_TCP)
        osal_sleepMs(kSleepBeforeZoneMs);
    uint32_t zone = 0;
    if (const ZELKOR_STATUS status = io.readWord(place.zone, zone); status != 0)
        return status;
    if ((zone & kZoneEnabledBit) != 0) {
        rec.zoneGroup = bits(zone, 0, 8);
        io.log(ZELKOR_LOG_INFO, io.topology().zoneGroup, rec.phyId, rec.zoneGroup);
    } else {
        io.text(ZELKOR_LOG_INFO, "Zoning is Not Enabled");
        rec.zoneGroup = ZELKOR_ZONE_GROUP_NONE;
    }
    return 0;
}

// Decodes phy p into rec (zeroed first): block, overlay, lanes, mask bits, zone.
ZELKOR_STATUS decodePhy(TopologyAccess& io, uint32_t phy, const DecodeRun& run, ZELKOR_PHY& rec) {
    const HalTopology& t = io.topology();
    ZELKOR_HAL_INSTANCE* hi = io.instance();
    rec = ZELKOR_PHY{};
    const PhyPlace place = placeOf(t, phy, run.phys);
    const bool physical = !place.isVirtual && phy < physicalPhys(t, run.phys);
    // A phy without lane registers has no lane offset; kept as a flag and a value, which optimised builds see as set.
    const std::optional<uint32_t> laneFound =
        t.laneRegisters && physical ? laneOffset(t, hi, phy) : std::nullopt;
    const bool lane = laneFound.has_value();
    const uint32_t laneAt = laneFound.value_or(0);
    const HalLanes& lanes = lanesOf(t, hi);

    std::array<uint8_t, PHY_INFORMATION_SIZE> info{};
    const bool overlay = t.informationOverlay && place.isVirtual && place.information != 0;
    if (overlay) {
        if (const ZELKOR_STATUS status = io.read(place.information, info.data(), PHY_INFORMATION_SIZE))
            return status;
    }
    std::array<uint8_t, PHY_BLOCK_SIZE> bytes{};
    if (io.read(place.block, bytes.data(), PHY_BLOCK_SIZE) != 0)
        return HAL_FAILURE;
    std::array<uint32_t, PHY_BLOCK_WORDS> block{};
    for (uint32_t i = 0; i < PHY_BLOCK_WORDS; ++i)
        block[i] = le32(&bytes[kWordBytes * i]);
    populatePhyData(&rec, block.data());
    if (overlay)
        applyInformation(rec, info.data(), run.single);

    if (t.laneRegisters && run.single && physical) {
        rec.supportedMaxLinkRate = 0;
        rec.supportedMinLinkRate = 0;
        if (gBoolGetDevicesCommand != 1 && lane) {
            uint32_t status = 0;
            if (const ZELKOR_STATUS s = io.readWord(lanes.status + laneAt, status); s != 0)
                return s;
            supportedRates(rec, status);
        }
    }

    PhyMask own;
    PhyMask& mask = run.single ? own : *run.mask;
    if (run.single) {
        if (const ZELKOR_STATUS status = readMask(io, mask); status != 0) {
            if (!t.toleratesMaskFailure)
                return status;
            mask = PhyMask{};
        }
    }
    uint8_t enabled = mask.enableBit(place.enableBit);
    if (t.maskBytes > 8)
        rec.skarvelEnabled = mask.skarvelBit(phy, t.skarvelLastPhy);
    if (lane && rec.attachedDeviceType == 0 && rec.skarvelEnabled == 1) {
        uint32_t rate = 0;
        if (const ZELKOR_STATUS status = io.readWord(lanes.attachedRate + laneAt, rate); status != 0)
            return status;
        rec.negotiatedLinkRate = bits(rate, 16, 4);
    }
    if (t.laneRegisters) {
        // getPhy takes a phy for virtual by the id its information block gives.
        const bool virtualHere =
            run.single ? overlay && static_cast<int64_t>(rec.phyId) >= static_cast<int64_t>(run.phys) - 3
                       : place.isVirtual;
        const uint32_t rate = rec.negotiatedLinkRate;
        if (virtualHere ? rate <= 1 : rate == 1)
            enabled = 0;
    }
    rec.enabled = enabled;
    return readZone(io, place, run.single, rec);
}

// The four error counters of one phy; 0 when the phy has none.
ZELKOR_STATUS readCounters(TopologyAccess& io, uint32_t phy, uint32_t phys, ZELKOR_PHY& rec) {
    const HalTopology& t = io.topology();
    ZELKOR_HAL_INSTANCE* hi = io.instance();
    const PhyPlace place = placeOf(t, phy, phys);
    uint32_t address = place.counters;
    uint32_t size = 16;
    uint32_t stride = kWordBytes;
    if (t.laneRegisters) {
        const bool physical = !place.isVirtual && phy < physicalPhys(t, phys);
        const std::optional<uint32_t> lane = physical ? laneOffset(t, hi, phy) : std::nullopt;
        if (!lane || rec.virtualPhy != 0)
            return 0;
        const HalLanes& lanes = lanesOf(t, hi);
        address = lanes.counters + *lane;
        size = lanes.counterBytes;
        stride = lanes.counterStride;
    }
    if (address == 0)
        return 0;
    std::array<uint8_t, PHY_BLOCK_SIZE> bytes{};
    if (io.read(address, bytes.data(), size) != 0)
        return HAL_FAILURE;
    rec.invalidDwordCount = le32(&bytes[0]);
    rec.runningDisparityErrorCount = le32(&bytes[stride]);
    rec.lossOfDwordSyncCount = le32(&bytes[2 * stride]);
    rec.phyResetProblemCount = le32(&bytes[3 * stride]);
    return 0;
}

} // namespace

// ---- shared pieces ----

ZELKOR_STATUS TopologyAccess::read(uint32_t address, void* out, uint32_t size, const char* failedText) {
    std::memset(out, 0, size);
    if (deviceTexts_ && topology_.deviceReadAnnounce != nullptr)
        log(ZELKOR_LOG_INFO, topology_.deviceReadAnnounce, static_cast<int>(size), address, window_->regionId);
    else
        log(ZELKOR_LOG_INFO, kReadAnnounce, static_cast<int>(size), address);
    const ZELKOR_STATUS status = halRead(hi_, window_, address, static_cast<uint8_t*>(out), size);
    if (status != 0) {
        std::memset(out, 0, size);
        if (!deviceTexts_ || topology_.deviceReadFailureLogged)
            log(ZELKOR_LOG_ERROR, failedText != nullptr ? failedText : topology_.readFailed,
                static_cast<int>(size), address);
    }
    return status;
}

ZELKOR_STATUS TopologyAccess::readWord(uint32_t address, uint32_t& value, const char* failedText) {
    std::array<uint8_t, kWordBytes> bytes{};
    const ZELKOR_STATUS status = read(address, bytes.data(), kWordBytes, failedText);
    value = status == 0 ? le32(bytes.data()) : 0;
    return status;
}

ZELKOR_STATUS TopologyAccess::writeWord(uint32_t address, uint32_t value) {
    log(ZELKOR_LOG_INFO, kWriteAnnounce, static_cast<int>(kWordBytes), address);
    const ZELKOR_STATUS status = halWriteWord(hi_, window_, address, value);
    if (status != 0)
        log(ZELKOR_LOG_ERROR, topology_.writeFailed, static_cast<int>(kWordBytes), address);
    return status;
}

void TopologyAccess::log(uint32_t level, const char* format, ...) {
    if (format == nullptr || hi_->handle == nullptr || hi_->handle->log == nullptr)
        return;
    char line[512] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    halLog(family_, hi_->handle, fn_, level, "%s", line);
}

void TopologyAccess::text(uint32_t level, const char* line) {
    if (line != nullptr)
        halLog(family_, hi_->handle, fn_, level, "%s", line);
}

ZELKOR_STATUS beginTopology(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, const char* fn,
                            ZELKOR_STATUS nullStatus, ZELKOR_REGION** window, const char* missingText,
                            bool announcesLookup) {
    if (hi == nullptr)
        return nullStatus;
    if (getHALInstance(hi) == nullptr)
        return HAL_INVALID_HANDLE;
    halLogEntry(f, hi->handle, fn);
    if (announcesLookup)
        halLog(f, hi->handle, fn, ZELKOR_LOG_INFO, "Getting HAL region List");
    ZELKOR_REGION_LIST* node = nullptr;
    getHALRegion(hi, &node);
    if (node == nullptr) {
        halLog(f, hi->handle, fn, ZELKOR_LOG_ERROR, "%s", missingText);
        return HAL_NO_MEMORY_WINDOW;
    }
    *window = &node->region;
    return 0;
}

ZELKOR_STATUS readPhyCount(TopologyAccess& io, uint32_t& phys, const char* countFailed) {
    const HalTopology& t = io.topology();
    phys = 0;
    uint32_t word = 0;
    if (t.deviceIdRegister != 0) {
        if (const ZELKOR_STATUS status = io.readWord(t.deviceIdRegister, word); status != 0)
            return status;
        for (const HalTopology::FixedCount& fixed : t.fixedCounts) {
            if (fixed.deviceId != 0 && (word >> 16) == fixed.deviceId) {
                phys = fixed.phys;
                return 0;
            }
        }
    }
    if (const ZELKOR_STATUS status = io.readWord(t.countRegister, word, countFailed); status != 0)
        return status;
    phys = bits(word, 16, 8);
    return 0;
}

uint32_t physicalPhys(const HalTopology& t, uint32_t phys) {
    return phys > t.reserved ? phys - t.reserved : 0;
}

const HalLanes& lanesOf(const HalTopology& t, const ZELKOR_HAL_INSTANCE* hi) {
    return t.lanes[hi->chipType == ZELKOR_CHIP_QUENZA_DAX ? 1 : 0];
}

std::optional<uint32_t> laneOffset(const HalTopology& t, const ZELKOR_HAL_INSTANCE* hi, uint32_t phy) {
    const HalLanes& lanes = lanesOf(t, hi);
    if (lanes.mapped) {
        if (phy >= CSW_PHY_MAP_ENTRIES)
            return std::nullopt;
        const CswPhyMapEntry& entry = sCswPhyMap[phy];
        return (static_cast<uint32_t>(entry.core) * 64 + entry.lane) << lanes.shift;
    }
    return ((phy >> 2) * 64 + (phy & 3)) << lanes.shift;
}

void populatePhyData(ZELKOR_PHY* rec, const uint32_t block[PHY_BLOCK_WORDS]) {
    const uint32_t w1 = block[1];
    const uint32_t w8 = block[8];
    rec->attachedPhyId = static_cast<uint8_t>(bits(block[6], 24, 8));
    rec->phyId = static_cast<uint8_t>(bits(block[0], 16, 8));
    rec->routingAttribute = static_cast<uint8_t>(bits(block[9], 24, 4));
    rec->sasAddressLow = block[3];
    rec->sasAddressHigh = block[2];
    rec->attachedSasAddressLow = block[5];
    rec->attachedSasAddressHigh = block[4];
    rec->attachedSmpInitiator = static_cast<uint8_t>(bits(w1, 9, 1));
    rec->attachedStpInitiator = static_cast<uint8_t>(bits(w1, 10, 1));
    rec->attachedSspInitiator = static_cast<uint8_t>(bits(w1, 11, 1));
    rec->attachedDeviceType = bits(w1, 28, 3);
    rec->attachedSataDevice = static_cast<uint8_t>(bits(w1, 0, 1));
    rec->attachedSmpTarget = static_cast<uint8_t>(bits(w1, 1, 1));
    rec->attachedStpTarget = static_cast<uint8_t>(bits(w1, 2, 1));
    rec->attachedSspTarget = static_cast<uint8_t>(bits(w1, 3, 1));
    rec->attachedSataPortSelector = static_cast<uint8_t>(bits(w1, 4, 1));
    rec->supportedMinLinkRate = static_cast<uint8_t>(bits(w8, 28, 4));
    rec->minLinkRate = static_cast<uint8_t>(bits(w8, 24, 4));
    rec->supportedMaxLinkRate = static_cast<uint8_t>(bits(w8, 20, 4));
    rec->maxLinkRate = static_cast<uint8_t>(bits(w8, 16, 4));
    rec->phyChangeCount = static_cast<uint8_t>(bits(w8, 8, 8));
    rec->partialPathwayTimeout = static_cast<uint8_t>(bits(w8, 0, 4));
    rec->virtualPhy = static_cast<uint8_t>(bits(w8, 7, 1));
    rec->negotiatedLinkRate = bits(w1, 16, 4);
    rec->linkNibble = static_cast<uint16_t>(bits(block[10], 16, 4));
    rec->linkFlag = static_cast<uint8_t>(bits(block[11], 0, 1));
}

ZELKOR_STATUS addNodetoPhyList(ZELKOR_PHY_LIST** head, const ZELKOR_PHY* rec) {
    if (rec == nullptr || head == nullptr)
        return HAL_INVALID_ARGUMENT;
    ZELKOR_PHY_LIST* node = appendNode(head);
    if (node == nullptr)
        return HAL_NO_MEMORY;
    node->phy = *rec;
    return 0;
}

// ---- the operations ----

ZELKOR_STATUS halGetPhys(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, ZELKOR_PHY_LIST** out) {
    const char* fn = "zelkor_hal_getPhys";
    ZELKOR_REGION* window = nullptr;
    if (hi != nullptr && getHALInstance(hi) != nullptr && out == nullptr)
        return HAL_INVALID_ARGUMENT;
    if (const ZELKOR_STATUS status = beginTopology(f, hi, fn, HAL_INVALID_HANDLE, &window); status != 0)
        return status;
    *out = nullptr;
    TopologyAccess io(f, hi, window, fn);
    uint32_t phys = 0;
    if (const ZELKOR_STATUS status = readPhyCount(io, phys); status != 0)
        return status;
    PhyMask mask;
    if (const ZELKOR_STATUS status = readMask(io, mask); status != 0)
        return status;
    io.log(ZELKOR_LOG_INFO, f.topology->physCount, static_cast<int>(phys));
    const DecodeRun run{false, phys, &mask};
    for (uint32_t phy = 0; phy < phys; ++phy) {
        ZELKOR_PHY rec{};
        if (const ZELKOR_STATUS status = decodePhy(io, phy, run, rec); status != 0)
            return status;
        if (const ZELKOR_STATUS status = addNodetoPhyList(out, &rec); status != 0) {
            io.log(ZELKOR_LOG_ERROR, f.topology->phyAppendFailed, static_cast<int>(phy));
            return status;
        }
    }
    return 0;
}

ZELKOR_STATUS halGetPhy(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, uint32_t phy, ZELKOR_PHY* out) {
    const char* fn = "zelkor_hal_getPhy";
    ZELKOR_REGION* window = nullptr;
    if (const ZELKOR_STATUS status = beginTopology(f, hi, fn, HAL_INVALID_HANDLE, &window); status != 0)
        return status;
    TopologyAccess io(f, hi, window, fn);
    uint32_t phys = 0;
    if (const ZELKOR_STATUS status = readPhyCount(io, phys); status != 0)
        return status;
    io.log(ZELKOR_LOG_INFO, f.topology->phyCount, static_cast<int>(phys));
    if (phy >= phys) {
        io.log(ZELKOR_LOG_ERROR, f.topology->phyInvalid, static_cast<int>(phy), static_cast<int>(phys));
        return HAL_INVALID_PHY;
    }
    ZELKOR_PHY rec{};
    if (const ZELKOR_STATUS status = decodePhy(io, phy, DecodeRun{true, phys, nullptr}, rec); status != 0)
        return status;
    if (out == nullptr) {
        io.text(ZELKOR_LOG_ERROR, "Copying PHY information **** FAILED ****");
        return HAL_FAILURE;
    }
    *out = rec;
    return readCounters(io, phy, phys, *out);
}

ZELKOR_STATUS halResetPhy(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, uint32_t phy) {
    const char* fn = "zelkor_hal_resetPhy";
    const HalTopology& t = *f.topology;
    ZELKOR_REGION* window = nullptr;
    if (const ZELKOR_STATUS status =
            beginTopology(f, hi, fn, HAL_INVALID_ARGUMENT, &window, t.resetWindowMissing);
        status != 0)
        return status;
    TopologyAccess io(f, hi, window, fn);
    uint32_t phys = 0;
    if (const ZELKOR_STATUS status = readPhyCount(io, phys, t.resetCountFailed); status != 0)
        return status;
    // Physical phys only: any other number would put the reset bit into an unrelated register.
    std::optional<uint32_t> reg;
    if (phy < physicalPhys(t, phys)) {
        if (t.resetBase != 0)
            reg = phyRegister(t, t.resetBase, phy);
        else if (const auto lane = laneOffset(t, hi, phy))
            reg = lanesOf(t, hi).reset + *lane;
    }
    if (!reg) {
        io.log(ZELKOR_LOG_ERROR, "Invalid phy Id %d **** FAILED ****", static_cast<int>(phy));
        return HAL_INVALID_PHY;
    }
    io.log(ZELKOR_LOG_INFO, t.resetAnnounce, static_cast<int>(phy));
    io.log(ZELKOR_LOG_INFO, t.resetWriteAnnounce, static_cast<int>(kWordBytes), *reg);
    if (halWriteWord(hi, window, *reg, kResetBit) != 0) {
        io.log(ZELKOR_LOG_ERROR, t.resetWriteFailed, static_cast<int>(kWordBytes), *reg);
        return HAL_FAILURE;
    }
    io.log(ZELKOR_LOG_INFO, "Reading %d bytes at 0x%08x offset ", static_cast<int>(kWordBytes), *reg);
    uint32_t value = 0;
    if (halReadWord(hi, window, *reg, &value) != 0) {
        io.log(ZELKOR_LOG_ERROR, "Reading %d bytes at 0x%08x offset **** FAILED ****",
               static_cast<int>(kWordBytes), *reg);
        return HAL_FAILURE;
    }
    if ((value & kResetBit) != 0) {
        io.text(ZELKOR_LOG_ERROR, t.resetNotTaken);
        return HAL_FAILURE;
    }
    io.text(ZELKOR_LOG_INFO, t.resetTaken);
    return 0;
}
