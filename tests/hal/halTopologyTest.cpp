// Phys, ports, devices, route table, zone rows and phy resets through zelkor_open and the zelkor_
// operations, over the real in-band module under the simulated enclosure and over the real TCP module
// against the simulator's management port.
#include "hal/zelkorHalTopology.h"
#include "tests/hal/topologyLink.h"

#include "client/zsimClient.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace sim = zsim::client;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;

constexpr uint32_t kUnzoned = ZELKOR_ZONE_GROUP_NONE;

std::vector<ZELKOR_PHY> phyRecords(ZELKOR_PHY_LIST* list) {
    std::vector<ZELKOR_PHY> out;
    for (ZELKOR_PHY_LIST* n = list; n != nullptr; n = n->next)
        out.push_back(n->phy);
    freeList(list);
    return out;
}

std::vector<ZELKOR_PORT> portRecords(ZELKOR_PORT_LIST* list) {
    std::vector<ZELKOR_PORT> out;
    for (ZELKOR_PORT_LIST* n = list; n != nullptr; n = n->next)
        out.push_back(n->port);
    freeList(list);
    return out;
}

std::vector<ZELKOR_DEVICE> deviceRecords(ZELKOR_DEVICE_LIST* list) {
    std::vector<ZELKOR_DEVICE> out;
    for (ZELKOR_DEVICE_LIST* n = list; n != nullptr; n = n->next)
        out.push_back(n->device);
    freeList(list);
    return out;
}

std::vector<uint32_t> idsOf(const ZELKOR_PORT& port) {
    return std::vector<uint32_t>(port.phyIds, port.phyIds + port.phyCount);
}

std::vector<uint32_t> routeIndices(ZELKOR_ROUTE_LIST* list) {
    std::vector<uint32_t> out;
    for (ZELKOR_ROUTE_LIST* n = list; n != nullptr; n = n->next)
        out.push_back(n->routeIndex);
    freeList(list);
    return out;
}

// The mixed topology: a SATA drive, a disabled phy, an empty phy, an SSP drive, a wide port of four links to
// another expander, a virtual phy with the enclosure's own device and two idle virtual phys.
std::string mixedScenario(const char* family, const std::string& extra = "") {
    return std::string("device sg0 ") + family +
           "\n"
           "    sas-address 5000CCAB:0400B7F0\n"
           "    phys 11\n"
           "    phy 0 attached=5000C500:00000044 type=end targets=sata,stp,selector rate=9\n"
           "    phy 1 enabled=off rate=1\n"
           "    phy 3 attached=5000C500:00000077 type=end initiators=ssp targets=ssp rate=11 zone=9 "
           "counters=1,2,3,4 changes=5 rates=8,9,11,10 lane-rates=0x3C\n"
           "    phy 4 attached=5000CCAB:0400B900 type=expander attached-phy=0 initiators=smp targets=smp zone=2 "
           "routing=table\n"
           "    phy 5 attached=5000CCAB:0400B900 type=expander attached-phy=1 initiators=smp targets=smp zone=2 "
           "routing=table\n"
           "    phy 6 attached=5000CCAB:0400B900 type=expander attached-phy=2 initiators=smp targets=smp zone=2 "
           "routing=table\n"
           "    phy 7 attached=5000CCAB:0400B900 type=expander attached-phy=3 initiators=smp targets=smp zone=2 "
           "routing=table skarvel=on lane-rate=1\n"
           "    phy 8 attached=5000CCAB:0400B7FE type=end targets=ssp rate=10 zone=1\n" +
           extra;
}

// What the records of the mixed topology show, field by field.
struct PhyRow {
    uint32_t phy;
    uint32_t type;
    uint32_t attachedLow;
    uint32_t attachedPhy;
    uint32_t rate;
    uint32_t zone;
    uint8_t enabled;
    uint8_t virtualPhy;
    uint8_t sata, stpTarget, sspTarget, smpTarget, selector, smpInitiator, sspInitiator;
    uint8_t routing;
};

