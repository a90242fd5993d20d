// The READ BUFFER, WRITE BUFFER and INQUIRY carriers against the simulated enclosure.
#include "ial/sasCommands.h"

#include "client/zsimClient.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

namespace sim = zsim::client;
using Bytes = std::vector<uint8_t>;

class Carriers : public testing::Test {
  protected:
    void load(const std::string& faults = "") {
        sim::loadScenario("device sg0 quenza\n    sas-address 5000CCAB0000ABCD\n    ip 10.1.2.3\n"
                          "    dhcp-address 10.9.8.7\n" +
                          faults);
        saved_ = gExpanderType;
        gExpanderType = 4;
        device_ = osal_sasDeviceOpen(0);
        ASSERT_NE(device_, OSAL_SAS_NO_DEVICE);
        sim::clearTrace();
    }
    void TearDown() override {
        gExpanderType = saved_;
        if (device_ != OSAL_SAS_NO_DEVICE)
            osal_sasDeviceClose(device_);
    }

    OsalSasDevice device_ = OSAL_SAS_NO_DEVICE;

  private:
    uint32_t saved_ = 0xFF;
};

TEST_F(Carriers, ReadsAPageHeaderAndTheWholePage) {
    load();
    Bytes header(4);
    uint32_t transferred = 0;
    ASSERT_EQ(zelkor_ial_readData(0xE6, header.data(), 4, device_, 0xFF27, 1, &transferred), 0u);
    EXPECT_EQ(transferred, 4u);
    EXPECT_EQ(header, (Bytes{0x20, 0x00, 0x27, 0xFF}));
    Bytes page(header[0]);
    ASSERT_EQ(zelkor_ial_readData(0xE6, page.data(), header[0], device_, 0xFF27, 1, &transferred), 0u);
    EXPECT_EQ(transferred, 32u);
    EXPECT_EQ(Bytes(page.begin() + 4, page.begin() + 8), (Bytes{10, 1, 2, 3}));
    const auto commands = sim::commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[1].bytes("cdb"), (Bytes{0x3C, 0x01, 0xE6, 0xFF, 0x27, 0x00, 0x20, 0x00, 0x00, 0x00}));
}

TEST_F(Carriers, WritesAPageBack) {
    load();
    Bytes page(32);
    ASSERT_EQ(zelkor_ial_readData(0xE6, page.data(), 32, device_, 0xFF27, 1), 0u);
    page[4] = 172;
    uint32_t transferred = 0;
    ASSERT_EQ(zelkor_ial_writeData(0xE6, page.data(), 32, device_, 0xFF27, 1, &transferred), 0u);
    EXPECT_EQ(transferred, 32u);
    const auto lines = sim::stateLines(sim::stateText(), "sg0", "page 0xFF27");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(0, 19), "page 0xFF27 200027F"); // length and id unchanged
    EXPECT_NE(lines[0].find("FFAC010203"), std::string::npos) << lines[0];
}

TEST_F(Carriers, ReportsAShortTransferWhileKeepingSuccess) {
    load("    fault read-buffer:0xE6 short 6\n");
    Bytes page(32, 0);
    uint32_t transferred = 0;
    EXPECT_EQ(zelkor_ial_readData(0xE6, page.data(), 32, device_, 0xFF27, 1, &transferred), 0u);
    EXPECT_EQ(transferred, 6u);
}

TEST_F(Carriers, ResultCodes) {
    load("    fault read-buffer:0xC0 zero\n    fault read-buffer:0xC2 illegal-request\n"
         "    fault write-buffer:0xC2 illegal-request\n");
    Bytes word(4);
    uint32_t transferred = 9;
    EXPECT_EQ(zelkor_ial_readData(0xC0, word.data(), 4, device_, 0xC380002C, 0, &transferred),
              SAS_READ_EMPTY);
    EXPECT_EQ(transferred, 0u);
    EXPECT_EQ(zelkor_ial_readData(0xC2, word.data(), 4, device_, 0xC000004C, 0), SAS_READ_FAILED);
    EXPECT_EQ(zelkor_ial_writeData(0xC2, word.data(), 4, device_, 0x42400018, 0), SAS_WRITE_FAILED);
    EXPECT_EQ(zelkor_ial_readData(0xC2, word.data(), 4, device_, 0xC000004C, 0), 0u);
    EXPECT_EQ(word, (Bytes{0xCD, 0xAB, 0x00, 0x00})); // little-endian low half of the SAS address
    EXPECT_EQ(sim::commands().size(), 4u);
}

