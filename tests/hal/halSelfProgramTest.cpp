// The partition an Ostrel flash table names by entry id 0xFF, through the core and the real in-band and TCP
// modules under the simulated enclosure: it becomes a row of region id 0x17F and index 0xFF, and every
// download or erase of it comes back as 27 without anything sent, so that the hardware module can program
// the flash itself.
#include "hal/zelkorHalRegions.h"
#include "ial/sasCommands.h"
#include "ial/zelkorIalSas.h"
#include "osal/osalTime.h"
#include "scenario/Scenario.h"
#include "tcp/TcpServer.h"
#include "tests/support/testSupport.h"

#include "client/zsimClient.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace sim = zsim::client;

constexpr uint64_t kAddress = 0x5000CCAB0400B7F0ull;
const std::string kScenario = "device sg0 ostrel\n"
                              "    sas-address 5000CCAB:0400B7F0\n"
                              "    partition 0 0 0x100000\n"
                              "    partition 0xFF 0x200000 0x80000\n"
                              "    partition 5 0x100000 0x100000\n"
                              "    partition 0x60 0x300000 0x80000\n"
                              "    partition 0x7F 0x380000 0x80000\n"
                              "    partition 0x80 0x400000 0x80000\n"
                              "    flash 0x200000 C1C2\n"
                              "    flash 0x280000 D1D2\n";

const ZELKOR_REGION kPartition5{ZELKOR_REGION_PARTITION,   0x85, 5, 0x14100000, 0x100000, 0,
                                ZELKOR_FLASH_TYPE_UNKNOWN, 0};
const ZELKOR_REGION kSelfProgrammed{ZELKOR_REGION_PARTITION,   0x17F, 0xFF, 0x14200000, 0x80000, 0,
                                    ZELKOR_FLASH_TYPE_UNKNOWN, 0};

std::vector<ZELKOR_REGION> takeRegions(ZELKOR_INSTANCE* handle) {
    std::vector<ZELKOR_REGION> rows;
    ZELKOR_REGION_LIST* list = nullptr;
    EXPECT_EQ(zelkor_getRegions(handle, &list), 0u);
    while (list != nullptr) {
        rows.push_back(list->region);
        ZELKOR_REGION_LIST* next = list->next;
        std::free(list);
        list = next;
    }
    return rows;
}

bool holds(const std::vector<ZELKOR_REGION>& rows, const ZELKOR_REGION& row) {
    for (const ZELKOR_REGION& r : rows)
        if (std::memcmp(&r, &row, sizeof r) == 0)
            return true;
    return false;
}

// The partition rows of the list: region ids in list order.
std::vector<uint32_t> partitionIds(const std::vector<ZELKOR_REGION>& rows) {
    std::vector<uint32_t> ids;
    for (const ZELKOR_REGION& r : rows)
        if (r.kind == ZELKOR_REGION_PARTITION)
            ids.push_back(r.regionId);
    return ids;
}

const std::string kOstrelWalk = "WARN : zelkor_hal_OSTREL::halPopulateRegionList : ";

// What both interfaces must show of the open: the 0x85 and the 0x17F rows, the aliasing ids skipped.
void expectOpenedRows(const std::vector<ZELKOR_REGION>& rows, const std::vector<std::string>& lines) {
    EXPECT_TRUE(holds(rows, kPartition5));
    EXPECT_TRUE(holds(rows, kSelfProgrammed));
    EXPECT_EQ(partitionIds(rows), (std::vector<uint32_t>{0x80, 0x17F, 0x85}));
    EXPECT_TRUE(containsInOrder(
        lines,
        {kOstrelWalk + "Flash table entry 3 (id 96) would take region id 0xE0 of another buffer; skipped",
         kOstrelWalk + "Flash table entry 4 (id 127) would take region id 0xFF of another buffer; skipped",
         kOstrelWalk + "Flash table entry 5 (id 128) would take region id 0x100, which no buffer id carries; "
                       "skipped"}));
}

class SelfProgrammedPartition : public testing::Test {
  protected:
    void SetUp() override {
        osal_setSleepFunction([](uint32_t) {});
    }
    void TearDown() override {
        while (gPtrExpList != nullptr) {
            ZELKOR_EXPANDER_LIST* next = gPtrExpList->next;
            std::free(gPtrExpList);
            gPtrExpList = next;
        }
        gExpanderType = 0xFF;
        osal_setSleepFunction(nullptr);
    }

    // The interface's download, upload and erase on the handle, as the hardware module calls them.
    static ZELKOR_STATUS download(ZELKOR_INSTANCE* handle, ZELKOR_REGION region, uint32_t size, FILE* file,
                                  uint8_t* buffer) {
        return handle->ialVectors.zelkor_ial_downloadRegion(handle->ialInstance, &region, 0, size, file,
                                                            buffer);
    }
    static ZELKOR_STATUS erase(ZELKOR_INSTANCE* handle, ZELKOR_REGION region) {
        return handle->ialVectors.zelkor_ial_eraseRegion(handle->ialInstance, &region);
    }
};