const PhyRow kMixedRows[] = {
    {0, 1, 0x44, 0, 9, kUnzoned, 1, 0, 1, 1, 0, 0, 1, 0, 0, 0},
    {1, 0, 0, 0, 1, kUnzoned, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {2, 0, 0, 0, 0, kUnzoned, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {3, 1, 0x77, 0, 11, 9, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0},
    {4, 2, 0x0400B900, 0, 10, 2, 1, 0, 0, 0, 0, 1, 0, 1, 0, 2},
    {5, 2, 0x0400B900, 1, 10, 2, 1, 0, 0, 0, 0, 1, 0, 1, 0, 2},
    {6, 2, 0x0400B900, 2, 10, 2, 1, 0, 0, 0, 0, 1, 0, 1, 0, 2},
    {7, 2, 0x0400B900, 3, 10, 2, 1, 0, 0, 0, 0, 1, 0, 1, 0, 2},
    {8, 1, 0x0400B7FE, 0, 10, 1, 1, 1, 0, 0, 1, 0, 0, 0, 0, 0},
    {9, 0, 0, 0, 0, kUnzoned, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0},
    {10, 0, 0, 0, 0, kUnzoned, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0},
};

void expectRow(const ZELKOR_PHY& r, const PhyRow& w) {
    SCOPED_TRACE("phy " + std::to_string(w.phy));
    EXPECT_EQ(r.phyId, w.phy);
    EXPECT_EQ(r.sasAddressHigh, 0x5000CCABu);
    EXPECT_EQ(r.sasAddressLow, 0x0400B7F0u);
    EXPECT_EQ(r.attachedDeviceType, w.type);
    EXPECT_EQ(r.attachedSasAddressLow, w.attachedLow);
    EXPECT_EQ(r.attachedSasAddressHigh, w.type == 0 ? 0u : w.attachedLow == 0x44 || w.attachedLow == 0x77
                                                                ? 0x5000C500u
                                                                : 0x5000CCABu);
    EXPECT_EQ(r.attachedPhyId, w.attachedPhy);
    EXPECT_EQ(r.negotiatedLinkRate, w.rate);
    EXPECT_EQ(r.zoneGroup, w.zone);
    EXPECT_EQ(r.enabled, w.enabled);
    EXPECT_EQ(r.virtualPhy, w.virtualPhy);
    EXPECT_EQ(r.attachedSataDevice, w.sata);
    EXPECT_EQ(r.attachedStpTarget, w.stpTarget);
    EXPECT_EQ(r.attachedSspTarget, w.sspTarget);
    EXPECT_EQ(r.attachedSmpTarget, w.smpTarget);
    EXPECT_EQ(r.attachedSataPortSelector, w.selector);
    EXPECT_EQ(r.attachedSmpInitiator, w.smpInitiator);
    EXPECT_EQ(r.attachedSspInitiator, w.sspInitiator);
    EXPECT_EQ(r.attachedStpInitiator, 0);
    EXPECT_EQ(r.routingAttribute, w.routing);
    EXPECT_EQ(r.invalidDwordCount + r.runningDisparityErrorCount + r.lossOfDwordSyncCount +
                  r.phyResetProblemCount,
              0u);
}

class Topology : public testing::TestWithParam<Transport> {
  protected:
    void SetUp() override { gBoolGetDevicesCommand = 0; }
    TopologyLink link_{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Links, Topology, testing::Values(Transport::InBand, Transport::Tcp),
                         [](const auto& info) { return info.param == Transport::InBand ? "InBand" : "Tcp"; });

TEST_P(Topology, OstrelMixedTopologyGivesTheScenariosPhys) {
    ASSERT_EQ(link_.open(mixedScenario("ostrel")), 0u);
    ZELKOR_PHY_LIST* list = nullptr;
    ASSERT_EQ(zelkor_getPhys(link_.handle(), &list), 0u);
    const std::vector<ZELKOR_PHY> phys = phyRecords(list);
    ASSERT_EQ(phys.size(), std::size(kMixedRows));
    for (size_t i = 0; i < phys.size(); ++i)
        expectRow(phys[i], kMixedRows[i]);
    EXPECT_EQ(phys[7].skarvelEnabled, 0); // not a Quenza
    EXPECT_EQ(link_.otherCommands(), 0u);
    for (const WindowAccess& a : link_.accesses()) {
        EXPECT_EQ(a.op, 'R');
    }
}

TEST_P(Topology, QuenzaMixedTopologyAddsSkarvelAndLanes) {
    ASSERT_EQ(link_.open(mixedScenario("quenza", "    phy 2 skarvel=on lane-rate=1\n")), 0u);
    ZELKOR_PHY_LIST* list = nullptr;
    ASSERT_EQ(zelkor_getPhys(link_.handle(), &list), 0u);
    const std::vector<ZELKOR_PHY> phys = phyRecords(list);
    ASSERT_EQ(phys.size(), std::size(kMixedRows));
    for (size_t i = 0; i < phys.size(); ++i) {
        PhyRow want = kMixedRows[i];
        // Nothing attached, Skarvel on, the lane says rate 1: the phy is off.
        if (want.phy == 2) {
            want.rate = 1;
            want.enabled = 0;
        }
        // A virtual phy without a negotiated rate is off.
        if (want.virtualPhy == 1 && want.rate == 0)
            want.enabled = 0;
        expectRow(phys[i], want);
    }
    EXPECT_EQ(phys[2].skarvelEnabled, 1);
    EXPECT_EQ(phys[7].skarvelEnabled, 1); // attached: the rate stays the block's
    EXPECT_EQ(phys[7].negotiatedLinkRate, 10u);
    // Over TCP every zone read waits 10 ms; in-band never.
    const std::vector<uint32_t> expected(GetParam() == Transport::Tcp ? 11 : 0, 10);
    EXPECT_EQ(link_.sleeps(), expected);
}

TEST_P(Topology, OstrelAddressSequences) {
    ASSERT_EQ(link_.open(mixedScenario("ostrel")), 0u);
    ZELKOR_PHY phy{};
    ASSERT_EQ(zelkor_getPhy(link_.handle(), 3, &phy), 0u);
    EXPECT_THAT(link_.accesses(), ElementsAre(readOf(0xC0000104), readOf(0xC0043040, 52), readOf(0xC0000044, 8),
                                              readOf(0xC0043154), readOf(0xC0043730, 16)));
    EXPECT_EQ(phy.invalidDwordCount, 1u);
    EXPECT_EQ(phy.runningDisparityErrorCount, 2u);
    EXPECT_EQ(phy.lossOfDwordSyncCount, 3u);
    EXPECT_EQ(phy.phyResetProblemCount, 4u);
    EXPECT_EQ(phy.supportedMinLinkRate, 8);
    EXPECT_EQ(phy.minLinkRate, 9);
    EXPECT_EQ(phy.supportedMaxLinkRate, 11);
    EXPECT_EQ(phy.maxLinkRate, 10);
    EXPECT_EQ(phy.phyChangeCount, 5);

    link_.clear();
    ZELKOR_PHY_LIST* list = nullptr;
    ASSERT_EQ(zelkor_getPhys(link_.handle(), &list), 0u);
    freeList(list);
    std::vector<WindowAccess> expected{readOf(0xC0000104), readOf(0xC0000044, 8)};
    for (uint32_t p = 0; p < 8; ++p) {
        expected.push_back(readOf(0xC0040040 + (p << 12), 52));
        expected.push_back(readOf(0xC0040154 + (p << 12)));
    }
    for (uint32_t base : {0xB0020000u, 0xB0010000u, 0xB0000000u}) {
        expected.push_back(readOf(base + 0x40, 52));
        expected.push_back(readOf(base + 0x37C));
    }
    EXPECT_THAT(link_.accesses(), ElementsAreArray(expected));
}

TEST_P(Topology, QuenzaAddressSequences) {
    ASSERT_EQ(link_.open(mixedScenario("quenza")), 0u);
    ZELKOR_PHY phy{};
    ASSERT_EQ(zelkor_getPhy(link_.handle(), 3, &phy), 0u);
    // Lane offset of phy 3: (0 * 64 + 3) << 10.
    EXPECT_THAT(link_.accesses(),
                ElementsAre(readOf(0xC380002C), readOf(0xC3800104), readOf(0xC0300040, 52), readOf(0x50008C08),
                            readOf(0xC3800044, 24), readOf(0xC0300154), readOf(0x50008C30, 16)));
    EXPECT_EQ(phy.supportedMaxLinkRate, 10);
    EXPECT_EQ(phy.supportedMinLinkRate, 9);
    EXPECT_EQ(phy.phyResetProblemCount, 4u);
    EXPECT_THAT(link_.sleeps(), IsEmpty());

    link_.clear();
    ZELKOR_PHY_LIST* list = nullptr;
    ASSERT_EQ(zelkor_getPhys(link_.handle(), &list), 0u);
    freeList(list);
    std::vector<WindowAccess> expected{readOf(0xC380002C), readOf(0xC3800104), readOf(0xC3800044, 24)};
    for (uint32_t p = 0; p < 8; ++p) {
        // Phy 7 has Skarvel on but something attached: no lane read.
        expected.push_back(readOf(0xC0000040 + (p << 20), 52));
        expected.push_back(readOf(0xC0000154 + (p << 20)));
    }
    const uint32_t info[] = {0xB0000010, 0xB0100010, 0xB0200010};
    const uint32_t block[] = {0xB0020044, 0xB0010044, 0xB0000844};
    const uint32_t zone[] = {0xB000037C, 0xB010037C, 0xB020037C};
    for (int k = 0; k < 3; ++k) {
        expected.push_back(readOf(info[k], 88));
        expected.push_back(readOf(block[k], 52));
        expected.push_back(readOf(zone[k]));
    }
    EXPECT_THAT(link_.accesses(), ElementsAreArray(expected));
}

TEST_P(Topology, PortsGroupPhysicalPhysByAttachedAddress) {
    ASSERT_EQ(link_.open(mixedScenario("ostrel")), 0u);
    ZELKOR_PORT_LIST* list = nullptr;
    ASSERT_EQ(zelkor_getPorts(link_.handle(), &list), 0u);
    const std::vector<ZELKOR_PORT> ports = portRecords(list);
    ASSERT_EQ(ports.size(), 3u);
    const uint32_t lows[] = {0x44, 0x77, 0x0400B900};
    const std::vector<uint32_t> ids[] = {{0}, {3}, {4, 5, 6, 7}};
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(ports[i].portNumber, i);
        EXPECT_EQ(ports[i].sasAddressLow, lows[i]);
        EXPECT_EQ(idsOf(ports[i]), ids[i]);
    }
    // Only the first 24 bytes of each physical block.
    for (const WindowAccess& a : link_.accesses())
        if (a.address >= 0xC0040040) {
            EXPECT_EQ(a.size, 24u);
        }
}

// A wide port of more than 48 links: the port keeps 48 ids, is handed out, and the walk stops there.
TEST_P(Topology, AFullPortEndsTheWalk) {
    std::string scenario = "device sg0 ostrel\n    phys 60\n";
    for (int p = 0; p < 52; ++p)
        scenario += "    phy " + std::to_string(p) + " attached=5000CCAB:0400B900 type=expander\n";
    ASSERT_EQ(link_.open(scenario), 0u);
    ZELKOR_PORT_LIST* list = nullptr;
    ASSERT_EQ(zelkor_getPorts(link_.handle(), &list), 0u);
    const std::vector<ZELKOR_PORT> ports = portRecords(list);
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].phyCount, 48);
    EXPECT_EQ(ports[0].phyIds[47], 47);
    EXPECT_EQ(link_.accesses().back(), readOf(0xC0040040 + (48u << 12), 24));
}

