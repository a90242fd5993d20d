// The topology commands over a source of records given here: argument words, what is shown and returned;
// phy resets through the fake hardware module.
#include "frontend/topology.h"
#include "tests/frontend_exec/execFixture.h"

#include <string>
#include <vector>

namespace {

PhyView phy(uint32_t id, uint32_t routing = 2, bool virtualPhy = false, uint32_t zone = 1) {
    PhyView p;
    p.sasHigh = 0x5000CCAB;
    p.sasLow = 0x0400B7F0;
    p.phyId = id;
    p.routingAttribute = routing;
    p.virtualPhy = virtualPhy;
    p.zoneGroup = zone;
    p.negotiatedRate = 10;
    p.enabled = true;
    return p;
}

// A source whose queries answer from the tables of the test, counting the calls.
struct FakeTopology {
    std::vector<PhyView> phys;
    bool listed = true;
    uint32_t status = 0;
    std::map<uint32_t, uint32_t> routeStatus; // per phy; 0 when not given
    std::vector<uint32_t> routeQueries;
    size_t calls = 0;

    TopologySource source() {
        TopologySource s;
        s.phys = [this](std::vector<PhyView>& out, bool& l) {
            ++calls;
            out = phys;
            l = listed;
            return status;
        };
        s.phy = [this](uint32_t id, PhyView& out) {
            ++calls;
            for (const PhyView& p : phys)
                if (p.phyId == id) {
                    out = p;
                    return status;
                }
            return uint32_t{45};
        };
        s.ports = [this](std::vector<PortView>& out, bool& l) {
            ++calls;
            out = {PortView{0, 1, 2, {0, 1, 2, 3, 4, 5, 6, 7, 8}}, PortView{3, 3, 4, {9}}};
            l = listed;
            return status;
        };
        s.devices = [this](std::vector<DeviceView>& out, bool& l) {
            ++calls;
            out = {DeviceView{1, 5, 6, {0, 1, 2, 3}, 7, 8, {4, 5, 6, 7}}};
            l = listed;
            return status;
        };
        s.routes = [this](uint32_t id, std::vector<std::pair<uint32_t, uint32_t>>& out, bool& l) {
            ++calls;
            routeQueries.push_back(id);
            out = {{0x5000C500, id}};
            l = true;
            const auto found = routeStatus.find(id);
            return found != routeStatus.end() ? found->second : uint32_t{0};
        };
        return s;
    }
};

template <typename F> std::pair<uint32_t, std::string> shown(F&& f) {
    testing::internal::CaptureStdout();
    const uint32_t status = f();
    return {status, testing::internal::GetCapturedStdout()};
}

using TopologyCommands = ExecTest;

TEST_F(TopologyCommands, WordsThatAreNoIdAreRefusedWithoutAQuery) {
    FakeTopology t;
    t.phys = {phy(0)};
    const TopologySource s = t.source();
    for (const char* word : {"abc", "", "3x", "-1", "4294967296"}) {
        SCOPED_TRACE(word);
        EXPECT_EQ(shown([&] { return showPhys(s, word); }), std::make_pair(1u, std::string("Invalid Phy ID.\n")));
        EXPECT_EQ(shown([&] { return showPorts(s, word); }), std::make_pair(1u, std::string("Invalid Port ID\n")));
        EXPECT_EQ(shown([&] { return showRouteTables(s, word); }),
                  std::make_pair(1u, std::string("Invalid Phy ID.\n")));
        EXPECT_EQ(shown([&] { return showZoneGroups(s, word); }),
                  std::make_pair(1u, std::string("Invalid Phy ID.\n")));
        EXPECT_EQ(shown([&] { return resetPhys(s, word); }), std::make_pair(1u, std::string("Invalid Phy ID.\n")));
    }
    EXPECT_EQ(t.calls, 0u);
}

TEST_F(TopologyCommands, PhysShowTheirFailureAndReturnIt) {
    FakeTopology t;
    t.phys = {phy(0), phy(1, 0, true, ZONE_GROUP_UNZONED)};
    auto [status, out] = shown([&] { return showPhys(t.source(), nullptr); });
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(out, std::string("\n") + phyLegend() + phyTableHeading() + displayPhy(t.phys[0]) + displayPhy(t.phys[1]));

    std::tie(status, out) = shown([&] { return showPhys(t.source(), "1"); });
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(out, displaySinglePhy(t.phys[1]));

    std::tie(status, out) = shown([&] { return showPhys(t.source(), "9"); });
    EXPECT_EQ(status, 45u);
    EXPECT_EQ(out, "\nInvalid Phy ID.\n");

    t.listed = false;
    std::tie(status, out) = shown([&] { return showPhys(t.source(), nullptr); });
    EXPECT_EQ(status, 1u);
    EXPECT_EQ(out, "Unable to retrieve Phy list.\n");
}

TEST_F(TopologyCommands, PortsAllOneOrUnknown) {
    FakeTopology t;
    auto [status, out] = shown([&] { return showPorts(t.source(), "511"); });
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(out, portHeading() + displayPort(PortView{0, 1, 2, {0, 1, 2, 3, 4, 5, 6, 7, 8}}) +
                       displayPort(PortView{3, 3, 4, {9}}));
    std::tie(status, out) = shown([&] { return showPorts(t.source(), "3"); });
    EXPECT_EQ(out, portHeading() + displayPort(PortView{3, 3, 4, {9}}));
    std::tie(status, out) = shown([&] { return showPorts(t.source(), "7"); });
    EXPECT_EQ(status, 1u);
    EXPECT_EQ(out, portHeading() + "Invalid Port ID\n");
    std::tie(status, out) = shown([&] { return showAttached(t.source()); });
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(out, deviceHeading() + displayDevice(DeviceView{1, 5, 6, {0, 1, 2, 3}, 7, 8, {4, 5, 6, 7}}));
    t.status = 30;
    std::tie(status, out) = shown([&] { return showAttached(t.source()); });
    EXPECT_EQ(status, 1u);
    EXPECT_EQ(out, "\nNo attached device found.\n");
}

TEST_F(TopologyCommands, RouteWalk) {
    const std::string stars = std::string("\n") + std::string(80, '*') + "\n\n";
    FakeTopology t;
    t.phys = {phy(0, 1), phy(1), phy(2), phy(3)};
    // Phy 1 fails with 31 and the walk goes on; phy 3's 47 ends it.
    t.routeStatus = {{1, 31}, {3, 47}};
    auto [status, out] = shown([&] { return showRouteTables(t.source(), nullptr); });
    EXPECT_EQ(status, 47u);
    EXPECT_EQ(out, stars + "Route Table for Phy 0:\n\nRouting Attribute of the Phy is Not Table.\n" + stars +
                       "Route Table for Phy 1:\n\nRouting not configured .\n" + stars +
                       "Route Table for Phy 2:\n\n(5000C500:00000002)\n" + stars +
                       "\nRoute Table Not Enabled on Expander.\n");
    EXPECT_EQ(t.routeQueries, (std::vector<uint32_t>{1, 2, 3}));

    // One phy that is not table-routed: 48 without the heading.
    std::tie(status, out) = shown([&] { return showRouteTables(t.source(), "0"); });
    EXPECT_EQ(status, 48u);
    EXPECT_EQ(out, stars + "\nRouting Attribute of the Phy is Not Table.\n");
    std::tie(status, out) = shown([&] { return showRouteTables(t.source(), "12"); });
    EXPECT_EQ(status, 1u);
    EXPECT_EQ(out, "Invalid Phy ID.\n");
}

TEST_F(TopologyCommands, ZoneGroups) {
    FakeTopology t;
    t.phys = {phy(0, 2, false, 5), phy(1, 2, false, ZONE_GROUP_UNZONED), phy(2, 2, false, 300)};
    auto [status, out] = shown([&] { return showZoneGroups(t.source(), nullptr); });
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(out, "\nPhy 00 -> Zone Group 5\nPhy 01 -> Unzoned\nPhy 02 -> Zone Group 300\n");
    std::tie(status, out) = shown([&] { return showZoneGroups(t.source(), "2"); });
    EXPECT_EQ(out, "\nPhy 02 -> Unzoned\n");
}

TEST_F(TopologyCommands, ResetOfAllPhysSkipsVirtualAndHighPhysAndFailsWhenOneFails) {
    // The fakes' own expander record: no list to free.
    gFake.heapExpanders.clear();
    gInstance.handle = openHandle(0, ZELKOR_CHIP_QUENZA);
    ASSERT_NE(gInstance.handle, nullptr);
    FakeTopology t;
    t.phys = {phy(0), phy(1, 2, true), phy(2), phy(47), phy(48), phy(60)};
    auto resets = [] {
        std::vector<std::string> phys;
        for (const std::string& call : gFake.calls)
            if (call.rfind("zelkor_hal_resetPhy(", 0) == 0)
                phys.push_back(call.substr(call.rfind(',') + 1, call.size() - call.rfind(',') - 2));
        return phys;
    };
    auto [status, out] = shown([&] { return resetPhys(t.source(), "511"); });
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(resets(), (std::vector<std::string>{"0", "2", "47"}));
    EXPECT_EQ(out, "\nPhy [0] reset successful.\nPhy [2] reset successful.\nPhy [47] reset successful.\n");

    // The first reset fails, the last succeeds: the request still failed.
    gFake.calls.clear();
    size_t seen = 0;
    gFake.onCall["zelkor_hal_resetPhy"] = [&seen] { gFake.results["zelkor_hal_resetPhy"] = seen++ == 0 ? 24 : 0; };
    gFake.results["zelkor_hal_resetPhy"] = 24;
    std::tie(status, out) = shown([&] { return resetPhys(t.source(), "511"); });
    EXPECT_EQ(status, 1u);
    EXPECT_EQ(out.find("Unable to Reset Phy [0]\n") != std::string::npos, true) << out;
    EXPECT_NE(out.find("Phy [47] reset successful.\n"), std::string::npos);

    gFake.onCall.erase("zelkor_hal_resetPhy");
    gFake.results["zelkor_hal_resetPhy"] = 45;
    std::tie(status, out) = shown([&] { return resetPhys(t.source(), "3"); });
    EXPECT_EQ(status, 1u);
    EXPECT_EQ(out, "Invalid Phy ID.\n");
    zelkor_close(gInstance.handle);
    gInstance.handle = nullptr;
}

// Zone permissions of every group through the library into the fake hardware module: Palx answers 29 to the
// first group, which is shown and ends the walk; another failure is returned as it came.
TEST_F(TopologyCommands, EveryZoneGroupEndsAtTheFirstFailure) {
    gFake.heapExpanders.clear();
    auto queries = [] {
        size_t n = 0;
        for (const std::string& call : gFake.calls)
            n += call.rfind("zelkor_hal_getZonePermissions(", 0) == 0;
        return n;
    };
    gInstance.handle = openHandle(0, ZELKOR_CHIP_PALX);
    ASSERT_NE(gInstance.handle, nullptr);
    gFake.calls.clear();
    gFake.results["zelkor_hal_getZonePermissions"] = 29;
    auto [status, out] = shown([] { return getZonePermissions(nullptr); });
    EXPECT_EQ(status, 29u);
    EXPECT_EQ(out, "\nCommand unsupported on attached expander.\n");
    EXPECT_EQ(queries(), 1u);
    zelkor_close(gInstance.handle);

    gInstance.handle = openHandle(0, ZELKOR_CHIP_OSTREL);
    ASSERT_NE(gInstance.handle, nullptr);
    gFake.calls.clear();
    size_t seen = 0;
    gFake.results["zelkor_hal_getZonePermissions"] = 0;
    gFake.onCall["zelkor_hal_getZonePermissions"] = [&seen] {
        gFake.results["zelkor_hal_getZonePermissions"] = ++seen == 3 ? 46 : 0;
    };
    std::tie(status, out) = shown([] { return getZonePermissions("511"); });
    gFake.onCall.erase("zelkor_hal_getZonePermissions");
    EXPECT_EQ(status, 46u);
    EXPECT_EQ(queries(), 3u);
    EXPECT_EQ(out, "\nZone Group [0] Permissions:\n\nZone Group [1] Permissions:\n");
    zelkor_close(gInstance.handle);
    gInstance.handle = nullptr;
}

} // namespace