TEST_F(SelfProgrammedPartition, InBandKeepsTheRowAndAnswers27WithoutACommand) {
    sim::loadScenario(kScenario);
    LogCapture log;
    ZELKOR_INSTANCE* handle = nullptr;
    testing::internal::CaptureStdout();
    const ZELKOR_STATUS opened = zelkor_open(
        ZELKOR_INTERFACE_SAS, kAddress, &handle, [](int32_t, int32_t) {}, nullptr);
    const std::string openPrinted = testing::internal::GetCapturedStdout();
    ASSERT_EQ(opened, 0u) << openPrinted;
    ASSERT_NE(handle, nullptr);
    const std::vector<ZELKOR_REGION> rows = takeRegions(handle);

    sim::clearTrace();
    uint8_t data[16] = {1, 2, 3};
    // A file shorter than the size is not looked at either: the module will program from it.
    FILE* shortFile = std::tmpfile();
    ASSERT_NE(shortFile, nullptr);
    std::fputs("ab", shortFile);
    testing::internal::CaptureStdout();
    EXPECT_EQ(download(handle, kSelfProgrammed, sizeof data, nullptr, data), 27u);
    EXPECT_EQ(download(handle, kSelfProgrammed, 0x1000, shortFile, nullptr), 27u);
    EXPECT_EQ(erase(handle, kSelfProgrammed), 27u);
    const std::string printed = testing::internal::GetCapturedStdout();
    std::fclose(shortFile);
    EXPECT_TRUE(sim::commands().empty()) << sim::traceText();
    EXPECT_EQ(printed, " **** Invalid Download Region ID  **** **** Invalid Download Region ID  ****"
                       " **** Invalid Erase Region ID  ****");

    // The whole-flash erase erases the partitions before it and stops there with 27: the module erases the
    // flash itself.
    testing::internal::CaptureStdout();
    EXPECT_EQ(erase(handle, gOstrelRegions[1]), 27u);
    testing::internal::GetCapturedStdout();
    std::vector<std::string> cdbs;
    for (const auto& c : sim::commands())
        cdbs.push_back(c.at("cdb"));
    EXPECT_EQ(cdbs, (std::vector<std::string>{"3B028000000000000C00"}));

    // Through the library the hardware module erases the row itself through the memory window: nothing
    // goes to the row's buffer, and the flash around it keeps its bytes.
    sim::clearTrace();
    ZELKOR_REGION row = kSelfProgrammed;
    testing::internal::CaptureStdout();
    EXPECT_EQ(zelkor_eraseRegion(handle, &row), 0u);
    testing::internal::GetCapturedStdout();
    for (const auto& c : sim::commands())
        EXPECT_TRUE(c.at("cdb").starts_with("3B01C2") || c.at("cdb").starts_with("3C01C0")) << c.at("cdb");
    const std::string state = sim::stateText();
    EXPECT_TRUE(sim::stateLines(state, "sg0", "flash 0x00200000").empty()) << state;
    EXPECT_EQ(sim::stateLines(state, "sg0", "flash 0x00280000"),
              std::vector<std::string>{"flash 0x00280000 D1D2"});

    EXPECT_EQ(zelkor_close(handle), 0u);
    const std::vector<std::string> lines = log.lines();
    expectOpenedRows(rows, lines);
    const std::string sas = "ERROR : zelkor_ial_SAS::";
    EXPECT_TRUE(containsInOrder(
        lines, {"INFO : zelkor_ial_SAS::zelkor_ial_downloadRegion : Writing to Flash using 0x17f buffer Id",
                sas + "zelkor_ial_downloadRegion : Invalid Region Id 0xff **** FAILED ****",
                sas + "zelkor_ial_downloadRegion : Invalid Region Id 0xff **** FAILED ****",
                sas + "zelkor_ial_eraseRegion : Invalid Region Id 0xff **** FAILED ****",
                "INFO : zelkor_ial_SAS::zelkor_ial_eraseRegion : Erasing 0xff Region using 0x17f buffer Id",
                sas + "zelkor_ial_eraseRegion : Invalid Region Id 0xff **** FAILED ****"}));
}

TEST_F(SelfProgrammedPartition, TcpKeepsTheRowAndAnswers27WithoutAFrame) {
    auto enclosure = zsim::parseScenario(kScenario);
    zsim::TcpServer server(*enclosure->devices.at(0)->expander);
    const std::string address = server.address();
    LogCapture log;
    ZELKOR_INSTANCE* handle = nullptr;
    ZELKOR_EXPANDER_LIST* expanders = nullptr;
    ASSERT_EQ(zelkor_open(ZELKOR_INTERFACE_TCP,
                          static_cast<uint64_t>(reinterpret_cast<uintptr_t>(address.c_str())), &handle,
                          nullptr, &expanders),
              0u);
    std::free(expanders);
    const std::vector<ZELKOR_REGION> rows = takeRegions(handle);

    server.clearFrames();
    uint8_t data[16] = {1, 2, 3};
    EXPECT_EQ(download(handle, kSelfProgrammed, sizeof data, nullptr, data), 27u);
    EXPECT_EQ(erase(handle, kSelfProgrammed), 27u);
    EXPECT_TRUE(server.frames().empty());
    EXPECT_EQ(zelkor_close(handle), 0u);

    const std::vector<std::string> lines = log.lines();
    expectOpenedRows(rows, lines);
    const std::string tcp = "ERROR : zelkor_ial_TCP::";
    EXPECT_TRUE(containsInOrder(
        lines, {tcp + "zelkor_ial_downloadRegion : Invalid Region ID **** FAILED ****",
                "INFO : zelkor_ial_TCP::zelkor_ial_eraseRegion : Erasing region using 0x17f Buffer ID",
                tcp + "zelkor_ial_downloadRegion : Invalid Region ID **** FAILED ****",
                tcp + "zelkor_ial_eraseRegion : Erasing region using 0x17f Buffer ID **** FAILED ****"}));
}

} // namespace
