// The topology routines in-process: the list routines, the phy block decoder bit by bit, and family Palx
// (which no interface of the system lets read its registers) over the model-backed fake interface.
#include "hal/zelkorHalTopology.h"
#include "tests/hal/halFixture.h"

#include <gmock/gmock.h>

#include <cstdlib>
#include <functional>

namespace {

using testing::ElementsAre;
using testing::IsEmpty;

std::vector<uint32_t> idsOf(const ZELKOR_PORT& port) {
    return std::vector<uint32_t>(port.phyIds, port.phyIds + port.phyCount);
}

TEST(PortIds, InsertedInAscendingOrderOnceEach) {
    ZELKOR_PORT port{};
    EXPECT_EQ(addPhyToPort(&port, 5), 0u);
    EXPECT_EQ(addPhyToPort(&port, 2), 0u);
    EXPECT_EQ(addPhyToPort(&port, 9), 0u);
    EXPECT_EQ(idsOf(port), (std::vector<uint32_t>{2, 5, 9}));
    EXPECT_EQ(addPhyToPort(&port, 5), 3u);
    EXPECT_EQ(idsOf(port), (std::vector<uint32_t>{2, 5, 9}));
    for (int32_t id = 10; port.phyCount < 48; ++id)
        ASSERT_EQ(addPhyToPort(&port, id), 0u);
    const ZELKOR_PORT full = port;
    EXPECT_EQ(addPhyToPort(&port, 0), 2u);
    EXPECT_EQ(std::memcmp(&port, &full, sizeof port), 0);
    EXPECT_EQ(port.phyIds[47], 54);
    EXPECT_EQ(addPhyToPort(nullptr, 1), 5u);
}

TEST(TopologyLists, AppendCopiesAtTheTail) {
    ZELKOR_PHY_LIST* phys = nullptr;
    ZELKOR_PHY phy{};
    EXPECT_EQ(addNodetoPhyList(&phys, nullptr), 5u);
    for (uint8_t id : {4, 1}) {
        phy.phyId = id;
        ASSERT_EQ(addNodetoPhyList(&phys, &phy), 0u);
    }
    ASSERT_NE(phys, nullptr);
    ASSERT_NE(phys->next, nullptr);
    EXPECT_EQ(phys->phy.phyId, 4);
    EXPECT_EQ(phys->next->phy.phyId, 1);
    EXPECT_EQ(phys->next->next, nullptr);
    std::free(phys->next);
    std::free(phys);

    ZELKOR_DEVICE_LIST* devices = nullptr;
    ZELKOR_DEVICE device{};
    EXPECT_EQ(addNodeToDeviceList(&devices, nullptr), 5u);
    device.sasAddressLow = 7;
    ASSERT_EQ(addNodeToDeviceList(&devices, &device), 0u);
    ASSERT_NE(devices, nullptr);
    EXPECT_EQ(devices->device.sasAddressLow, 7u);
    EXPECT_EQ(devices->next, nullptr);
    std::free(devices);
}

// Every field comes from its own bits: a block with only those bits set fills that field alone.
TEST(PhyDecoder, EachFieldFromItsBits) {
    struct Case {
        const char* field;
        uint32_t word;
        uint32_t bits;
        std::function<uint32_t(const ZELKOR_PHY&)> get;
        uint32_t value;
    };
    const Case cases[] = {
        {"attachedPhyId", 6, 0xFF000000u, [](const ZELKOR_PHY& p) { return p.attachedPhyId; }, 0xFF},
        {"phyId", 0, 0x00FF0000u, [](const ZELKOR_PHY& p) { return p.phyId; }, 0xFF},
        {"routingAttribute", 9, 0x0F000000u, [](const ZELKOR_PHY& p) { return p.routingAttribute; }, 0xF},
        {"sasAddressLow", 3, 0xFFFFFFFFu, [](const ZELKOR_PHY& p) { return p.sasAddressLow; }, 0xFFFFFFFF},
        {"sasAddressHigh", 2, 0xFFFFFFFFu, [](const ZELKOR_PHY& p) { return p.sasAddressHigh; }, 0xFFFFFFFF},
        {"attachedSasAddressLow", 5, 0xFFFFFFFFu, [](const ZELKOR_PHY& p) { return p.attachedSasAddressLow; },
         0xFFFFFFFF},
        {"attachedSasAddressHigh", 4, 0xFFFFFFFFu, [](const ZELKOR_PHY& p) { return p.attachedSasAddressHigh; },
         0xFFFFFFFF},
        {"attachedSmpInitiator", 1, 1u << 9, [](const ZELKOR_PHY& p) { return p.attachedSmpInitiator; }, 1},
        {"attachedStpInitiator", 1, 1u << 10, [](const ZELKOR_PHY& p) { return p.attachedStpInitiator; }, 1},
        {"attachedSspInitiator", 1, 1u << 11, [](const ZELKOR_PHY& p) { return p.attachedSspInitiator; }, 1},
        {"attachedDeviceType", 1, 0x70000000u, [](const ZELKOR_PHY& p) { return p.attachedDeviceType; }, 7},
        {"attachedSataDevice", 1, 1u << 0, [](const ZELKOR_PHY& p) { return p.attachedSataDevice; }, 1},
        {"attachedSmpTarget", 1, 1u << 1, [](const ZELKOR_PHY& p) { return p.attachedSmpTarget; }, 1},
        {"attachedStpTarget", 1, 1u << 2, [](const ZELKOR_PHY& p) { return p.attachedStpTarget; }, 1},
        {"attachedSspTarget", 1, 1u << 3, [](const ZELKOR_PHY& p) { return p.attachedSspTarget; }, 1},
        {"attachedSataPortSelector", 1, 1u << 4, [](const ZELKOR_PHY& p) { return p.attachedSataPortSelector; },
         1},
        {"supportedMinLinkRate", 8, 0xF0000000u, [](const ZELKOR_PHY& p) { return p.supportedMinLinkRate; }, 0xF},
        {"minLinkRate", 8, 0x0F000000u, [](const ZELKOR_PHY& p) { return p.minLinkRate; }, 0xF},
        {"supportedMaxLinkRate", 8, 0x00F00000u, [](const ZELKOR_PHY& p) { return p.supportedMaxLinkRate; }, 0xF},
        {"maxLinkRate", 8, 0x000F0000u, [](const ZELKOR_PHY& p) { return p.maxLinkRate; }, 0xF},
        {"phyChangeCount", 8, 0x0000FF00u, [](const ZELKOR_PHY& p) { return p.phyChangeCount; }, 0xFF},
        {"partialPathwayTimeout", 8, 0x0000000Fu, [](const ZELKOR_PHY& p) { return p.partialPathwayTimeout; },
         0xF},
        {"virtualPhy", 8, 0x00000080u, [](const ZELKOR_PHY& p) { return p.virtualPhy; }, 1},
        {"negotiatedLinkRate", 1, 0x000F0000u, [](const ZELKOR_PHY& p) { return p.negotiatedLinkRate; }, 0xF},
        {"linkNibble", 10, 0x000F0000u, [](const ZELKOR_PHY& p) { return p.linkNibble; }, 0xF},
        {"linkFlag", 11, 0x00000001u, [](const ZELKOR_PHY& p) { return p.linkFlag; }, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        uint32_t block[PHY_BLOCK_WORDS] = {};
        block[c.word] = c.bits;
        ZELKOR_PHY rec;
        std::memset(&rec, 0, sizeof rec);
        rec.zoneGroup = 77; // populatePhyData leaves the fields it does not own
        rec.enabled = 1;
        rec.invalidDwordCount = 9;
        populatePhyData(&rec, block);
        EXPECT_EQ(c.get(rec), c.value);
        for (const Case& other : cases) {
            if (other.field != c.field && !(other.word == c.word && (other.bits & c.bits) != 0)) {
                EXPECT_EQ(other.get(rec), 0u) << other.field;
            }
        }
        EXPECT_EQ(rec.zoneGroup, 77u);
        EXPECT_EQ(rec.enabled, 1);
        EXPECT_EQ(rec.invalidDwordCount, 9u);
    }
    // The bits nobody reads: w1 bits 5..8 (the standard's selector bit 7 among them), 12..15, 20..27, 31.
    uint32_t block[PHY_BLOCK_WORDS] = {};
    block[1] = 0x8FF0F1E0u;
    block[7] = block[12] = 0xFFFFFFFFu;
    ZELKOR_PHY rec{};
    populatePhyData(&rec, block);
    ZELKOR_PHY none{};
    EXPECT_EQ(std::memcmp(&rec, &none, sizeof rec), 0);
}

// ---- family Palx over the fake interface ----

class PalxTopology : public HalTest {
  protected:
    void SetUp() override {
        HalTest::SetUp();
        use(kPalx);
    }
    // Lays a topology into the model and opens the module; the slots the device query calls are bound.
    void install(const std::function<void(zsim::Topology&)>& describe) {
        gModel.expander->setIdentity(0x5000CCAB0400B7F0ull, 0x211, 0);
        zsim::Topology& t = gModel.expander->topology();
        t.present = true;
        describe(t);
        gModel.expander->installTopology();
        ASSERT_EQ(open(), 0u);
        handle_.halVectors.zelkor_hal_getPhy = op<HAL_GET_PHY_FUNCTION>("zelkor_hal_getPhy");
        handle_.halVectors.zelkor_hal_getPorts = op<HAL_GET_PORTS_FUNCTION>("zelkor_hal_getPorts");
        gModel.calls.clear();
    }
    // Every transfer since the last clear: address and size.
    std::vector<std::pair<uint32_t, uint32_t>> reads() const {
        std::vector<std::pair<uint32_t, uint32_t>> out;
        for (const InterfaceCall& c : gModel.calls)
            if (c.op == "upload")
                out.emplace_back(c.region.base + c.offset, c.size);
        return out;
    }
    std::vector<ZELKOR_PHY> phys() {
        ZELKOR_PHY_LIST* list = nullptr;
        EXPECT_EQ(op<HAL_GET_PHYS_FUNCTION>("zelkor_hal_getPhys")(hi_, &list), 0u);
        std::vector<ZELKOR_PHY> out;
        while (list != nullptr) {
            out.push_back(list->phy);
            ZELKOR_PHY_LIST* next = list->next;
            std::free(list);
            list = next;
        }
        return out;
    }
};

TEST_F(PalxTopology, ThirtyEightPhysWithTwoVirtualOnes) {
    install([](zsim::Topology& t) {
        t.phyCount = 38;
        t.phys[3].deviceType = 1;
        t.phys[3].attachedSasAddress = 0x5000C50000000033ull;
        t.phys[3].counters = {5, 6, 7, 8};
        t.phys[37].enabled = false;
        t.phys[36].counters = {1, 0, 0, 2};
    });
    const std::vector<ZELKOR_PHY> list = phys();
    ASSERT_EQ(list.size(), 38u);
    EXPECT_EQ(list[3].attachedSasAddressLow, 0x33u);
    for (const ZELKOR_PHY& p : list) {
        EXPECT_EQ(p.zoneGroup, ZELKOR_ZONE_GROUP_NONE);
        EXPECT_EQ(p.virtualPhy, p.phyId >= 36 ? 1 : 0);
        EXPECT_EQ(p.enabled, p.phyId == 37 ? 0 : 1);
    }
    const auto r = reads();
    ASSERT_EQ(r.size(), 40u); // count, mask, one block per phy and no zone register
    EXPECT_EQ(r[0], std::make_pair(0xC0000104u, 4u));
    EXPECT_EQ(r[1], std::make_pair(0xC0000044u, 8u));
    EXPECT_EQ(r[2 + 3], std::make_pair(0xC0040040u + (3u << 10), 52u));
    EXPECT_EQ(r[2 + 36], std::make_pair(0xB0020040u, 52u));
    EXPECT_EQ(r[2 + 37], std::make_pair(0xB0010040u, 52u));
    EXPECT_TRUE(containsLine(log_->lines(), "INFO : zelkor_hal_PALX::zelkor_hal_getPhys : Number of Phys detected are 38"));
}

TEST_F(PalxTopology, CountersOfPhysicalAndVirtualPhys) {
    install([](zsim::Topology& t) {
        t.phyCount = 38;
        t.phys[3].counters = {5, 6, 7, 8};
        t.phys[36].counters = {1, 0, 0, 2};
    });
    auto getPhy = op<HAL_GET_PHY_FUNCTION>("zelkor_hal_getPhy");
    struct Case {
        uint32_t phy;
        uint32_t counters;
        std::array<uint32_t, 4> values;
    };
    for (const Case& c : {Case{3, 0xC0040318u + (3u << 10), {5, 6, 7, 8}}, Case{36, 0xB0020318u, {1, 0, 0, 2}}}) {
        SCOPED_TRACE(c.phy);
        gModel.calls.clear();
        ZELKOR_PHY phy{};
        ASSERT_EQ(getPhy(hi_, c.phy, &phy), 0u);
        EXPECT_EQ(reads().back(), std::make_pair(c.counters, 16u));
        EXPECT_EQ((std::array<uint32_t, 4>{phy.invalidDwordCount, phy.runningDisparityErrorCount,
                                           phy.lossOfDwordSyncCount, phy.phyResetProblemCount}),
                  c.values);
    }
    ZELKOR_PHY untouched{};
    untouched.phyId = 99;
    ZELKOR_PHY phy = untouched;
    EXPECT_EQ(getPhy(hi_, 38, &phy), 45u);
    EXPECT_EQ(phy.phyId, 99);
    EXPECT_TRUE(containsLine(log_->lines(), "ERROR : zelkor_hal_PALX::zelkor_hal_getPhy : Phy Id 38 is greater than "
                                            "the total number of Phys (38) the Expander has**** FAILED ****"));
}

// With N = 40 the phys above N - 3 are 38 and 39, neither of them virtual: they read as physical phys, and
// 36 and 37 (no longer above N - 3) too.
TEST_F(PalxTopology, OtherCountsReadEveryPhyAsPhysical) {
    install([](zsim::Topology& t) { t.phyCount = 40; });
    const std::vector<ZELKOR_PHY> list = phys();
    ASSERT_EQ(list.size(), 40u);
    const auto r = reads();
    for (uint32_t p = 0; p < 40; ++p)
        EXPECT_EQ(r[2 + p], std::make_pair(0xC0040040u + (p << 10), 52u)) << p;
}

TEST_F(PalxTopology, DevicesAskForTheBlocksPhyId) {
    install([](zsim::Topology& t) {
        t.phyCount = 38;
        t.phys[3].deviceType = 1;
        t.phys[3].phyId = 9; // the block of phy 3 names itself phy 9
        t.phys[3].attachedSasAddress = 0x5000C50000000033ull;
        t.phys[9].deviceType = 1;
        t.phys[9].attachedSasAddress = 0x5000C50000000099ull;
    });
    ZELKOR_DEVICE_LIST* list = nullptr;
    EXPECT_EQ(op<HAL_GET_DEVICES_FUNCTION>("zelkor_hal_getDevices")(hi_, &list), 0u);
    const auto r = reads();
    // Phy 3's first eight bytes, then getPhy of phy 9: its count and its block.
    const auto at = std::find(r.begin(), r.end(), std::make_pair(0xC0040040u + (3u << 10), 8u));
    ASSERT_NE(at, r.end());
    EXPECT_EQ(*(at + 1), std::make_pair(0xC0000104u, 4u));
    EXPECT_EQ(*(at + 2), std::make_pair(0xC0040040u + (9u << 10), 52u));
    // Both links found phy 9's device: one device.
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->device.sasAddressLow, 0x99u);
    EXPECT_EQ(list->next, nullptr);
    std::free(list);
    EXPECT_TRUE(containsLine(log_->lines(), "INFO : zelkor_hal_PALX::zelkor_hal_getDevices : Reading 8 bytes at "
                                            "0xc0040c40 offset using 0xc0 BufferId"));
}

TEST_F(PalxTopology, RouteWalkUsesBitPOverAllIndices) {
    install([](zsim::Topology& t) {
        t.routeCount = 3;
        t.routes[2] = {0x5000C50000000020ull, 1ull << 20};
        t.routes[700] = {0x5000C50000000700ull, 1ull << 20};
        t.routes[800] = {0x5000C50000000800ull, 1ull << 35};
    });
    auto routeTable = op<HAL_GET_ROUTE_TABLE_FUNCTION>("zelkor_hal_getRouteTable");
    struct Case {
        uint32_t phy;
        ZELKOR_STATUS status;
        std::vector<uint32_t> indices;
    };
    for (const Case& c : {Case{20, 0, {2, 700}}, Case{35, 0, {800}}, Case{36, 31, {}}, Case{9, 31, {}}}) {
        SCOPED_TRACE(c.phy);
        gModel.calls.clear();
        ZELKOR_ROUTE_LIST* list = nullptr;
        EXPECT_EQ(routeTable(hi_, c.phy, &list), c.status);
        std::vector<uint32_t> indices;
        while (list != nullptr) {
            indices.push_back(list->routeIndex);
            ZELKOR_ROUTE_LIST* next = list->next;
            std::free(list);
            list = next;
        }
        EXPECT_EQ(indices, c.indices);
        size_t indexWrites = 0;
        for (const Access& a : accesses())
            indexWrites += std::get<0>(a) == 'W' && std::get<1>(a) == 0xA0000008;
        EXPECT_EQ(indexWrites, c.phy >= 36 ? 0u : 1024u);
    }
}

TEST_F(PalxTopology, RouteWalkSkipsFailedEntriesAndReportsTheFirstFailure) {
    install([](zsim::Topology& t) {
        t.routeCount = 1;
        t.routes[2] = {0x5000C50000000020ull, 1ull << 20};
        t.routes[5] = {0x5000C50000000050ull, 1ull << 20};
    });
    // The address read of index 3 fails with 24, the mask read of index 5 later with 25.
    gModel.failures.push_back({"upload", 0xA0000020u, 24, std::nullopt, 3, 1});
    gModel.failures.push_back({"upload", 0xA0000030u, 25, std::nullopt, 1, 1});
    ZELKOR_ROUTE_LIST* list = nullptr;
    EXPECT_EQ(op<HAL_GET_ROUTE_TABLE_FUNCTION>("zelkor_hal_getRouteTable")(hi_, 20, &list), 24u);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->routeIndex, 2u);
    EXPECT_EQ(list->next, nullptr);
    std::free(list);
}

