// The SCSI target: buffer command decoding, INQUIRY pages, sense data and injected faults.
#include "scenario/Scenario.h"
#include "scsi/ScsiTarget.h"

#include <gtest/gtest.h>

namespace zsim {
namespace {

using Bytes = std::vector<uint8_t>;

struct DecodeCase {
    const char* name;
    Bytes cdb;
    bool dataModeOnly;
    bool valid;
    uint8_t mode;
    uint32_t offset;
    uint32_t length;
};

// Names the case in test listings.
[[maybe_unused]] void PrintTo(const DecodeCase& c, std::ostream* os) {
    *os << c.name;
}

class Decode : public testing::TestWithParam<DecodeCase> {};

TEST_P(Decode, ReadsFieldsByModeAndBufferId) {
    const DecodeCase& c = GetParam();
    const auto decoded = decodeBufferCdb(c.cdb, c.dataModeOnly);
    ASSERT_EQ(decoded.has_value(), c.valid);
    if (!c.valid)
        return;
    EXPECT_EQ(decoded->write, c.cdb[0] == 0x3B);
    EXPECT_EQ(decoded->mode, c.mode);
    EXPECT_EQ(decoded->bufferId, c.cdb[2]);
    EXPECT_EQ(decoded->offset, c.offset);
    EXPECT_EQ(decoded->length, c.length);
}

INSTANTIATE_TEST_SUITE_P(
    Cdbs, Decode,
    testing::Values(
        DecodeCase{
            "page", {0x3C, 0x01, 0xE6, 0xFF, 0x10, 0x00, 0x04, 0x00, 0x00, 0x00}, false, true, 1, 0xFF10, 4},
        DecodeCase{"page_with_stray_bytes",
                   {0x3C, 0x01, 0xE6, 0xFF, 0x10, 0x00, 0x04, 0x01, 0x00, 0x00},
                   false,
                   false,
                   0,
                   0,
                   0},
        DecodeCase{"register",
                   {0x3B, 0x01, 0xC2, 0xC0, 0x00, 0x00, 0xA0, 0x00, 0x04, 0x00},
                   false,
                   true,
                   1,
                   0xC00000A0,
                   4},
        DecodeCase{
            "reset", {0x3B, 0x01, 0xE9, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00}, false, true, 1, 0, 3},
        DecodeCase{"data",
                   {0x3C, 0x02, 0x81, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00},
                   false,
                   true,
                   2,
                   0x10000,
                   0x10000},
        DecodeCase{
            "descriptor", {0x3C, 0x03, 0xE0, 0x00, 0x00, 0x04, 0x00, 0x00, 0x04, 0x00}, false, true, 3, 4, 4},
        DecodeCase{"register_in_data_mode",
                   {0x3C, 0x02, 0xC2, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00},
                   false,
                   false,
                   0,
                   0,
                   0},
        DecodeCase{"page_in_data_mode",
                   {0x3C, 0x02, 0xE6, 0x00, 0xFF, 0x10, 0x00, 0x00, 0x04, 0x00},
                   false,
                   false,
                   0,
                   0,
                   0},
        DecodeCase{"partition_in_vendor_mode",
                   {0x3C, 0x01, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00},
                   false,
                   false,
                   0,
                   0,
                   0},
        DecodeCase{"descriptor_of_partition",
                   {0x3C, 0x03, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00},
                   false,
                   false,
                   0,
                   0,
                   0},
        DecodeCase{"descriptor_write",
                   {0x3B, 0x03, 0xE0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00},
                   false,
                   false,
                   0,
                   0,
                   0},
        DecodeCase{"type1_data",
                   {0x3C, 0x02, 0xC2, 0x34, 0x56, 0x78, 0x00, 0x00, 0x08, 0x00},
                   true,
                   true,
                   2,
                   0x345678,
                   8},
        DecodeCase{"type1_vendor_mode",
                   {0x3C, 0x01, 0xE6, 0xFF, 0x10, 0x00, 0x04, 0x00, 0x00, 0x00},
                   true,
                   false,
                   0,
                   0,
                   0},
        DecodeCase{"too_short", {0x3C, 0x02, 0x00, 0x00}, false, false, 0, 0, 0}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });

class Target : public testing::Test {
  protected:
    void load(const std::string& text) { enclosure_ = parseScenario(text); }
    Device& device(size_t i = 0) { return *enclosure_->devices.at(i); }

    ScsiReply read(const Bytes& cdb, uint32_t length, size_t device = 0) {
        ScsiCommand command;
        command.cdb = cdb;
        command.direction = DataDirection::FromDevice;
        command.dataInLength = length;
        return executeScsi(this->device(device), command);
    }
    ScsiReply write(const Bytes& cdb, const Bytes& data) {
        ScsiCommand command;
        command.cdb = cdb;
        command.direction = DataDirection::ToDevice;
        command.dataOut = data;
        return executeScsi(device(), command);
    }

