// The front end's topology commands over the library's queries, down to the simulated expander in-band:
// the rows the commands print for each family, and the lists they keep for cleanQuillet.
#include "frontend/brannic.h"
#include "frontend/topology.h"
#include "tests/hal/topologyLink.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testing::HasSubstr;

std::string scenario(const char* family) {
    return std::string("device sg0 ") + family +
           "\n"
           "    sas-address 5000CCAB:0400B7F0\n"
           "    phys 11\n"
           "    phy 0 attached=5000C500:00000044 type=end targets=sata,stp,selector rate=9\n"
           "    phy 1 enabled=off rate=1\n"
           "    phy 3 attached=5000C500:00000077 type=end initiators=ssp targets=ssp rate=11 zone=9\n"
           "    phy 4 attached=5000CCAB:0400B900 type=expander attached-phy=0 initiators=smp targets=smp zone=2 "
           "routing=table\n"
           "    phy 5 attached=5000CCAB:0400B900 type=expander attached-phy=1 initiators=smp targets=smp zone=2 "
           "routing=table\n"
           "    phy 6 attached=5000CCAB:0400B900 type=expander attached-phy=2 initiators=smp targets=smp zone=2 "
           "routing=table\n"
           "    phy 7 attached=5000CCAB:0400B900 type=expander attached-phy=3 initiators=smp targets=smp zone=2 "
           "routing=table skarvel=on\n"
           "    phy 8 attached=5000CCAB:0400B7FE type=end targets=ssp rate=10 zone=1\n"
           "    route 0 5000C500:00000010 0x200\n"
           "    route 1 5000C500:00000020 0x800\n";
}

template <typename F> std::pair<uint32_t, std::string> shown(F&& f) {
    testing::internal::CaptureStdout();
    const uint32_t status = f();
    return {status, testing::internal::GetCapturedStdout()};
}

class TopologyDisplay : public testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        gInstance = MORV_INSTANCE{};
        ASSERT_EQ(link_.open(scenario(GetParam())), 0u);
        gInstance.handle = link_.handle();
    }
    void TearDown() override {
        cleanQuillet();
        EXPECT_EQ(gInstance.phyList, nullptr);
        EXPECT_EQ(gInstance.portList, nullptr);
        EXPECT_EQ(gInstance.deviceList, nullptr);
        EXPECT_EQ(gInstance.routeList, nullptr);
        gInstance = MORV_INSTANCE{};
    }
    bool quenza() const { return std::string(GetParam()) == "quenza"; }
    TopologyLink link_{Transport::InBand};
};

INSTANTIATE_TEST_SUITE_P(Families, TopologyDisplay, testing::Values("ostrel", "quenza"));

TEST_P(TopologyDisplay, PhyTableRows) {
    const auto [status, out] = shown([] { return showPhys(libraryTopology(), nullptr); });
    EXPECT_EQ(status, 0u);
    EXPECT_NE(gInstance.phyList, nullptr);
    EXPECT_THAT(out, HasSubstr("5000CCAB:0400B7F0 00  D   3.0   UZ  Y   N   5000C500:00000044  00  End      "
                               "----1-11\n"));
    EXPECT_THAT(out, HasSubstr("5000CCAB:0400B7F0 03  D   12.0 009  Y   N   5000C500:00000077  00  End      "
                               "--1--1--\n"));
    EXPECT_THAT(out, HasSubstr(std::string("5000CCAB:0400B7F0 07  T   6.0  002  Y   ") + (quenza() ? "Y" : "N") +
                               "   5000CCAB:0400B900  03  Expander 1--1----\n"));
    EXPECT_THAT(out, HasSubstr("5000CCAB:0400B7F0 08* D   6.0  001  Y   N   5000CCAB:0400B7FE  00  End      "
                               "-----1--\n"));
    EXPECT_THAT(out, HasSubstr("5000CCAB:0400B7F0 01  D    -    UZ  N   N"));
}

TEST_P(TopologyDisplay, SinglePhyReport) {
    const auto [status, out] = shown([] { return showPhys(libraryTopology(), "3"); });
    EXPECT_EQ(status, 0u);
    EXPECT_THAT(out, HasSubstr("        Attached SAS Address: 5000c50000000077\n"));
    EXPECT_THAT(out, HasSubstr("              SAS Zone Group: 009\n"));
    EXPECT_THAT(out, HasSubstr("Attached Device Capabilities: SSP Initiator\n"));
}

TEST_P(TopologyDisplay, PortsAndAttachedDevices) {
    auto [status, out] = shown([] { return showPorts(libraryTopology(), nullptr); });
    EXPECT_EQ(status, 0u);
    EXPECT_NE(gInstance.portList, nullptr);
    EXPECT_THAT(out, HasSubstr(" 02            04                   5000CCAB:0400B900             04-05-06-07\n"));
    EXPECT_THAT(out, HasSubstr(" 00            01                   5000C500:00000044             00         \n"));
    std::tie(status, out) = shown([] { return showAttached(libraryTopology()); });
    EXPECT_EQ(status, 0u);
    EXPECT_NE(gInstance.deviceList, nullptr);
    EXPECT_THAT(out, HasSubstr("Expander     5000CCAB:0400B900     00-01-02-03  5000CCAB:0400B7F0  04-05-06-07\n"));
    EXPECT_THAT(out, HasSubstr("End          5000C500:00000077     00           5000CCAB:0400B7F0  03         \n"));
}