TEST_F(PalxTopology, ResetOfPhysicalPhysOnly) {
    install([](zsim::Topology& t) {
        t.phyCount = 38;
        t.phys[4].resetStuck = true;
    });
    auto reset = op<HAL_RESET_PHY_FUNCTION>("zelkor_hal_resetPhy");
    struct Case {
        uint32_t phy;
        ZELKOR_STATUS status;
        bool written;
    };
    for (const Case& c : {Case{3, 0, true}, Case{4, 1, true}, Case{35, 0, true}, Case{36, 45, false},
                          Case{0x400000, 45, false}}) {
        SCOPED_TRACE(c.phy);
        gModel.calls.clear();
        EXPECT_EQ(reset(hi_, c.phy), c.status);
        std::vector<Access> writes;
        for (const Access& a : accesses()) {
            if (std::get<0>(a) == 'W')
                writes.push_back(a);
        }
        if (c.written) {
            EXPECT_THAT(writes, ElementsAre(Access{'W', 0xC0040310u + (c.phy << 10), 2}));
        } else {
            EXPECT_THAT(writes, IsEmpty());
        }
    }
    EXPECT_EQ(gModel.expander->phyResets(), (std::map<uint32_t, uint32_t>{{3, 1}, {4, 1}, {35, 1}}));
    const auto lines = log_->lines();
    EXPECT_TRUE(containsLine(lines, "INFO : zelkor_hal_PALX::zelkor_hal_resetPhy : Phy reset Successful"));
    EXPECT_TRUE(containsLine(lines, "ERROR : zelkor_hal_PALX::zelkor_hal_resetPhy : Unable to reset Phy **** FAILED ****"));
    EXPECT_TRUE(containsLine(lines, "ERROR : zelkor_hal_PALX::zelkor_hal_resetPhy : Invalid phy Id 36 **** FAILED ****"));
}