    std::unique_ptr<Enclosure> enclosure_;
};

void expectSense(const ScsiReply& reply, uint8_t key, uint8_t asc) {
    EXPECT_EQ(reply.status, kStatusCheckCondition);
    EXPECT_EQ(reply.driverStatus, 0x08);
    ASSERT_EQ(reply.sense.size(), 18u);
    EXPECT_EQ(reply.sense[0], 0x70);
    EXPECT_EQ(reply.sense[2], key);
    EXPECT_EQ(reply.sense[7], 10);
    EXPECT_EQ(reply.sense[12], asc);
}

const Bytes kPageHeader{0x3C, 0x01, 0xE6, 0xFF, 0x10, 0x00, 0x04, 0x00, 0x00, 0x00};

TEST_F(Target, StandardInquiryAndVpdPages) {
    load("device sg0 ostrel\n sas-address 5000CCAB0000ABCD\n lu-address 5000CCAB00000001\n ip 10.1.2.3\n"
         "device sg1 disk\n");
    ScsiReply standard = read({0x12, 0, 0, 0, 0xFF, 0}, 255);
    ASSERT_EQ(standard.dataIn.size(), 36u);
    EXPECT_EQ(standard.dataIn[0], 0x0D);
    EXPECT_EQ(standard.dataIn[6] & 0x40, 0x40);
    EXPECT_EQ(std::string(standard.dataIn.begin() + 8, standard.dataIn.begin() + 16), "OSTREL  ");
    EXPECT_EQ(standard.resid, 255u - 36u);

    ScsiReply identification = read({0x12, 1, 0x83, 0, 0xFF, 0}, 255);
    EXPECT_EQ(identification.dataIn,
              (Bytes{0x0D, 0x83, 0x00, 0x18,                                        //
                     0x01, 0x03, 0x00, 0x08, 0x50, 0x00, 0xCC, 0xAB, 0, 0, 0,    1, //
                     0x61, 0x93, 0x00, 0x08, 0x50, 0x00, 0xCC, 0xAB, 0, 0, 0xAB, 0xCD}));
    ScsiReply network = read({0x12, 1, 0x85, 0, 0xFF, 0}, 255);
    EXPECT_EQ(network.dataIn, (Bytes{0x0D, 0x85, 0x00, 0x10, 0x01, 0x00, 0x00, 0x0C, '1', '0',
                                     '.',  '1',  '.',  '2',  '.',  '3',  0,    0,    0,   0}));
    ScsiReply cut = read({0x12, 1, 0x83, 0, 8, 0}, 255);
    EXPECT_EQ(cut.dataIn.size(), 8u); // the allocation length limits the reply

    expectSense(read({0x12, 1, 0x85, 0, 0xFF, 0}, 255, 1), kSenseIllegalRequest, 0x24); // a disk has no 0x85
    expectSense(read({0x12, 0, 0x83, 0, 0xFF, 0}, 255), kSenseIllegalRequest, 0x24);
    expectSense(read({0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512), kSenseIllegalRequest, 0x20);
    expectSense(read(kPageHeader, 4, 1), kSenseIllegalRequest, 0x24);
}

TEST_F(Target, BufferCommandsReachTheModel) {
    load("device sg0 ostrel\n register 0xC00000A0 0 writable 0x40\n");
    ScsiReply header = read(kPageHeader, 4);
    EXPECT_EQ(header.dataIn, (Bytes{0x20, 0x00, 0x10, 0xFF}));
    const Bytes setBit7{0x80, 0, 0, 0};
    EXPECT_EQ(write({0x3B, 0x01, 0xC2, 0xC0, 0x00, 0x00, 0xA0, 0x00, 0x04, 0x00}, setBit7).status,
              kStatusGood);
    EXPECT_EQ(read({0x3C, 0x01, 0xC2, 0xC0, 0x00, 0x00, 0xA0, 0x00, 0x04, 0x00}, 4).dataIn,
              (Bytes{0, 0, 0, 0}));
    // Descriptor mode reports the capacity of the firmware image buffer.
    EXPECT_EQ(read({0x3C, 0x03, 0xE0, 0, 0, 0, 0, 0, 4, 0}, 4).dataIn, (Bytes{0x00, 0x10, 0x00, 0x00}));
    // A host that offers fewer bytes than the parameter list length has not sent the command's data.
    expectSense(write({0x3B, 0x01, 0xE9, 0, 0, 0, 0, 0, 3, 0}, Bytes{0, 0}), kSenseIllegalRequest, 0x24);
    expectSense(write({0x3B, 0x01, 0xE9, 0, 0, 0, 0, 0, 3, 0}, Bytes{2, 0, 0}), kSenseIllegalRequest, 0x26);
    const ScsiReply reset = write({0x3B, 0x01, 0xE9, 0, 0, 0, 0, 0, 3, 0}, Bytes{1, 0, 1, 9});
    EXPECT_EQ(reset.status, kStatusGood);
    EXPECT_EQ(reset.resid, 1u);
    EXPECT_EQ(device().expander->watchdogResets(), 1u);
}

TEST_F(Target, FaultsStrikeMatchingCommandsAfterTheirSkipForTheirCount) {
    load("device sg0 quenza\n fault read-buffer:0xE6:0xFF27 unit-attention skip=1 count=2\n"
         " fault inquiry:0x83 ioctl-failure 19\n");
    const Bytes page{0x3C, 0x01, 0xE6, 0xFF, 0x27, 0x00, 0x04, 0x00, 0x00, 0x00};
    const Bytes otherPage{0x3C, 0x01, 0xE6, 0xFF, 0x01, 0x00, 0x04, 0x00, 0x00, 0x00};
    EXPECT_EQ(read(otherPage, 4).status, kStatusGood);
    EXPECT_EQ(read(page, 4).status, kStatusGood); // skipped
    expectSense(read(page, 4), kSenseUnitAttention, 0x29);
    expectSense(read(page, 4), kSenseUnitAttention, 0x29);
    EXPECT_EQ(read(page, 4).status, kStatusGood);
    const ScsiReply failed = read({0x12, 1, 0x83, 0, 0xFF, 0}, 255);
    EXPECT_TRUE(failed.ioctlFailed);
    EXPECT_EQ(failed.ioctlErrno, 19);
    EXPECT_EQ(device().faults[0].struck, 2u);
}

// The reset is carried out, the answer says it failed; a command the device refuses keeps its own answer.
TEST_F(Target, ExecutedFailureCarriesTheCommandOutAndAnswersAbortedCommand) {
    load("device sg0 ostrel\n fault write-buffer:0xE9 executed-failure count=always\n"
         " fault read-buffer:0xC2 executed-failure\n");
    const Bytes chipReset{0x3B, 0x01, 0xE9, 0, 0, 0, 0, 0, 3, 0};
    expectSense(write(chipReset, Bytes{0, 0, 0}), kSenseAbortedCommand, 0);
    EXPECT_EQ(device().expander->chipResets(), 1u);
    expectSense(write(chipReset, Bytes{2, 0, 0}), kSenseIllegalRequest, 0x26);
    EXPECT_EQ(device().expander->chipResets(), 1u);
    const ScsiReply read4 = read({0x3C, 0x01, 0xC2, 0xC0, 0x00, 0x00, 0x2C, 0x00, 0x04, 0x00}, 4);
    expectSense(read4, kSenseAbortedCommand, 0);
    EXPECT_TRUE(read4.dataIn.empty());
    EXPECT_EQ(read4.resid, 4u);
    EXPECT_EQ(device().faults[0].struck, 2u);
}

TEST_F(Target, LengthFaultsReplaceTheDeviceSuppliedLength) {
    load("device sg0 ostrel\n fault read-buffer:0xE6 length 0x1000\n fault inquiry:0x83 length 300\n"
         " fault read-buffer:0xE0 length 0xFFFFFF\n");
    EXPECT_EQ(read(kPageHeader, 4).dataIn, (Bytes{0x00, 0x10, 0x10, 0xFF}));
    const ScsiReply page = read({0x12, 1, 0x83, 0, 0xFF, 0}, 255);
    EXPECT_EQ(page.dataIn[2], 0x01);
    EXPECT_EQ(page.dataIn[3], 0x2C);
    EXPECT_EQ(read({0x3C, 0x03, 0xE0, 0, 0, 0, 0, 0, 4, 0}, 4).dataIn, (Bytes{0x00, 0xFF, 0xFF, 0xFF}));
}

TEST_F(Target, ShortTransfersReportTheirResidual) {
    load("device sg0 ostrel\n fault read-buffer short 3\n fault write-buffer zero\n");
    const ScsiReply reply = read(kPageHeader, 4);
    EXPECT_EQ(reply.dataIn, (Bytes{0x20, 0x00, 0x10}));
    EXPECT_EQ(reply.resid, 1u);
    const ScsiReply written = write({0x3B, 0x01, 0xE9, 0, 0, 0, 0, 0, 3, 0}, Bytes{0, 0, 0});
    EXPECT_EQ(written.status, kStatusGood);
    EXPECT_EQ(written.resid, 3u);
}

} // namespace
} // namespace zsim
