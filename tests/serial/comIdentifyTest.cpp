// The family Ostrel identification both serial modules share, driven through an in-memory register map:
// the order and values of the revision probe's accesses, failing accesses at each step, the board
// reader's verdict, and the revision code the debug-port module's register operation carries.
#include "ial/comInstance.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr uint32_t kSignature = 0xC000002C;
constexpr uint32_t kMiscConfig = 0xC00000A0;

// Registers with the bits that stick on a write; one access (by its ordinal) can be made to fail.
struct RegisterMap {
    std::map<uint32_t, uint32_t> values;
    std::map<uint32_t, uint32_t> writable;
    int failAt = -1;
    std::vector<std::string> trace;

    int32_t access(uint32_t operation, uint32_t address, uint32_t data, uint32_t* value) {
        const int ordinal = static_cast<int>(trace.size());
        char line[48];
        const bool write = (operation & kRegisterWrite) != 0;
        std::snprintf(line, sizeof line, write ? "w %08x %08x" : "r %08x", address, data);
        trace.emplace_back(line);
        if (ordinal == failAt)
            return -1;
        if (write) {
            const uint32_t mask = writable.count(address) != 0 ? writable[address] : 0xFFFFFFFF;
            values[address] = (values[address] & ~mask) | (data & mask);
        } else {
            *value = values[address];
        }
        return 0;
    }
};

struct ProbeCase {
    const char* name;
    uint32_t signature;
    uint32_t miscValue;    // value of the miscellaneous configuration before the probe
    uint32_t miscWritable; // its bits that stick
    int failAt;            // ordinal of the failing access, -1 for none
    ZELKOR_STATUS boardStatus;
    uint32_t board;
    ZELKOR_STATUS status;
    const char* model;
    const char* revision;
    uint8_t revisionCode;
    uint8_t revisionIndex;
    uint32_t type;
    std::vector<std::string> trace;
    const char* errorLine; // the ERROR line logged, or none
};

class OstrelIdentification : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(OstrelIdentification, AccessesAndRecord) {
    const ProbeCase& c = GetParam();
    RegisterMap map;
    map.values[kSignature] = c.signature;
    map.values[kMiscConfig] = c.miscValue;
    map.writable[kMiscConfig] = c.miscWritable;
    map.failAt = c.failAt;
    std::vector<std::pair<uint32_t, std::string>> lines;
    int boardReads = 0;
    const ComOstrelProbe probe{
        [&map](uint32_t op, uint32_t address, uint32_t data, uint32_t* value) {
            return map.access(op, address, data, value);
        },
        [&](uint32_t* board) {
            ++boardReads;
            *board = c.board;
            return c.boardStatus;
        },
        [&lines](uint32_t level, const char* text) { lines.emplace_back(level, text); },
        "Probing the revision"};
    ZELKOR_EXPANDER record{};
    EXPECT_EQ(comIdentifyOstrel(probe, record), c.status);
    EXPECT_EQ(map.trace, c.trace);
    EXPECT_STREQ(record.name, c.model);
    EXPECT_STREQ(record.revision, c.revision);
    EXPECT_EQ(record.revisionCode, c.revisionCode);
    EXPECT_EQ(record.revisionIndex, c.revisionIndex);
    EXPECT_EQ(record.type, c.type);
    EXPECT_EQ(boardReads, (c.signature >> 16) == 0x223 && c.failAt < 0 ? 1 : 0);
    std::vector<std::string> errors;
    for (const auto& [level, text] : lines)
        if (level == ZELKOR_LOG_ERROR)
            errors.push_back(text);
    EXPECT_EQ(errors, c.errorLine == nullptr ? std::vector<std::string>{} : std::vector<std::string>{c.errorLine});
}

const std::string kReadSignature = "r c000002c";
const std::string kReadMisc = "r c00000a0";

