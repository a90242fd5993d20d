// What the topology operations share inside the hardware modules: the start of an operation, register
// access with the family's log lines, the phy count and the places of a phy's registers.
#ifndef ZELKOR_HAL_TOPOLOGY_ACCESS_H
#define ZELKOR_HAL_TOPOLOGY_ACCESS_H

#include "hal/zelkorHalCommon.h"
#include "hal/zelkorHalTopology.h"

#include <cstdlib>
#include <optional>

// Register access for one operation: every read is announced and a failed one logged with the family's
// texts; buffers are zeroed before a read, so that nothing is ever decided from unfilled bytes.
class TopologyAccess {
  public:
    TopologyAccess(const HalFamily& family, ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* window, const char* fn)
        : family_(family), topology_(*family.topology), hi_(hi), window_(window), fn_(fn) {}

    const HalFamily& family() const { return family_; }
    const HalTopology& topology() const { return topology_; }
    ZELKOR_HAL_INSTANCE* instance() const { return hi_; }
    ZELKOR_INSTANCE* handle() const { return hi_->handle; }
    const char* function() const { return fn_; }

    // getDevices announces its reads with the window's id (where the family does) and may keep failed
    // reads out of the log.
    void useDeviceTexts() { deviceTexts_ = true; }

    // failedText, when given, replaces the family's failure line.
    ZELKOR_STATUS read(uint32_t address, void* out, uint32_t size, const char* failedText = nullptr);
    ZELKOR_STATUS readWord(uint32_t address, uint32_t& value, const char* failedText = nullptr);
    ZELKOR_STATUS writeWord(uint32_t address, uint32_t value);

    void log(uint32_t level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    // A fixed text, never read as a format; nothing for a null text.
    void text(uint32_t level, const char* line);

  private:
    const HalFamily& family_;
    const HalTopology& topology_;
    ZELKOR_HAL_INSTANCE* hi_;
    ZELKOR_REGION* window_;
    const char* fn_;
    bool deviceTexts_ = false;
};

// The start of every topology operation: the instance checks (nullStatus for a null hi, 4 for one the
// modules do not hold), the entry line and the memory window (17 without one, after missingText).
ZELKOR_STATUS beginTopology(const HalFamily& family, ZELKOR_HAL_INSTANCE* hi, const char* fn,
                            ZELKOR_STATUS nullStatus, ZELKOR_REGION** window,
                            const char* missingText = "Unable to identify the region **** FAILED ****",
                            bool announcesLookup = false);

// Reads the phy count N (at most 255). countFailed, when given, replaces the failure line of the count
// register's read.
ZELKOR_STATUS readPhyCount(TopologyAccess& io, uint32_t& phys, const char* countFailed = nullptr);

// Phys 0 .. physicalPhys(N) - 1 are physical; none when N is below the reserved count.
uint32_t physicalPhys(const HalTopology& t, uint32_t phys);

// The lane offset L of a physical phy; none for a phy that has no lane registers.
std::optional<uint32_t> laneOffset(const HalTopology& t, const ZELKOR_HAL_INSTANCE* hi, uint32_t phy);
const HalLanes& lanesOf(const HalTopology& t, const ZELKOR_HAL_INSTANCE* hi);

// A register of phy p in the family's per-phy layout.
inline uint32_t phyRegister(const HalTopology& t, uint32_t base, uint32_t phy) {
    return base + (phy << t.blockShift);
}

// Frees every node of a list built with calloc.
template <typename Node> void freeNodes(Node* node) {
    while (node != nullptr) {
        Node* next = node->next;
        std::free(node);
        node = next;
    }
}

// Appends a zero-filled node at the tail: the node, or null without memory.
template <typename Node> Node* appendNode(Node** head) {
    auto* node = static_cast<Node*>(std::calloc(1, sizeof(Node)));
    if (node == nullptr)
        return nullptr;
    Node** tail = head;
    while (*tail != nullptr)
        tail = &(*tail)->next;
    *tail = node;
    return node;
}

#endif
