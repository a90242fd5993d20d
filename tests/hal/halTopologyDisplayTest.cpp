// The front end's topology commands over the library's queries, down to the simulated expander in-band:
// the rows the commands print for each family, and the lists they keep for cleanQuillet.
#include "frontend/brannic.h"
#include "frontend/topology.h"
#include "tests/hal/topologyLink.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

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

} // namespace