// An interface that refuses every register read (the in-band answer for this family) ends each query with
// its status: no empty list taken for success, no 45 for a count never read.
TEST_F(PalxTopology, RefusedReadsEndEveryQueryWithTheirStatus) {
    install([](zsim::Topology& t) { t.phyCount = 38; });
    gModel.failures.push_back({"upload", std::nullopt, 29});
    ZELKOR_PHY_LIST* phys = nullptr;
    EXPECT_EQ(op<HAL_GET_PHYS_FUNCTION>("zelkor_hal_getPhys")(hi_, &phys), 29u);
    EXPECT_EQ(phys, nullptr);
    ZELKOR_PHY phy{};
    EXPECT_EQ(op<HAL_GET_PHY_FUNCTION>("zelkor_hal_getPhy")(hi_, 0, &phy), 29u);
    EXPECT_EQ(op<HAL_RESET_PHY_FUNCTION>("zelkor_hal_resetPhy")(hi_, 0), 29u);
    ZELKOR_ROUTE_LIST* routes = nullptr;
    EXPECT_EQ(op<HAL_GET_ROUTE_TABLE_FUNCTION>("zelkor_hal_getRouteTable")(hi_, 0, &routes), 29u);
    for (const Access& a : accesses())
        EXPECT_NE(std::get<0>(a), 'W');
    uint32_t row[8];
    EXPECT_EQ(op<HAL_GET_ZONE_PERMISSIONS_FUNCTION>("zelkor_hal_getZonePermissions")(hi_, 0, row), 29u);
}

} // namespace