TEST_P(Topology, DevicesCarryTheirParentAndOwnPhys) {
    ASSERT_EQ(link_.open(mixedScenario("quenza")), 0u);
    ZELKOR_DEVICE_LIST* list = nullptr;
    ASSERT_EQ(zelkor_getDevices(link_.handle(), &list), 0u);
    const std::vector<ZELKOR_DEVICE> devices = deviceRecords(list);
    ASSERT_EQ(devices.size(), 3u);
    struct Want {
        uint32_t low, type;
        std::vector<uint32_t> parent, own;
        uint32_t rate;
        uint8_t sata, ssp, smpInitiator;
    };
    const Want want[] = {{0x44, 1, {0}, {0}, 9, 1, 0, 0},
                         {0x77, 1, {3}, {0}, 11, 0, 1, 0},
                         {0x0400B900, 2, {4, 5, 6, 7}, {0, 1, 2, 3}, 10, 0, 0, 1}};
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const ZELKOR_DEVICE& d = devices[i];
        EXPECT_EQ(d.sasAddressLow, want[i].low);
        EXPECT_EQ(d.deviceType, want[i].type);
        EXPECT_EQ(d.attachedDeviceType, want[i].type);
        EXPECT_EQ(idsOf(d.parentPort), want[i].parent);
        EXPECT_EQ(d.parentPort.sasAddressLow, want[i].low);
        EXPECT_EQ(idsOf(d.devicePort), want[i].own);
        EXPECT_EQ(d.devicePhyCount, want[i].own.size());
        EXPECT_EQ(d.devicePort.portNumber + d.devicePort.sasAddressLow, 0u);
        EXPECT_EQ(d.negotiatedLinkRate, want[i].rate);
        EXPECT_EQ(d.sataDevice, want[i].sata);
        EXPECT_EQ(d.sspTarget, want[i].ssp);
        EXPECT_EQ(d.smpInitiator, want[i].smpInitiator);
        EXPECT_EQ(d.parentSasAddressHigh, 0x5000CCABu);
        EXPECT_EQ(d.parentSasAddressLow, 0x0400B7F0u);
    }
    EXPECT_EQ(gBoolGetDevicesCommand, 1);
    EXPECT_EQ(link_.otherCommands(), 0u);
    for (const WindowAccess& a : link_.accesses()) {
        EXPECT_EQ(a.op, 'R');
    }
    // After the device query the lane rates are no longer read.
    link_.clear();
    ZELKOR_PHY phy{};
    ASSERT_EQ(zelkor_getPhy(link_.handle(), 3, &phy), 0u);
    EXPECT_EQ(phy.supportedMaxLinkRate, 0);
    EXPECT_EQ(phy.supportedMinLinkRate, 0);
    for (const WindowAccess& a : link_.accesses()) {
        EXPECT_NE(a.address, 0x50008C08u);
    }
}

