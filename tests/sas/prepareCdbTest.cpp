// Encoding of the in-band buffer commands, byte for byte.
#include "ial/sasCommands.h"

#include <array>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct CdbCase {
    const char* name;
    uint32_t expanderType;
    uint8_t operation;
    uint32_t bufferId;
    uint32_t offset;
    uint32_t length;
    uint8_t descriptorFlag;
    Bytes expected;
};

// Names the case in test listings.
[[maybe_unused]] void PrintTo(const CdbCase& c, std::ostream* os) {
    *os << c.name;
}

// Restores the module-wide expander type whatever a case sets.
class PrepareCdb : public testing::TestWithParam<CdbCase> {
  protected:
    void SetUp() override { saved_ = gExpanderType; }
    void TearDown() override { gExpanderType = saved_; }

  private:
    uint32_t saved_ = 0;
};

TEST_P(PrepareCdb, EncodesTheCommandBytes) {
    const CdbCase& c = GetParam();
    gExpanderType = c.expanderType;
    std::array<uint8_t, 16> cdb;
    cdb.fill(0xAA);
    uint32_t length = 0;
    EXPECT_EQ(prepareCdb(cdb.data(), c.operation, c.bufferId, c.length, c.offset, &length, c.descriptorFlag),
              0u);
    EXPECT_EQ(length, 10u);
    EXPECT_EQ(Bytes(cdb.begin(), cdb.begin() + 10), c.expected);
    // Only the ten command bytes are written.
    for (size_t i = 10; i < cdb.size(); ++i)
        EXPECT_EQ(cdb[i], 0xAA) << "byte " << i;
}

constexpr uint8_t R = SCSI_READ_BUFFER;
constexpr uint8_t W = SCSI_WRITE_BUFFER;

const CdbCase kCases[] = {
    // Configuration pages: mode 1, 16-bit page id, 16-bit length, bytes 7 and 8 zero.
    {"page_read", 0xFF, R, 0xE6, 0xFF10, 4, 0, {0x3C, 0x01, 0xE6, 0xFF, 0x10, 0x00, 0x04, 0x00, 0x00, 0x00}},
    {"page_write_descriptor",
     2,
     W,
     0xE6,
     0xFF27,
     0x20,
     1,
     {0x3B, 0x01, 0xE6, 0xFF, 0x27, 0x00, 0x20, 0x00, 0x00, 0x00}},
    {"page_fields_cut_to_16_bits",
     0,
     R,
     0xE6,
     0x12345,
     0x10004,
     0,
     {0x3C, 0x01, 0xE6, 0x23, 0x45, 0x00, 0x04, 0x00, 0x00, 0x00}},
    // Reset control: mode 1, 24-bit fields, whatever the descriptor flag.
    {"reset", 2, W, 0xE9, 0, 3, 0, {0x3B, 0x01, 0xE9, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00}},
    {"reset_descriptor", 4, W, 0xE9, 0, 3, 1, {0x3B, 0x01, 0xE9, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00}},
    // Registers and memory: mode 1, 32-bit address, 16-bit length.
    {"register_write",
     2,
     W,
     0xC2,
     0xC00000A0,
     4,
     0,
     {0x3B, 0x01, 0xC2, 0xC0, 0x00, 0x00, 0xA0, 0x00, 0x04, 0x00}},
    {"memory_read",
     4,
     R,
     0xC0,
     0xC380002C,
     4,
     1,
     {0x3C, 0x01, 0xC0, 0xC3, 0x80, 0x00, 0x2C, 0x00, 0x04, 0x00}},
    {"register_range_end",
     2,
     R,
     0xDF,
     0x12345678,
     0x12345,
     0,
     {0x3C, 0x01, 0xDF, 0x12, 0x34, 0x56, 0x78, 0x23, 0x45, 0x00}},
    // Descriptor mode for buffer 0 and 0xE0 to 0xFF only.
    {"signature_data", 0, R, 0xE0, 4, 4, 0, {0x3C, 0x02, 0xE0, 0x00, 0x00, 0x04, 0x00, 0x00, 0x04, 0x00}},
    {"signature_descriptor",
     0,
     R,
     0xE0,
     4,
     4,
     1,
     {0x3C, 0x03, 0xE0, 0x00, 0x00, 0x04, 0x00, 0x00, 0x04, 0x00}},
    {"buffer0_descriptor", 2, R, 0x00, 0, 4, 1, {0x3C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00}},
    {"bufferFF_descriptor",
     2,
     R,
     0xFF,
     0x10,
     4,
     1,
     {0x3C, 0x03, 0xFF, 0x00, 0x00, 0x10, 0x00, 0x00, 0x04, 0x00}},
    {"partition_descriptor_flag_ignored",
     2,
     R,
     0x81,
     0x10,
     4,
     1,
     {0x3C, 0x02, 0x81, 0x00, 0x00, 0x10, 0x00, 0x00, 0x04, 0x00}},
    {"bufferBF_data",
     4,
     W,
     0xBF,
     0x20000,
     0x10000,
     0,
     {0x3B, 0x02, 0xBF, 0x02, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}},
    {"data_fields_cut_to_24_bits",
     2,
     W,
     0x80,
     0x1234567,
     0x1ABCDEF,
     0,
     {0x3B, 0x02, 0x80, 0x23, 0x45, 0x67, 0xAB, 0xCD, 0xEF, 0x00}},
    {"buffer_id_low_byte",
     2,
     R,
     0x1E6,
     0xFF01,
     4,
     1,
     {0x3C, 0x01, 0xE6, 0xFF, 0x01, 0x00, 0x04, 0x00, 0x00, 0x00}},
    // An expander of type 1 takes the data mode with 24-bit fields for every buffer.
    {"type1_register",
     1,
     R,
     0xC2,
     0x12345678,
     8,
     0,
     {0x3C, 0x02, 0xC2, 0x34, 0x56, 0x78, 0x00, 0x00, 0x08, 0x00}},
    {"type1_page", 1, R, 0xE6, 0xFF10, 4, 1, {0x3C, 0x02, 0xE6, 0x00, 0xFF, 0x10, 0x00, 0x00, 0x04, 0x00}},
    {"type1_reset", 1, W, 0xE9, 0, 3, 0, {0x3B, 0x02, 0xE9, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00}},
    {"type1_descriptor", 1, R, 0xE0, 4, 4, 1, {0x3C, 0x02, 0xE0, 0x00, 0x00, 0x04, 0x00, 0x00, 0x04, 0x00}},
};

INSTANTIATE_TEST_SUITE_P(AllEncodings, PrepareCdb, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<CdbCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(InquiryCdb, ReadsTheVpdPageWithAllocationLength255) {
    std::array<uint8_t, 6> cdb{};
    prepareInquiryCdb(cdb.data(), VPD_DEVICE_IDENTIFICATION);
    EXPECT_EQ(Bytes(cdb.begin(), cdb.end()), (Bytes{0x12, 0x01, 0x83, 0x00, 0xFF, 0x00}));
    prepareInquiryCdb(cdb.data(), VPD_MANAGEMENT_NETWORK_ADDRESSES);
    EXPECT_EQ(Bytes(cdb.begin(), cdb.end()), (Bytes{0x12, 0x01, 0x85, 0x00, 0xFF, 0x00}));
}

} // namespace
