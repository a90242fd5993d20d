// The expander's topology shown to the user: expander summary, phys, ports, attached devices, zone
// groups and permissions, and the phy and expander resets.
#ifndef TOPOLOGY_H
#define TOPOLOGY_H

#include "core/zelkor.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// Phy-id argument words that mean "every phy", "every port", "every zone group".
constexpr uint32_t TOPOLOGY_ALL = 511;

// Phys a reset of all phys reaches: ids below this.
constexpr uint32_t TOPOLOGY_PHY_LIMIT = 48;

// Zone group of an unzoned phy.
constexpr uint32_t ZONE_GROUP_UNZONED = 65535;

// What the displays show of one phy, in the order of the phy record.
struct PhyView {
    uint32_t sasHigh = 0, sasLow = 0;
    uint32_t phyId = 0;
    bool virtualPhy = false;
    uint32_t routingAttribute = 0;
    uint32_t negotiatedRate = 0;
    uint32_t zoneGroup = 0;
    bool enabled = false;
    bool skarvel = false;
    uint32_t attachedSasHigh = 0, attachedSasLow = 0;
    uint32_t attachedPhyId = 0;
    uint32_t deviceType = 0;
    // SMP, STP, SSP initiator; SMP, STP, SSP target; SATA target; SATA port selector
    bool capabilities[8] = {};
    uint32_t programmedMin = 0, programmedMax = 0, hardwareMin = 0, hardwareMax = 0;
    uint32_t changeCount = 0;
    uint32_t invalidDwords = 0, disparityErrors = 0, syncLosses = 0, resetProblems = 0;
};

struct PortView {
    uint32_t portId = 0;
    uint32_t sasHigh = 0, sasLow = 0;
    std::vector<uint32_t> phys;
};

struct DeviceView {
    uint32_t deviceType = 0;
    uint32_t sasHigh = 0, sasLow = 0;
    std::vector<uint32_t> ownPhys;
    uint32_t parentSasHigh = 0, parentSasLow = 0;
    std::vector<uint32_t> parentPhys;
};

const char* printLinkSpeed(uint32_t rate);
const char* printRoutingAttribute(uint32_t attribute);
const char* printDeviceType(uint32_t type);
const char* printConnectorType(uint32_t connector);
// One line per set capability, later lines indented under the first.
std::string printCapabilities(const bool (&capabilities)[8]);

// Phy ids in groups of four ("00-01-02-03"), one text per group.
std::vector<std::string> phyGroups(const std::vector<uint32_t>& phys);

std::string phyLegend();
std::string phyTableHeading();
std::string displayPhy(const PhyView& phy);
std::string displaySinglePhy(const PhyView& phy);
std::string portHeading();
std::string displayPort(const PortView& port);
std::string deviceHeading();
std::string displayDevice(const DeviceView& device);

// Where the topology commands get their records: the library's queries, as the front end's views. Each
// returns the query's status; a query that hands out no list leaves the vector empty and sets listed false.
struct TopologySource {
    std::function<uint32_t(std::vector<PhyView>&, bool& listed)> phys;
    std::function<uint32_t(uint32_t phy, PhyView&)> phy;
    std::function<uint32_t(std::vector<PortView>&, bool& listed)> ports;
    std::function<uint32_t(std::vector<DeviceView>&, bool& listed)> devices;
    // SAS addresses (high, low) of the phy's route table entries
    std::function<uint32_t(uint32_t phy, std::vector<std::pair<uint32_t, uint32_t>>&, bool& listed)> routes;
};

// The library's queries on gInstance's handle as a source. Every list a query hands out is kept in gInstance
// (replacing and freeing the previous list of its kind) until cleanQuillet frees it.
TopologySource libraryTopology();
PhyView phyViewOf(const ZELKOR_PHY& phy);
PortView portViewOf(const ZELKOR_PORT& port);
DeviceView deviceViewOf(const ZELKOR_DEVICE& device);

// The commands over a source; word: the argument word of the command, or null.
uint32_t showPhys(const TopologySource& source, const char* phyWord);
uint32_t showPorts(const TopologySource& source, const char* portWord);
uint32_t showAttached(const TopologySource& source);
uint32_t showRouteTables(const TopologySource& source, const char* phyWord);
uint32_t showZoneGroups(const TopologySource& source, const char* phyWord);
uint32_t resetPhys(const TopologySource& source, const char* phyWord);

// The commands on the library's queries of gInstance's handle; word: the command's argument word, or null.
uint32_t getPhy(const char* phyWord);
uint32_t getPort(const char* portWord);
uint32_t getAttached();
uint32_t getRouteTable(const char* phyWord);
uint32_t getZoneGroup(const char* phyWord);
uint32_t resetPhy(const char* phyWord);

// The expander list's records: 0, or 34 without a list.
uint32_t getExpanderInfo();

// The zone permission row of one group (its word), or of every group (null or "511").
uint32_t getZonePermissions(const char* groupWord);

// Resets one phy: 0, or 1 for an invalid id or a failed reset.
uint32_t phyReset(uint32_t phy);

// Resets the expander with the kind (1 chip, 2 watchdog); a failure is shown.
uint32_t resetExpander(uint8_t kind);

#endif