TEST_F(Carriers, RefuseMissingDataWithTheirMessages) {
    load();
    Bytes word(4);
    testing::internal::CaptureStdout();
    EXPECT_EQ(zelkor_ial_writeData(0xC2, nullptr, 4, device_, 0, 0), SAS_INVALID_ARGUMENTS);
    EXPECT_EQ(zelkor_ial_writeData(0xC2, word.data(), 0, device_, 0, 0), SAS_INVALID_ARGUMENTS);
    EXPECT_EQ(zelkor_ial_readData(0xC2, nullptr, 4, device_, 0, 0), SAS_INVALID_ARGUMENTS);
    EXPECT_EQ(zelkor_ial_readData(0xC2, word.data(), 0, device_, 0, 0), SAS_INVALID_ARGUMENTS);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), " **** INVALID ARGUMENTS for SAS Write data ****"
                                                      " **** INVALID ARGUMENTS for SAS Write data ****"
                                                      " ****  Invalid Arguments for SAS Read data ****"
                                                      " ****  Invalid Arguments for SAS Read data ****");
    EXPECT_TRUE(sim::commands().empty());
}

// A length or offset wider than its command field would otherwise be cut to its low bits and address
// other bytes of the expander than the caller's: such a transfer is refused before anything is sent.
TEST_F(Carriers, RefuseLengthsAndOffsetsTheirCommandCannotCarry) {
    struct Row {
        uint32_t buffer;
        uint32_t length;
        uint32_t offset;
        uint8_t descriptor;
        bool fits;
    };
    const Row rows[] = {
        {0xC2, 0xFFFF, 0xFFFFFFFF, 0, true},   // memory: 16-bit length, 32-bit address
        {0xC2, 0x10000, 0x42400018, 0, false}, // memory length past 16 bits
        {0xE6, 0x20, 0xFFFF, 1, true},         // configuration page: 16-bit page id
        {0xE6, 0x20, 0x1FF27, 1, false},       // page id past 16 bits
        {0xE6, 0x10000, 0xFF27, 1, false},     // page length past 16 bits
        {0x81, 0x100, 0xFFFF00, 0, true},      // data buffer: 24-bit offset and length
        {0x81, 0x100, 0x1000000, 0, false},    // offset past 24 bits
        {0x81, 0x1000000, 0, 0, false},        // length past 24 bits
        {0x1C2, 4, 0x42400018, 0, false},      // buffer id past 8 bits
    };
    load();
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << std::hex << "buffer 0x" << row.buffer << " length 0x" << row.length
                                        << " offset 0x" << row.offset);
        EXPECT_EQ(cdbFieldsFit(row.buffer, row.length, row.offset, row.descriptor), row.fits);
        if (row.fits)
            continue;
        // The refusal never touches the buffer, so a small one shows under the sanitizers that nothing
        // is read from it or written into it.
        Bytes data(16);
        testing::internal::CaptureStdout();
        EXPECT_EQ(
            zelkor_ial_writeData(row.buffer, data.data(), row.length, device_, row.offset, row.descriptor),
            SAS_INVALID_ARGUMENTS);
        EXPECT_EQ(
            zelkor_ial_readData(row.buffer, data.data(), row.length, device_, row.offset, row.descriptor),
            SAS_INVALID_ARGUMENTS);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), " **** INVALID ARGUMENTS for SAS Write data ****"
                                                          " ****  Invalid Arguments for SAS Read data ****");
        EXPECT_TRUE(sim::commands().empty());
    }
}

TEST_F(Carriers, WriteFailurePrintsItsMessage) {
    load("    fault write-buffer transport-error\n");
    const Bytes reset{0, 0, 0};
    testing::internal::CaptureStdout();
    EXPECT_EQ(zelkor_ial_writeData(0xE9, reset.data(), 3, device_, 0, 0), SAS_WRITE_FAILED);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), " **** Osal SAS Device Write data  FAILED****");
    EXPECT_NE(sim::stateText().find("resets chip=0 watchdog=0"), std::string::npos);
}

TEST_F(Carriers, InquiriesOfTheTwoVpdPages) {
    load();
    Bytes reply(255, 0);
    uint32_t transferred = 0;
    ASSERT_EQ(zelkor_ial_inquiryVpd(device_, VPD_DEVICE_IDENTIFICATION, reply.data(), &transferred), 0u);
    EXPECT_EQ(getSASAddress(reply.data(), transferred), 0x5000CCAB0000ABCDull);
    const auto commands = sim::commands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].bytes("cdb"), (Bytes{0x12, 0x01, 0x83, 0x00, 0xFF, 0x00}));
    EXPECT_EQ(commands[0].number("len"), 255);
    ASSERT_EQ(zelkor_ial_inquiryVpd(device_, VPD_MANAGEMENT_NETWORK_ADDRESSES, reply.data(), &transferred),
              0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&reply[8]), 8), "10.1.2.3");
}

} // namespace