INSTANTIATE_TEST_SUITE_P(
    Table, OstrelIdentification,
    ::testing::Values(
        ProbeCase{"a1", 0x02210100, 0, 0, -1, 0, 0, 0, "Tolvane28", "A1", 1, 1, ZELKOR_CHIP_OSTREL,
                  {kReadSignature}, nullptr},
        // Bit 7 sticks: one write of the first value with bit 7.
        ProbeCase{"b0b1", 0x02240200, 0x11, 0xFFFFFFFF, -1, 0, 0, 0, "Tolvane12", "B0/B1", 2, 2, ZELKOR_CHIP_OSTREL,
                  {kReadSignature, kReadMisc, "w c00000a0 00000091", kReadMisc}, nullptr},
        // Only bit 6 sticks: the second write is the first value with bit 6, not the value read back.
        ProbeCase{"b2", 0x02250200, 0x11, 0xFFFFFF7F, -1, 0, 0, 0, "Tolvane16", "B2", 4, 3, ZELKOR_CHIP_OSTREL,
                  {kReadSignature, kReadMisc, "w c00000a0 00000091", kReadMisc, "w c00000a0 00000051", kReadMisc},
                  nullptr},
        ProbeCase{"b3", 0x02260200, 0x11, 0xFFFFFF3F, -1, 0, 0, 0, "Tolvane20", "B3", 5, 4, ZELKOR_CHIP_OSTREL,
                  {kReadSignature, kReadMisc, "w c00000a0 00000091", kReadMisc, "w c00000a0 00000051", kReadMisc},
                  nullptr},
        ProbeCase{"unknownRevision", 0x02270900, 0, 0, -1, 0, 0, 0, "Tolvane20A", "Unknown Revision", 9, 0,
                  ZELKOR_CHIP_OSTREL, {kReadSignature}, nullptr},
        ProbeCase{"unknownProduct", 0x02990000, 0, 0, -1, 0, 0, 19, "Unknown Expander", "A0", 0, 0,
                  ZELKOR_CHIP_OSTREL, {kReadSignature}, nullptr},
        ProbeCase{"switchBoard", 0x02230100, 0, 0, -1, 0, 200, 0, "Brisko16", "A1", 1, 1, ZELKOR_CHIP_OSTREL_SWITCH,
                  {kReadSignature}, nullptr},
        ProbeCase{"otherBoard", 0x02230100, 0, 0, -1, 0, 200 << 8, 0, "Tolvane36", "A1", 1, 1, ZELKOR_CHIP_OSTREL,
                  {kReadSignature}, nullptr},
        // The board reader's failure is the result and no model is named.
        ProbeCase{"boardUnreadable", 0x02230100, 0, 0, -1, 25, 200, 25, "", "A1", 1, 1, ZELKOR_CHIP_OSTREL,
                  {kReadSignature}, nullptr},
        ProbeCase{"signatureFails", 0x02200000, 0, 0, 0, 0, 0, 1, "", "", 0, 0, 0, {kReadSignature},
                  "Reading Device Signature **** FAILED ****"},
        // A failing access anywhere in the probe ends with 1 before any product is named.
        ProbeCase{"probeWriteFails", 0x02240200, 0x11, 0xFFFFFFFF, 2, 0, 0, 1, "", "", 2, 0, 0,
                  {kReadSignature, kReadMisc, "w c00000a0 00000091"}, "Probing the revision **** FAILED ****"},
        ProbeCase{"probeLastReadFails", 0x02240200, 0x11, 0xFFFFFF7F, 5, 0, 0, 1, "", "", 2, 0, 0,
                  {kReadSignature, kReadMisc, "w c00000a0 00000091", kReadMisc, "w c00000a0 00000051", kReadMisc},
                  "Probing the revision **** FAILED ****"}),
    [](const auto& info) { return std::string(info.param.name); });

// The debug-port module's register operation carries the revision code of the signature while it probes.
std::vector<std::pair<uint32_t, uint8_t>> gRevisions;
ZELKOR_STATUS recordingOperation(SERIAL_PORT_HANDLE*, uint32_t operation, uint32_t address, uint32_t data,
                                 void* value, uint8_t revision) {
    gRevisions.emplace_back(address, revision);
    if ((operation & kRegisterWrite) == 0)
        *static_cast<uint32_t*>(value) = address == kSignature ? 0x02240200 : (data | 0x80);
    return 0;
}

TEST(OstrelIdentificationOverDebugPort, ProbeCarriesTheSignaturesRevision) {
    gRevisions.clear();
    COM_INSTANCE instance{};
    instance.registerOp = recordingOperation;
    EXPECT_EQ(getOstrelIDAndRevision(&instance), 0u);
    EXPECT_STREQ(instance.expander.revision, "B0/B1");
    const std::vector<std::pair<uint32_t, uint8_t>> expected{
        {kSignature, 0}, {kMiscConfig, 2}, {kMiscConfig, 2}, {kMiscConfig, 2}};
    EXPECT_EQ(gRevisions, expected);
}

} // namespace
