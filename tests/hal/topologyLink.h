// The library opened on a simulated expander for the topology operations: through the real in-band module
// under the preloaded simulator, or through the real TCP module against the simulator's management port.
// Both record the expander accesses as one sequence, so that tests can hold them to the same expectations.
#ifndef TESTS_HAL_TOPOLOGY_LINK_H
#define TESTS_HAL_TOPOLOGY_LINK_H

#include "core/zelkor.h"
#include "tests/support/libraryLists.h"
#include "scenario/Scenario.h"
#include "tcp/TcpServer.h"
#include "tests/support/testSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

enum class Transport { InBand, Tcp };

// One memory-window access as the expander saw it.
struct WindowAccess {
    char op = 'R'; // 'R' read, 'W' write
    uint32_t address = 0;
    uint32_t size = 0;
    uint32_t value = 0; // a 4-byte write's word

    bool operator==(const WindowAccess& o) const {
        return op == o.op && address == o.address && size == o.size && (op == 'R' || value == o.value);
    }
};
void PrintTo(const WindowAccess& a, std::ostream* os);

inline WindowAccess readOf(uint32_t address, uint32_t size = 4) {
    return {'R', address, size, 0};
}
inline WindowAccess writeOf(uint32_t address, uint32_t value) {
    return {'W', address, 4, value};
}

class TopologyLink {
  public:
    explicit TopologyLink(Transport transport) : transport_(transport) {}
    ~TopologyLink();
    TopologyLink(const TopologyLink&) = delete;
    TopologyLink& operator=(const TopologyLink&) = delete;

    // Opens the library on device sg0 of the scenario; 0 or the open's status.
    ZELKOR_STATUS open(const std::string& scenario);
    ZELKOR_INSTANCE* handle() const { return handle_; }
    Transport transport() const { return transport_; }

    // Accesses since the last clear, and every other command or frame that reached the device.
    std::vector<WindowAccess> accesses() const;
    size_t otherCommands() const;
    void clear();
    // Waits asked of the sleep seam since the open, in milliseconds.
    const std::vector<uint32_t>& sleeps() const;
    // Resets the expander counted per phy.
    std::map<uint32_t, uint32_t> phyResets();

  private:
    Transport transport_;
    ZELKOR_INSTANCE* handle_ = nullptr;
    std::unique_ptr<zsim::Enclosure> enclosure_;
    std::unique_ptr<zsim::TcpServer> server_;
};

const char* transportName(Transport transport);

#endif