TEST_P(TopologyDisplay, RouteTablesOfTablePhys) {
    const auto [status, out] = shown([] { return showRouteTables(libraryTopology(), "5"); });
    EXPECT_EQ(status, 0u);
    EXPECT_THAT(out, HasSubstr("Route Table for Phy 5:\n\n(5000C500:00000010)\n"));
    EXPECT_NE(gInstance.routeList, nullptr);
}

// An expander laid out for the commands' edge cases: a direct phy, a table phy no route entry names, a virtual
// phy among the low ones, a phy with error counters, a phy whose reset sticks, nine links of one port, zoning
// on with a permission row for group 5.
std::string edgeScenario(const std::string& family, const std::string& extra = "") {
    std::string s = "device sg0 " + family +
                    "\n"
                    "    sas-address 5000CCAB:0400B7F0\n"
                    "    zoning on\n"
                    "    zone-row 5 0x3 0x20 0 0 0 0 0 0\n"
                    "    phy 0 attached=5000C500:00000044 type=end rate=9\n"
                    "    phy 1 attached=5000CCAB:0400B900 type=expander routing=table\n"
                    "    phy 2 virtual=on\n"
                    "    phy 3 attached=5000C500:00000077 type=end counters=11,22,33,44\n"
                    "    phy 4 attached=5000CCAB:0400B900 type=expander routing=table\n"
                    "    phy 5 reset=stuck\n"
                    "    route 0 5000C500:00000010 0x100\n";
    for (int p = 10; p <= 18; ++p)
        s += "    phy " + std::to_string(p) + " attached=5000CCAB:0400BA00 type=expander\n";
    if (family == "quenza")
        s += "    phy 49 virtual=off\n";
    return s + extra;
}

class TopologyEdges : public testing::TestWithParam<const char*> {
  protected:
    void TearDown() override {
        cleanQuillet();
        gInstance = MORV_INSTANCE{};
    }
    void open(const std::string& extra = "") {
        gInstance = MORV_INSTANCE{};
        ASSERT_EQ(link_.open(edgeScenario(GetParam(), extra)), 0u);
        gInstance.handle = link_.handle();
    }
    bool quenza() const { return std::string(GetParam()) == "quenza"; }
    // Phys of the family's default count: 39 Ostrel, 51 Quenza.
    uint32_t physOfFamily() const { return quenza() ? 51 : 39; }
    TopologyLink link_{Transport::InBand};
};

INSTANTIATE_TEST_SUITE_P(Families, TopologyEdges, testing::Values("ostrel", "quenza"));

size_t occurrences(const std::string& text, const std::string& piece) {
    size_t n = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++n;
    return n;
}

TEST_P(TopologyEdges, SinglePhyReportCarriesTheErrorCounters) {
    open();
    const auto [status, out] = shown([] { return getPhy("3"); });
    EXPECT_EQ(status, 0u);
    EXPECT_THAT(out, HasSubstr("              Phy Identifier: 03\n"));
    EXPECT_THAT(out, HasSubstr("\n------------- Error Statistics ----------------\n"
                               "                Invalid Dword Count: 11\n"
                               "      Running Disparity Error Count: 22\n"
                               "Loss of Dword Synchronization Count: 33\n"
                               "            Phy Reset Problem Count: 44\n"));
}

TEST_P(TopologyEdges, AFailingPhyQueryIsShownOnceAndReturned) {
    open();
    const auto [status, out] = shown([] { return getPhy("60"); });
    EXPECT_NE(status, 0u);
    EXPECT_EQ(occurrences(out, "Invalid Phy ID."), 1u) << out;
    EXPECT_THAT(out, testing::Not(HasSubstr("Phy Information")));
}

TEST_P(TopologyEdges, VirtualPhyRowAndANinePhyPortOnThreeLines) {
    open();
    auto [status, out] = shown([] { return getPhy(nullptr); });
    EXPECT_EQ(status, 0u);
    EXPECT_THAT(out, HasSubstr("5000CCAB:0400B7F0 02* D"));
    std::tie(status, out) = shown([] { return getPort(nullptr); });
    EXPECT_EQ(status, 0u);
    EXPECT_THAT(out, HasSubstr("            09                   5000CCAB:0400BA00             10-11-12-13\n" +
                               std::string(66, ' ') + "14-15-16-17\n" + std::string(66, ' ') + "18\n"));
}

TEST_P(TopologyEdges, RouteWalkGoesOnPastPhysWithoutTableRouting) {
    open();
    const auto [status, out] = shown([] { return getRouteTable(nullptr); });
    EXPECT_EQ(status, 0u);
    EXPECT_THAT(out, HasSubstr("Route Table for Phy 0:\n\nRouting Attribute of the Phy is Not Table."));
    EXPECT_THAT(out, HasSubstr("Route Table for Phy 1:\n\nRouting not configured ."));
    EXPECT_THAT(out, HasSubstr("Route Table for Phy 4:\n\n(5000C500:00000010)\n"));
    // The walk reaches the last phy.
    EXPECT_THAT(out, HasSubstr("Route Table for Phy " + std::to_string(physOfFamily() - 1) + ":\n"));
    EXPECT_EQ(occurrences(out, "(5000C500:00000010)"), 1u);
}