TEST_P(Topology, NothingAttachedGives30AndNoList) {
    ASSERT_EQ(link_.open("device sg0 ostrel\n    sas-address 5000CCAB:0400B7F0\n    phys 11\n"), 0u);
    auto* ports = reinterpret_cast<ZELKOR_PORT_LIST*>(&link_);
    auto* devices = reinterpret_cast<ZELKOR_DEVICE_LIST*>(&link_);
    EXPECT_EQ(zelkor_getPorts(link_.handle(), &ports), 30u);
    EXPECT_EQ(zelkor_getDevices(link_.handle(), &devices), 30u);
    EXPECT_EQ(ports, nullptr);
    EXPECT_EQ(devices, nullptr);
}

// ---- route table and zone rows ----

const std::string kRoutes = "device sg0 ostrel\n"
                            "    sas-address 5000CCAB:0400B7F0\n"
                            "    route 0 5000C500:00000010 0x200\n"          // bit 9: phy 5
                            "    route 1 0 0xFFFFFFFFFFFFFFFF\n"             // zero address: never listed
                            "    route 2 5000C500:00000020 0x1000000\n"      // bit 24: phy 12
                            "    route 3 5000C500:00000030 0x100000000\n"    // bit 32: phy 20
                            "    route 4 5000C500:00000040 0x1000200\n"      // phys 5 and 12
                            "    zoning on\n"
                            "    zone-row 3 1 2 3 4 5 6 7 0x80000000\n"
                            "    zone-row 255 9 9 9 9 9 9 9 9\n";

TEST_P(Topology, RouteEntriesOfAPhyByItsMaskBit) {
    ASSERT_EQ(link_.open(kRoutes), 0u);
    struct Case {
        uint32_t phy;
        ZELKOR_STATUS status;
        std::vector<uint32_t> indices;
    };
    const Case cases[] = {{5, 0, {0, 4}}, {12, 0, {2, 4}}, {20, 0, {3}}, {0, 31, {}}, {52, 31, {}}, {200, 31, {}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.phy);
        link_.clear();
        ZELKOR_ROUTE_LIST* list = nullptr;
        EXPECT_EQ(zelkor_getRouteTable(link_.handle(), c.phy, &list), c.status);
        EXPECT_EQ(routeIndices(list), c.indices);
        for (const WindowAccess& a : link_.accesses())
            if (a.op == 'W') {
                EXPECT_TRUE(a.address == 0xA0000008 || a.address == 0xA000000C) << a.address;
            }
        if (c.phy >= 52) {
            EXPECT_THAT(link_.accesses(), ElementsAre(readOf(0xA000000C), readOf(0xC0000100)));
        }
    }
    link_.clear();
    ZELKOR_ROUTE_LIST* list = nullptr;
    ASSERT_EQ(zelkor_getRouteTable(link_.handle(), 20, &list), 0u);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->sasAddressLow, 0x30u);
    EXPECT_EQ(list->sasAddressHigh, 0x5000C500u);
    freeList(list);
    std::vector<WindowAccess> expected{readOf(0xA000000C), readOf(0xC0000100)};
    for (uint32_t i = 0; i < 5; ++i) {
        expected.push_back(writeOf(0xA0000008, i));
        expected.push_back(writeOf(0xA000000C, 4));
        expected.push_back(readOf(0xA0000020, 8));
        if (i != 1)
            expected.push_back(readOf(0xA0000030, 8));
    }
    EXPECT_THAT(link_.accesses(), ElementsAreArray(expected));
}

