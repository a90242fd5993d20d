// The route table and the zone permission rows, read through the expander's indirect access window: an
// index register, a command register that fetches the selected row, and the row's data registers.
#include "hal/zelkorHalTopologyAccess.h"

#include <array>
#include <cstring>

namespace {

constexpr uint32_t kWindowIndex = 0xA0000008u;
constexpr uint32_t kWindowCommand = 0xA000000Cu; // write: fetch; read: bit 15 table unavailable
constexpr uint32_t kWindowAddress = 0xA0000020u;  // 8 bytes: SAS address, low word first
constexpr uint32_t kWindowData = 0xA0000030u;     // 8 bytes: route mask; 4 bytes: permission word
constexpr uint32_t kZoningControl = 0xA000008Cu;  // bit 1: zoning enabled
constexpr uint32_t kFetch = 4;
constexpr uint32_t kTableUnavailable = 1u << 15;
constexpr uint32_t kZoningEnabled = 1u << 1;
constexpr uint32_t kZoneIndexFlag = 0x800;
constexpr uint32_t kZoneGroups = 256;
constexpr uint32_t kRowWords = 8;

uint32_t le32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

// The route mask bit of a phy; none when the phy has no bit in the 64-bit mask.
std::optional<uint32_t> routeBit(const HalTopology& t, uint32_t phy) {
    if (phy >= t.routeLimit)
        return std::nullopt;
    uint64_t bit = phy;
    if (t.routeMaskGrouped)
        bit = phy < 4 ? phy : phy < 8 ? phy + 4u : phy < 12 ? phy + 8u : uint64_t{phy} + 12u;
    if (bit >= 64)
        return std::nullopt;
    return static_cast<uint32_t>(bit);
}

// Selects a row and fetches it.
ZELKOR_STATUS fetchRow(TopologyAccess& io, uint32_t index) {
    if (const ZELKOR_STATUS status = io.writeWord(kWindowIndex, index); status != 0)
        return status;
    return io.writeWord(kWindowCommand, kFetch);
}

} // namespace

ZELKOR_STATUS halGetRouteTable(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, uint32_t phy, ZELKOR_ROUTE_LIST** out) {
    const char* fn = "zelkor_hal_getRouteTable";
    const HalTopology& t = *f.topology;
    ZELKOR_REGION* window = nullptr;
    if (hi != nullptr && getHALInstance(hi) != nullptr && out == nullptr)
        return HAL_INVALID_ARGUMENT;
    if (const ZELKOR_STATUS status = beginTopology(f, hi, fn, HAL_INVALID_HANDLE, &window); status != 0)
        return status;
    TopologyAccess io(f, hi, window, fn);
    uint32_t command = 0;
    if (const ZELKOR_STATUS status = io.readWord(kWindowCommand, command); status != 0)
        return status;
    if ((command & kTableUnavailable) != 0) {
        io.log(ZELKOR_LOG_ERROR, t.readFailed, static_cast<int>(sizeof command), kWindowCommand);
        return HAL_ROUTE_TABLE_UNAVAILABLE;
    }
    uint32_t count = 0;
    if (const ZELKOR_STATUS status = io.readWord(t.routeCountRegister, count); status != 0)
        return status;
    count &= 0xFFFFu;
    const std::optional<uint32_t> bit = routeBit(t, phy);
    ZELKOR_ROUTE_LIST* head = nullptr;
    ZELKOR_STATUS failed = 0;
    // A phy without a mask bit matches no entry: the walk would only move the window.
    const uint32_t walk = count == 0 || !bit ? 0 : t.routeWalk != 0 ? t.routeWalk : count;
    for (uint32_t i = 0; i < walk; ++i) {
        if (const ZELKOR_STATUS status = fetchRow(io, i); status != 0) {
            failed = status;
            break;
        }
        std::array<uint8_t, 8> address{};
        std::array<uint8_t, 8> mask{};
        ZELKOR_STATUS status = io.read(kWindowAddress, address.data(), address.size());
        const uint32_t low = le32(&address[0]);
        const uint32_t high = le32(&address[4]);
        if (status == 0 && low == 0 && high == 0)
            continue;
        if (status == 0)
            status = io.read(kWindowData, mask.data(), mask.size());
        if (status != 0) {
            if (failed == 0)
                failed = status;
            if (t.routeSkipsFailures)
                continue;
            break;
        }
        const uint32_t word = le32(&mask[*bit / 32 * 4]);
        if (((word >> (*bit % 32)) & 1u) == 0)
            continue;
        ZELKOR_ROUTE_LIST* node = appendNode(&head);
        if (node == nullptr) {
            io.log(ZELKOR_LOG_ERROR, t.routeAllocFailed, static_cast<int>(sizeof(ZELKOR_ROUTE_LIST)));
            failed = HAL_NO_MEMORY;
            break;
        }
        node->routeIndex = i;
        node->sasAddressLow = low;
        node->sasAddressHigh = high;
    }
    if (head != nullptr) {
        *out = head;
        return failed;
    }
    if (failed != 0)
        return failed;
    io.text(ZELKOR_LOG_ERROR, t.routeInvalid);
    return HAL_NO_ROUTE_ENTRY;
}

ZELKOR_STATUS halGetZonePermissions(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, uint32_t zoneGroup,
                                    uint32_t row[8]) {
    const char* fn = "zelkor_hal_getZonePermissions";
    const HalTopology& t = *f.topology;
    ZELKOR_REGION* window = nullptr;
    if (const ZELKOR_STATUS status = beginTopology(f, hi, fn, HAL_INVALID_HANDLE, &window); status != 0)
        return status;
    if (row == nullptr)
        return HAL_INVALID_ARGUMENT;
    if (zoneGroup >= kZoneGroups)
        return HAL_UNSUPPORTED_EXPANDER;
    TopologyAccess io(f, hi, window, fn);
    uint32_t control = 0;
    if (const ZELKOR_STATUS status = io.readWord(kZoningControl, control); status != 0)
        return status;
    if ((control & kZoningEnabled) == 0) {
        io.text(ZELKOR_LOG_INFO, "Zoning control is disabled");
        return HAL_ZONING_DISABLED;
    }
    io.text(ZELKOR_LOG_INFO, t.zoningEnabled);
    std::array<uint32_t, kRowWords> words{};
    for (uint32_t i = 0; i < kRowWords; ++i) {
        if (const ZELKOR_STATUS status = fetchRow(io, (zoneGroup * kRowWords + i) | kZoneIndexFlag); status != 0)
            return status;
        if (const ZELKOR_STATUS status = io.readWord(kWindowData, words[i]); status != 0)
            return status;
    }
    std::memcpy(row, words.data(), sizeof words);
    return 0;
}