TEST_P(TopologyEdges, RouteTableOffEndsTheWalk) {
    open("    route-table unavailable\n");
    const auto [status, out] = shown([] { return getRouteTable(nullptr); });
    EXPECT_EQ(status, 47u);
    EXPECT_THAT(out, HasSubstr("Route Table for Phy 0:\n\nRouting Attribute of the Phy is Not Table."));
    EXPECT_EQ(occurrences(out, "Route Table Not Enabled on Expander."), 1u);
    EXPECT_THAT(out, testing::Not(HasSubstr("Route Table for Phy 1:")));
    EXPECT_THAT(out, testing::Not(HasSubstr("Route Table for Phy 4:")));
}

TEST_P(TopologyEdges, OnePhyOfTheRouteWalk) {
    open();
    auto [status, out] = shown([] { return getRouteTable("0"); });
    EXPECT_EQ(status, 48u);
    EXPECT_THAT(out, testing::Not(HasSubstr("Route Table for Phy")));
    std::tie(status, out) = shown([] { return getRouteTable("1"); });
    EXPECT_EQ(status, 31u);
    std::tie(status, out) = shown([] { return getRouteTable("4"); });
    EXPECT_EQ(status, 0u);
    EXPECT_THAT(out, HasSubstr("Route Table for Phy 4:\n\n(5000C500:00000010)\n"));
}

TEST_P(TopologyEdges, ZonePermissionsOfOneGroup) {
    open();
    const auto [status, out] = shown([] { return getZonePermissions("5"); });
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(out, "\nZone Group [5] Permissions:\nZone Group 0\nZone Group 1\nZone Group 37\n");
}

struct RefusedWord {
    uint32_t (*command)(const char*);
    const char* word;
    const char* text;
};

TEST_P(TopologyEdges, WordsThatAreNoIdAreRefusedWithoutACommand) {
    open();
    const RefusedWord cases[] = {
        {getZonePermissions, "256", "Invalid Zone Group\n"},
        {getZonePermissions, "abc", "Invalid Zone Group\n"},
        {getZonePermissions, "5x", "Invalid Zone Group\n"},
        {getZonePermissions, "", "Invalid Zone Group\n"},
        {getPhy, "abc", "Invalid Phy ID.\n"},
        {getPhy, "4294967296", "Invalid Phy ID.\n"},
        {getPort, "x1", "Invalid Port ID\n"},
        {getRouteTable, "-1", "Invalid Phy ID.\n"},
        {getZoneGroup, "3 ", "Invalid Phy ID.\n"},
        {resetPhy, "abc", "Invalid Phy ID.\n"},
        {resetPhy, "48", "Invalid Phy ID.\n"},
    };
    for (const RefusedWord& c : cases) {
        SCOPED_TRACE(std::string("word '") + c.word + "'");
        link_.clear();
        const auto [status, out] = shown([&c] { return c.command(c.word); });
        EXPECT_EQ(status, 1u);
        EXPECT_EQ(out, c.text);
        EXPECT_TRUE(link_.accesses().empty());
        EXPECT_EQ(link_.otherCommands(), 0u);
    }
}

TEST_P(TopologyEdges, ResetOfAllPhysSkipsVirtualAndHighPhysAndFailsWithOneStuckReset) {
    open();
    const auto [status, out] = shown([] { return resetPhy("511"); });
    EXPECT_EQ(status, 1u);
    EXPECT_THAT(out, HasSubstr("Unable to Reset Phy [5]\n"));
    // The phys after the failing one are still reset.
    EXPECT_THAT(out, HasSubstr("Phy [6] reset successful.\n"));
    const std::map<uint32_t, uint32_t> resets = link_.phyResets();
    const uint32_t last = quenza() ? 47 : 35; // the last physical phy below 48
    for (uint32_t p : {0u, 1u, 3u, 4u, 6u, last}) {
        SCOPED_TRACE(p);
        EXPECT_EQ(resets.count(p) ? resets.at(p) : 0u, 1u);
    }
    for (const auto& [phy, count] : resets) {
        EXPECT_NE(phy, 2u) << "virtual phy reset";
        EXPECT_LE(phy, last) << "phy " << phy << " reset " << count << " times";
    }
}

TEST_P(TopologyEdges, ResetOfOnePhy) {
    open();
    auto [status, out] = shown([] { return resetPhy("3"); });
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(out, "Phy [3] reset successful.\n");
    EXPECT_EQ(link_.phyResets(), (std::map<uint32_t, uint32_t>{{3, 1}}));
    std::tie(status, out) = shown([] { return resetPhy("5"); });
    EXPECT_EQ(status, 1u);
    EXPECT_THAT(out, HasSubstr("Unable to Reset Phy [5]\n"));
}

} // namespace