TEST_P(Topology, RouteTableRefusals) {
    struct Case {
        const char* label;
        std::string extra;
        ZELKOR_STATUS status;
        std::vector<WindowAccess> accesses;
    };
    const Case cases[] = {
        {"unavailable", "    route-table unavailable\n", 47, {readOf(0xA000000C)}},
        {"no entries", "    route-count 0\n", 31, {readOf(0xA000000C), readOf(0xC0000100)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TopologyLink link(GetParam());
        ASSERT_EQ(link.open(kRoutes + c.extra), 0u);
        auto* untouched = reinterpret_cast<ZELKOR_ROUTE_LIST*>(&link);
        ZELKOR_ROUTE_LIST* list = untouched;
        EXPECT_EQ(zelkor_getRouteTable(link.handle(), 5, &list), c.status);
        EXPECT_EQ(list, untouched);
        EXPECT_EQ(link.accesses(), c.accesses);
    }
}

TEST_P(Topology, ZoneRowsThroughTheWindow) {
    ASSERT_EQ(link_.open(kRoutes), 0u);
    struct Case {
        uint32_t group;
        uint32_t firstIndex;
        std::vector<uint32_t> row;
    };
    const Case cases[] = {{3, 0x818, {1, 2, 3, 4, 5, 6, 7, 0x80000000}}, {255, 0xFF8, {9, 9, 9, 9, 9, 9, 9, 9}},
                          {0, 0x800, {0, 0, 0, 0, 0, 0, 0, 0}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.group);
        link_.clear();
        uint32_t row[8] = {};
        ASSERT_EQ(zelkor_getZonePermissions(link_.handle(), c.group, row), 0u);
        EXPECT_EQ(std::vector<uint32_t>(row, row + 8), c.row);
        std::vector<WindowAccess> expected{readOf(0xA000008C)};
        for (uint32_t i = 0; i < 8; ++i) {
            expected.push_back(writeOf(0xA0000008, c.firstIndex + i));
            expected.push_back(writeOf(0xA000000C, 4));
            expected.push_back(readOf(0xA0000030));
        }
        EXPECT_THAT(link_.accesses(), ElementsAreArray(expected));
    }
    link_.clear();
    uint32_t row[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    EXPECT_EQ(zelkor_getZonePermissions(link_.handle(), 256, row), 29u);
    EXPECT_EQ(zelkor_getZonePermissions(link_.handle(), 3, nullptr), 5u);
    EXPECT_THAT(link_.accesses(), IsEmpty());
    EXPECT_EQ(row[0], 7u);
}

TEST_P(Topology, ZoningOffGives46AndLeavesTheRow) {
    ASSERT_EQ(link_.open("device sg0 quenza\n    sas-address 5000CCAB:0400B7F0\n    zoning off\n"), 0u);
    uint32_t row[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    EXPECT_EQ(zelkor_getZonePermissions(link_.handle(), 3, row), 46u);
    EXPECT_THAT(link_.accesses(), ElementsAre(readOf(0xA000008C)));
    EXPECT_EQ(row[7], 7u);
}

// ---- phy reset ----

TEST_P(Topology, PhyResetWritesTheFamilysRegister) {
    struct Case {
        const char* label;
        std::string scenario;
        uint32_t phy;
        ZELKOR_STATUS status;
        uint32_t reg; // 0: nothing written
    };
    const std::string head = "    sas-address 5000CCAB:0400B7F0\n";
    const Case cases[] = {
        {"Ostrel phy 3", "device sg0 ostrel\n" + head + "    phys 11\n", 3, 0, 0xC0043718},
        {"Quenza phy 5", "device sg0 quenza\n" + head + "    phys 11\n", 5, 0, 0x50018418},
        {"Dax phy 0", "device sg0 quenza\n" + head + "    product 0x238\n    phys 51\n", 0, 0, 0x50390060},
        {"stuck bit", "device sg0 ostrel\n" + head + "    phys 11\n    phy 3 reset=stuck\n", 3, 1, 0xC0043718},
        {"Ostrel virtual phy", "device sg0 ostrel\n" + head + "    phys 11\n", 8, 45, 0},
        {"Ostrel beyond the count", "device sg0 ostrel\n" + head + "    phys 11\n", 4096, 45, 0},
        {"Quenza 0x23D phy 24", "device sg0 quenza\n" + head + "    product 0x23D\n", 24, 45, 0},
        {"Dax phy without lanes", "device sg0 quenza\n" + head + "    product 0x238\n    phys 60\n", 50, 45, 0},
        {"no physical phys", "device sg0 ostrel\n" + head + "    phys 2\n", 0, 45, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TopologyLink link(GetParam());
        ASSERT_EQ(link.open(c.scenario), 0u);
        EXPECT_EQ(zelkor_resetPhy(link.handle(), c.phy), c.status);
        std::vector<WindowAccess> writes;
        for (const WindowAccess& a : link.accesses())
            if (a.op == 'W')
                writes.push_back(a);
        if (c.reg == 0) {
            EXPECT_THAT(writes, IsEmpty());
            EXPECT_THAT(link.phyResets(), IsEmpty());
            continue;
        }
        EXPECT_THAT(writes, ElementsAre(writeOf(c.reg, 2)));
        EXPECT_EQ(link.accesses().back(), readOf(c.reg));
        EXPECT_EQ(link.phyResets(), (std::map<uint32_t, uint32_t>{{c.phy, 1}}));
    }
}

// ---- Quenza phy counts and lanes ----

TEST_P(Topology, QuenzaDeviceIdFixesThePhyCount) {
    struct Case {
        uint32_t product;
        size_t phys;
    };
    for (const Case& c : {Case{0x23D, 27}, Case{0x23C, 31}, Case{0x230, 40}}) {
        SCOPED_TRACE(c.product);
        TopologyLink link(GetParam());
        ASSERT_EQ(link.open("device sg0 quenza\n    sas-address 5000CCAB:0400B7F0\n    product " +
                            std::to_string(c.product) + "\n    phys 40\n"),
                  0u);
        ZELKOR_PHY_LIST* list = nullptr;
        ASSERT_EQ(zelkor_getPhys(link.handle(), &list), 0u);
        const auto phys = phyRecords(list);
        EXPECT_EQ(phys.size(), c.phys);
        const bool countRead = c.phys == 40;
        bool read = false;
        for (const WindowAccess& a : link.accesses())
            read = read || a.address == 0xC3800104;
        EXPECT_EQ(read, countRead);
    }
}

TEST_P(Topology, QuenzaLaneRatesGiveTheSupportedRange) {
    struct Case {
        const char* laneRates;
        uint8_t max, min;
    };
    for (const Case& c : {Case{"0x3C", 10, 9}, Case{"0", 11, 9}, Case{"0x03", 11, 11}, Case{"0x30", 9, 9}}) {
        SCOPED_TRACE(c.laneRates);
        gBoolGetDevicesCommand = 0;
        TopologyLink link(GetParam());
        ASSERT_EQ(link.open(std::string("device sg0 quenza\n    phys 11\n    phy 2 lane-rates=") + c.laneRates +
                            "\n"),
                  0u);
        ZELKOR_PHY phy{};
        ASSERT_EQ(zelkor_getPhy(link.handle(), 2, &phy), 0u);
        EXPECT_EQ(phy.supportedMaxLinkRate, c.max);
        EXPECT_EQ(phy.supportedMinLinkRate, c.min);
    }
}

// A Dax handle opened after a plain Quenza one leaves the first one's lane registers where they are.
TEST(TopologyHandles, OneHandlesVariantDoesNotMoveAnothersLanes) {
    TopologyLink plain(Transport::Tcp);
    TopologyLink dax(Transport::Tcp);
    ASSERT_EQ(plain.open("device sg0 quenza\n    phys 11\n"), 0u);
    ASSERT_EQ(dax.open("device sg0 quenza\n    product 0x238\n    phys 51\n"), 0u);
    EXPECT_EQ(zelkor_resetPhy(plain.handle(), 5), 0u);
    EXPECT_EQ(plain.phyResets(), (std::map<uint32_t, uint32_t>{{5, 1}}));
    EXPECT_EQ(zelkor_resetPhy(dax.handle(), 0), 0u);
    EXPECT_EQ(dax.phyResets(), (std::map<uint32_t, uint32_t>{{0, 1}}));
    EXPECT_EQ(zelkor_resetPhy(plain.handle(), 0), 0u);
    EXPECT_EQ(plain.phyResets(), (std::map<uint32_t, uint32_t>{{0, 1}, {5, 1}}));
}

TEST_P(Topology, GetPhyOfTheCountGives45AndLeavesTheRecord) {
    ASSERT_EQ(link_.open(mixedScenario("ostrel")), 0u);
    ZELKOR_PHY phy;
    std::memset(&phy, 0xAB, sizeof phy);
    const ZELKOR_PHY before = phy;
    EXPECT_EQ(zelkor_getPhy(link_.handle(), 11, &phy), 45u);
    EXPECT_EQ(std::memcmp(&phy, &before, sizeof phy), 0);
    EXPECT_THAT(link_.accesses(), ElementsAre(readOf(0xC0000104)));
}

TEST_P(Topology, OstrelVirtualPhysAndEnableBits) {
    struct Case {
        uint32_t phys;
        uint32_t off; // the phy switched off
        std::vector<uint32_t> virtualBlocks;
    };
    const Case cases[] = {{39, 37, {0xB0020040, 0xB0010040, 0xB0000040}},
                          {39, 33, {0xB0020040, 0xB0010040, 0xB0000040}},
                          {27, 25, {0xB0020040, 0xB0010040, 0xB0000040}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.phys) + " off " + std::to_string(c.off));
        TopologyLink link(GetParam());
        ASSERT_EQ(link.open("device sg0 ostrel\n    phys " + std::to_string(c.phys) + "\n    phy " +
                            std::to_string(c.off) + " enabled=off\n"),
                  0u);
        ZELKOR_PHY_LIST* list = nullptr;
        ASSERT_EQ(zelkor_getPhys(link.handle(), &list), 0u);
        const auto phys = phyRecords(list);
        ASSERT_EQ(phys.size(), c.phys);
        for (uint32_t p = 0; p < c.phys; ++p) {
            EXPECT_EQ(phys[p].enabled, p == c.off ? 0 : 1) << p;
        }
        std::vector<uint32_t> blocks;
        for (const WindowAccess& a : link.accesses())
            if (a.size == 52 && a.address >= 0xB0000000 && a.address < 0xC0000000)
                blocks.push_back(a.address);
        EXPECT_EQ(blocks, c.virtualBlocks);
        EXPECT_EQ(phys[c.phys - 3].virtualPhy, 1);
    }
}

// ---- failures ----

class TopologyFailures : public testing::Test {
  protected:
    void SetUp() override { gBoolGetDevicesCommand = 0; }
    // The in-band status of a failed read of that address, as the interface reports it.
    static ZELKOR_STATUS interfaceStatus(ZELKOR_INSTANCE* handle, uint32_t address) {
        ZELKOR_REGION window{ZELKOR_REGION_MEMORY, 0xC0, 0, 0, 0, 0, 0, 0};
        uint8_t bytes[4];
        return zelkor_uploadRegion(handle, &window, address, 4, nullptr, bytes);
    }
};

TEST_F(TopologyFailures, AFailedReadAtEachStepOfThePhyList) {
    struct Case {
        const char* label;
        const char* fault;
        bool interface; // the interface's status, else 1
        size_t nodes;   // nodes handed out before the failure
    };
    const Case cases[] = {
        {"count", "0xC0000104", true, 0},
        {"mask", "0xC0000044", true, 0},
        {"block of phy 3", "0xC0043040", false, 3},
        {"zone of phy 3", "0xC0043154", true, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TopologyLink link(Transport::InBand);
        ASSERT_EQ(link.open(mixedScenario("ostrel", std::string("    fault read-buffer:0xC0:") + c.fault +
                                                        " illegal-request count=always\n")),
                  0u);
        ZELKOR_PHY_LIST* list = nullptr;
        const ZELKOR_STATUS status = zelkor_getPhys(link.handle(), &list);
        EXPECT_EQ(phyRecords(list).size(), c.nodes);
        const ZELKOR_STATUS wanted =
            c.interface ? interfaceStatus(link.handle(), static_cast<uint32_t>(std::stoul(c.fault, nullptr, 16)))
                        : 1u;
        EXPECT_NE(wanted, 0u);
        EXPECT_EQ(status, wanted);
    }
}

TEST_F(TopologyFailures, SinglePhyReads) {
    struct Case {
        const char* family;
        const char* fault;
        ZELKOR_STATUS status; // 0xFFFF: the interface's status
        bool copied;          // the record reached *out
        uint8_t enabled;
        uint32_t phy = 3;
    };
    const Case cases[] = {
        {"ostrel", "0xC0043730", 1, true, 1},          // counters
        {"ostrel", "0xC0000044", 0xFFFF, false, 0},    // mask
        {"quenza", "0xC3800044", 0, true, 0},          // mask: every bit clear, the read goes on
        {"quenza", "0x50008C08", 0xFFFF, false, 0},    // lane status
        {"quenza", "0xB0000010", 0xFFFF, false, 0, 8}, // information block of the first virtual phy
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.family) + " " + c.fault);
        TopologyLink link(Transport::InBand);
        ASSERT_EQ(link.open(mixedScenario(c.family, std::string("    fault read-buffer:0xC0:") + c.fault +
                                                        " illegal-request count=always\n")),
                  0u);
        ZELKOR_PHY phy;
        std::memset(&phy, 0xAB, sizeof phy);
        const ZELKOR_STATUS status = zelkor_getPhy(link.handle(), c.phy, &phy);
        const ZELKOR_STATUS wanted =
            c.status == 0xFFFF
                ? interfaceStatus(link.handle(), static_cast<uint32_t>(std::stoul(c.fault, nullptr, 16)))
                : c.status;
        EXPECT_EQ(status, wanted);
        EXPECT_EQ(phy.phyId == 3, c.copied);
        if (c.copied) {
            EXPECT_EQ(phy.attachedDeviceType, 1u);
            EXPECT_EQ(phy.enabled, c.enabled);
            if (status != 0) {
                EXPECT_EQ(phy.invalidDwordCount, 0u);
            }
        }
    }
}

TEST_F(TopologyFailures, PortAndDeviceReads) {
    struct Case {
        const char* label;
        std::string fault;
        bool devices;
        ZELKOR_STATUS status; // 0xFFFF: the interface's status
        size_t handedOut;
    };
    const Case cases[] = {
        {"port block", "read-buffer:0xC0:0xC0044040", false, 0xFFFF, 0},
        {"device block", "read-buffer:0xC0:0xC0044040", true, 0xFFFF, 0},
        // getDevices' own 8-byte read passes, the phy query's read of the same block fails.
        {"device phy query", "read-buffer:0xC0:0xC0043040 illegal-request skip=1", true, 1, 0},
        {"attached phy of phy 5", "read-buffer:0xC0:0xC0045058", true, 0xFFFF, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TopologyLink link(Transport::InBand);
        const std::string fault = c.fault.find(' ') == std::string::npos ? c.fault + " illegal-request count=always"
                                                                          : c.fault + " count=always";
        ASSERT_EQ(link.open(mixedScenario("ostrel", "    fault " + fault + "\n")), 0u);
        ZELKOR_STATUS status = 0;
        size_t count = 0;
        if (c.devices) {
            ZELKOR_DEVICE_LIST* list = nullptr;
            status = zelkor_getDevices(link.handle(), &list);
            const auto devices = deviceRecords(list);
            count = devices.size();
            if (count == 3) { // one link of the wide port lost its attached phy
                EXPECT_EQ(idsOf(devices[2].devicePort), (std::vector<uint32_t>{0, 2, 3}));
            }
        } else {
            ZELKOR_PORT_LIST* list = nullptr;
            status = zelkor_getPorts(link.handle(), &list);
            count = portRecords(list).size();
        }
        const std::string address = c.fault.substr(c.fault.rfind(':') + 1, 10);
        const ZELKOR_STATUS wanted =
            c.status == 0xFFFF ? interfaceStatus(link.handle(), static_cast<uint32_t>(std::stoul(address, nullptr, 16)))
                               : c.status;
        EXPECT_NE(wanted, 0u);
        EXPECT_EQ(status, wanted);
        EXPECT_EQ(count, c.handedOut);
    }
}

TEST_F(TopologyFailures, RouteWalkStopsAtAFailedEntryAndKeepsWhatItFound) {
    TopologyLink link(Transport::InBand);
    ASSERT_EQ(link.open(kRoutes + "    fault read-buffer:0xC0:0xA0000020 illegal-request skip=2\n"), 0u);
    ZELKOR_ROUTE_LIST* list = nullptr;
    const ZELKOR_STATUS status = zelkor_getRouteTable(link.handle(), 5, &list);
    EXPECT_NE(status, 0u);
    EXPECT_NE(status, 31u);
    EXPECT_EQ(routeIndices(list), (std::vector<uint32_t>{0}));
    // Nothing after the failed read of entry 2.
    EXPECT_EQ(link.accesses().back(), readOf(0xA0000020, 8));
}

// ---- handles and families without the operations ----

TEST(TopologyHandles, OfflineNullAndUnlistedHandles) {
    for (uint32_t code : {ZELKOR_INTERFACE_OFFLINE_OSTREL, ZELKOR_INTERFACE_OFFLINE_QUENZA}) {
        SCOPED_TRACE(code);
        ZELKOR_INSTANCE* handle = nullptr;
        ZELKOR_EXPANDER_LIST* expanders = nullptr;
        ASSERT_EQ(zelkor_open(code, 0, &handle, nullptr, &expanders), 0u);
        ZELKOR_PHY_LIST* phys = nullptr;
        ZELKOR_PHY phy{};
        ZELKOR_PORT_LIST* ports = nullptr;
        ZELKOR_DEVICE_LIST* devices = nullptr;
        ZELKOR_ROUTE_LIST* routes = nullptr;
        uint32_t row[8];
        EXPECT_EQ(zelkor_getPhys(handle, &phys), 17u);
        EXPECT_EQ(zelkor_getPhy(handle, 0, &phy), 17u);
        EXPECT_EQ(zelkor_getPorts(handle, &ports), 17u);
        EXPECT_EQ(zelkor_getDevices(handle, &devices), 17u);
        EXPECT_EQ(zelkor_getRouteTable(handle, 0, &routes), 17u);
        EXPECT_EQ(zelkor_getZonePermissions(handle, 0, row), 17u);
        EXPECT_EQ(zelkor_resetPhy(handle, 0), 17u);
        EXPECT_EQ(zelkor_close(handle), 0u);
        // A closed handle is no longer listed.
        EXPECT_EQ(zelkor_getPhys(handle, &phys), 4u);
        EXPECT_EQ(zelkor_resetPhy(handle, 0), 4u);
        // The offline record is the caller's, also after the close.
        ASSERT_NE(expanders, nullptr);
        std::free(expanders);
    }
    ZELKOR_PHY_LIST* phys = nullptr;
    EXPECT_EQ(zelkor_getPhys(nullptr, &phys), 4u);
    EXPECT_EQ(zelkor_resetPhy(nullptr, 0), 4u);
}

// ---- a hostile expander ----

TEST_P(Topology, HostileCountsAndWordsGiveDefinedAnswers) {
    struct Case {
        const char* label;
        std::string scenario;
        size_t phys;
        ZELKOR_STATUS ports;
    };
    std::string allOnes;
    for (int k = 0; k < 13; ++k)
        allOnes += " 0xFFFFFFFF";
    const Case cases[] = {
        {"no phys", "device sg0 ostrel\n    phys 0\n", 0, 30},
        {"one phy", "device sg0 ostrel\n    phys 1\n", 1, 30},
        {"two phys", "device sg0 quenza\n    phys 2\n", 2, 30},
        {"three phys", "device sg0 ostrel\n    phys 3\n", 3, 30},
        {"255 phys", "device sg0 ostrel\n    phys 255\n", 255, 30},
        // Phy 56's block lies on the count and mask registers, whose bits read as an attached device.
        {"Dax with 60 phys", "device sg0 quenza\n    product 0x238\n    phys 60\n    phy 50 skarvel=on\n", 60, 0},
        {"all ones", "device sg0 quenza\n    phys 11\n    phy-raw 2" + allOnes + "\n    phy-raw 9" + allOnes + "\n",
         11, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TopologyLink link(GetParam());
        ASSERT_EQ(link.open(c.scenario), 0u);
        ZELKOR_PHY_LIST* list = nullptr;
        ASSERT_EQ(zelkor_getPhys(link.handle(), &list), 0u);
        const auto phys = phyRecords(list);
        ASSERT_EQ(phys.size(), c.phys);
        for (const ZELKOR_PHY& p : phys) {
            EXPECT_LE(p.enabled, 1);
            EXPECT_LE(p.attachedDeviceType, 7u);
            EXPECT_LE(p.skarvelEnabled, 1);
        }
        ZELKOR_PORT_LIST* ports = nullptr;
        EXPECT_EQ(zelkor_getPorts(link.handle(), &ports), c.ports);
        freeList(ports);
        ZELKOR_DEVICE_LIST* devices = nullptr;
        const ZELKOR_STATUS deviceStatus = zelkor_getDevices(link.handle(), &devices);
        freeList(devices);
        EXPECT_EQ(deviceStatus == 30, c.ports == 30);
        if (c.phys > 0) {
            ZELKOR_PHY one{};
            EXPECT_EQ(zelkor_getPhy(link.handle(), static_cast<uint32_t>(c.phys - 1), &one), 0u);
        }
        ZELKOR_ROUTE_LIST* routes = nullptr;
        EXPECT_EQ(zelkor_getRouteTable(link.handle(), 60, &routes), 31u);
        EXPECT_EQ(routes, nullptr);
    }
}


// ---- the public peer: smp_discover on the simulator's SMP node ----

namespace peer {

std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    pclose(pipe);
    return output;
}

// smp_discover's attribute=value lines.
std::map<std::string, unsigned long long> attributes(const std::string& text) {
    std::map<std::string, unsigned long long> values;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const size_t first = line.find_first_not_of(' ');
        const size_t equals = line.find('=');
        if (first == std::string::npos || equals == std::string::npos)
            continue;
        values[line.substr(first, equals - first)] = std::stoull(line.substr(equals + 1), nullptr, 0);
    }
    return values;
}

} // namespace peer

class SmpPeer : public testing::TestWithParam<const char*> {};

INSTANTIATE_TEST_SUITE_P(Families, SmpPeer, testing::Values("ostrel", "quenza"));

// Every phy, field by field: the product's record decodes the register block of what smp_discover decodes from
// the DISCOVER response the block mirrors.
TEST_P(SmpPeer, DiscoverDecodesWhatThePhyRecordsSay) {
    const std::string scenario =
        std::string("device sg0 ") + GetParam() +
        "\n"
        "    sas-address 5000CCAB:0400B7F0\n"
        "    phys 11\n"
        "    phy 0 attached=5000C500:00000044 type=end targets=sata,stp,selector rate=9 rates=9,8,10,11\n"
        "    phy 1 attached=5000C500:00000055 type=end initiators=smp,stp,ssp targets=smp rate=8 changes=200\n"
        "    phy 2 attached=5000CCAB:0400B900 type=fanout attached-phy=17 targets=smp routing=subtractive "
        "timeout=9\n"
        "    phy 3 attached=5000CCAB:0400B901 type=expander attached-phy=255 targets=smp,ssp routing=table "
        "rate=11 rates=11,10,9,8\n"
        "    phy 4 enabled=off rate=1\n"
        "    phy 6 id=42 sas=5000CCAB:0400BFFF\n"
        "    phy 8 attached=5000CCAB:0400B7FE type=end targets=ssp rate=10\n";
    char name[] = "/tmp/zelkor-smp-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, scenario.data(), scenario.size()), static_cast<ssize_t>(scenario.size()));
    ::close(fd);

    TopologyLink link(Transport::InBand);
    ASSERT_EQ(link.open(scenario), 0u);
    ZELKOR_PHY_LIST* list = nullptr;
    ASSERT_EQ(zelkor_getPhys(link.handle(), &list), 0u);
    const std::vector<ZELKOR_PHY> phys = phyRecords(list);
    ASSERT_EQ(phys.size(), 11u);
    for (uint32_t p = 0; p < phys.size(); ++p) {
        SCOPED_TRACE("phy " + std::to_string(p));
        const std::string output = peer::run(std::string(ZSIM_WITH_ENCLOSURE) + " " + name +
                                             " -- smp_discover --list --phy=" + std::to_string(p) +
                                             " /dev/bsg/expander-0:0 2>&1");
        auto a = peer::attributes(output);
        ASSERT_TRUE(a.count("phy_id")) << output;
        const ZELKOR_PHY& r = phys[p];
        EXPECT_EQ(a["phy_id"], r.phyId);
        EXPECT_EQ(a["sas_addr"], (uint64_t{r.sasAddressHigh} << 32) | r.sasAddressLow);
        EXPECT_EQ(a["att_sas_addr"], (uint64_t{r.attachedSasAddressHigh} << 32) | r.attachedSasAddressLow);
        EXPECT_EQ(a["att_dev_type"], r.attachedDeviceType);
        EXPECT_EQ(a["att_phy_id"], r.attachedPhyId);
        EXPECT_EQ(a["att_smp_init"], r.attachedSmpInitiator);
        EXPECT_EQ(a["att_stp_init"], r.attachedStpInitiator);
        EXPECT_EQ(a["att_ssp_init"], r.attachedSspInitiator);
        EXPECT_EQ(a["att_sata_dev"], r.attachedSataDevice);
        EXPECT_EQ(a["att_smp_targ"], r.attachedSmpTarget);
        EXPECT_EQ(a["att_stp_targ"], r.attachedStpTarget);
        EXPECT_EQ(a["att_ssp_targ"], r.attachedSspTarget);
        // The chip keeps the selector in another bit of the word than the response: the meaning agrees.
        EXPECT_EQ(a["att_sata_ps"], r.attachedSataPortSelector);
        EXPECT_EQ(a["neg_log_lrate"], r.negotiatedLinkRate);
        EXPECT_EQ(a["pr_min_p_lrate"], r.supportedMinLinkRate);
        EXPECT_EQ(a["hw_min_p_lrate"], r.minLinkRate);
        EXPECT_EQ(a["pr_max_p_lrate"], r.supportedMaxLinkRate);
        EXPECT_EQ(a["hw_max_p_lrate"], r.maxLinkRate);
        EXPECT_EQ(a["phy_cc"], r.phyChangeCount);
        EXPECT_EQ(a["virt_phy"], r.virtualPhy);
        EXPECT_EQ(a["pp_timeout"], r.partialPathwayTimeout);
        EXPECT_EQ(a["routing_attr"], r.routingAttribute);
    }
    std::remove(name);
}

} // namespace
