// The NOR parts behind the flash window and the I2C controller with its SEEPROM, driven through the
// expander's address space the way a host's memory accesses reach them.
#include "model/Expander.h"
#include "scenario/Scenario.h"

#include <gtest/gtest.h>

namespace zsim {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kWindow = 0x14000000; // Ostrel's flash window

std::unique_ptr<Enclosure> load(const std::string& keys) {
    return parseScenario("device sg0 ostrel\n firmware blank\n" + keys);
}

struct Bus {
    Expander& e;
    void w(uint32_t offset, uint8_t value) { e.writeMemory(kWindow + offset, Bytes{value}); }
    void w16(uint32_t offset, uint16_t value) {
        e.writeMemory(kWindow + offset, Bytes{static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)});
    }
    uint8_t r(uint32_t offset) {
        Bytes out;
        e.readMemory(kWindow + offset, 1, out);
        return out[0];
    }
    std::string mode() const { return e.norBank().chips().at(0)->modeName(); }
};

struct QueryCase {
    const char* part;
    uint32_t queryAt; // window offset of the 0x98 write
    uint32_t stride;  // window bytes between query indexes
    uint16_t commandSet;
    uint8_t sizeLog2;
    uint32_t busWord;
};

class NorQuery : public testing::TestWithParam<QueryCase> {};

TEST_P(NorQuery, AnswersQryCommandSetAndGeometryThenReadsTheArrayAgain) {
    const QueryCase& c = GetParam();
    auto enclosure = load(std::string("flash-part ") + c.part + "\n flash 0x20 5A5A5A5A\n");
    Expander& e = *enclosure->devices[0]->expander;
    Bus bus{e};
    EXPECT_EQ(e.space().readWord(kFlashBusRegister), c.busWord);
    bus.w(c.queryAt, 0x98);
    EXPECT_EQ(bus.mode(), "query");
    EXPECT_EQ(bus.r(0x10 * c.stride), 'Q');
    EXPECT_EQ(bus.r(0x11 * c.stride), 'R');
    EXPECT_EQ(bus.r(0x12 * c.stride), 'Y');
    EXPECT_EQ(bus.r(0x13 * c.stride) | (bus.r(0x14 * c.stride) << 8), c.commandSet);
    EXPECT_EQ(bus.r(0x27 * c.stride), c.sizeLog2);
    EXPECT_EQ(bus.r(0x2C * c.stride), 1);
    EXPECT_EQ(bus.r(0x2D * c.stride), 0x0F); // 16 blocks
    EXPECT_EQ(bus.r(0x30 * c.stride), 0x01); // of 0x100 x 256 bytes
    bus.w(0, 0xF0 | (c.commandSet % 2 == 1 ? 0x0F : 0));
    EXPECT_EQ(bus.mode(), "read-array");
    EXPECT_EQ(bus.r(0x20), 0x5A);
}

INSTANTIATE_TEST_SUITE_P(Parts, NorQuery,
                         testing::Values(QueryCase{"amd-x16-word", 0xAA, 2, 2, 20, kFlashBus16},
                                         QueryCase{"amd-x16-byte", 0xAA, 2, 2, 20, 0},
                                         QueryCase{"amd-x8", 0x55, 1, 2, 20, 0},
                                         QueryCase{"intel-0001-x16", 0x1234, 2, 1, 20, kFlashBus16},
                                         QueryCase{"intel-0003-byte", 0, 2, 3, 20, 0}),
                         [](const auto& info) {
                             std::string name = info.param.part;
                             for (char& ch : name)
                                 if (ch == '-')
                                     ch = '_';
                             return name;
                         });

TEST(NorAmd, UnlockDecodesA10ToA0OnlyAndBadSequencesReturnToTheArray) {
    // An x16 part in byte mode takes the unlock at 0xAAA/0x555, also with higher address bits set.
    auto enclosure = load("flash-part amd-x16-byte\n flash 0x10000 FF0F\n");
    Bus bus{*enclosure->devices[0]->expander};
    bus.w(0x10AAA, 0xAA);
    bus.w(0x10555, 0x55);
    bus.w(0x10AAA, 0xA0);
    bus.w(0x10000, 0x3C);
    for (int i = 0; i < 4; ++i)
        bus.r(0x10000);
    EXPECT_EQ(bus.r(0x10000), 0x3C);
    // A program only clears bits.
    bus.w(0xAAA, 0xAA);
    bus.w(0x555, 0x55);
    bus.w(0xAAA, 0xA0);
    bus.w(0x10001, 0xF1);
    for (int i = 0; i < 4; ++i)
        bus.r(0x10001);
    EXPECT_EQ(bus.r(0x10001), 0x01);
    // A wrong second cycle leaves the part reading the array.
    bus.w(0xAAA, 0xAA);
    bus.w(0x557, 0x55);
    EXPECT_EQ(bus.mode(), "read-array");
    bus.w(0xAAA, 0xA0);
    bus.w(0x10000, 0x00);
    EXPECT_EQ(bus.r(0x10000), 0x3C);

    // An x8-only part wants 0x555/0x2AA: the 16-bit style 0xAAA misses its unlock.
    auto x8 = load("flash-part amd-x8\n");
    Bus b8{*x8->devices[0]->expander};
    b8.w(0xAAA, 0xAA);
    b8.w(0x555, 0x55);
    b8.w(0xAAA, 0x90);
    EXPECT_EQ(b8.mode(), "read-array");
    b8.w(0x555, 0xAA);
    b8.w(0x2AA, 0x55);
    b8.w(0x555, 0x90);
    EXPECT_EQ(b8.mode(), "autoselect");
    EXPECT_EQ(b8.r(0), 0x01);
}

TEST(NorAmd, WordModeTakesWordCyclesAndLoneBytesOnBothLanes) {
    auto enclosure = load("flash-part amd-x16-word\n");
    Bus bus{*enclosure->devices[0]->expander};
    bus.w(0xAAA, 0xAA); // word 0x555, 0xAAAA
    bus.w(0x555, 0x55); // word 0x2AA, 0x5555
    bus.w(0xAAA, 0xA0);
    bus.w16(0x200, 0x1234);
    for (int i = 0; i < 4; ++i)
        bus.r(0x200);
    EXPECT_EQ(bus.r(0x200), 0x34);
    EXPECT_EQ(bus.r(0x201), 0x12);
    // A byte program is a word with the byte on both lanes.
    bus.w(0xAAA, 0xAA);
    bus.w(0x555, 0x55);
    bus.w(0xAAA, 0xA0);
    bus.w(0x303, 0x7E);
    for (int i = 0; i < 4; ++i)
        bus.r(0x302);
    EXPECT_EQ(bus.r(0x302), 0x7E);
    EXPECT_EQ(bus.r(0x303), 0x7E);
    // The autoselect codes sit at words 0 and 1.
    bus.w(0xAAA, 0xAA);
    bus.w(0x555, 0x55);
    bus.w(0xAAA, 0x90);
    EXPECT_EQ(bus.r(0), 0x01);
    EXPECT_EQ(bus.r(2), 0x7E);
}

TEST(NorAmd, StatusTogglesOncePerAccessAndATimeoutHoldsUntilReset) {
    auto enclosure = load("flash-part amd-x16-byte\n flash-fault busy 3\n");
    Expander& e = *enclosure->devices[0]->expander;
    Bus bus{e};
    bus.w(0xAAA, 0xAA);
    bus.w(0x555, 0x55);
    bus.w(0xAAA, 0x80);
    bus.w(0xAAA, 0xAA);
    bus.w(0x555, 0x55);
    bus.w(0x20000, 0x30);
    Bytes four;
    e.readMemory(kWindow + 0x20000, 4, four); // one access: one toggle
    EXPECT_EQ(four[0], four[3]);
    const uint8_t second = bus.r(0x20000);
    EXPECT_NE(four[0] & 0x40, second & 0x40);
    bus.r(0x20000);
    EXPECT_EQ(bus.r(0x20000), 0xFF); // erased, back to the array
    EXPECT_EQ(bus.mode(), "read-array");

    auto timeout = load("flash-part amd-x16-byte\n flash-fault dq5-timeout\n");
    Bus t{*timeout->devices[0]->expander};
    t.w(0xAAA, 0xAA);
    t.w(0x555, 0x55);
    t.w(0xAAA, 0xA0);
    t.w(0x100, 0x00);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(t.r(0x100) & 0x20, 0x20);
    EXPECT_EQ(t.mode(), "status");
    t.w(0, 0xF0);
    EXPECT_EQ(t.mode(), "read-array");
}

TEST(NorAmd, ProtectedSectorIgnoresProgramAndEraseAndStuckBitsStaySet) {
    auto enclosure = load("flash-part amd-x16-byte\n flash-fault protected 0x10000\n"
                          " flash-fault stuck-bit 0x20005 0x81\n flash 0x10000 00\n");
    Bus bus{*enclosure->devices[0]->expander};
    for (uint32_t sector : {0x10000u, 0x20000u}) {
        bus.w(0xAAA, 0xAA);
        bus.w(0x555, 0x55);
        bus.w(0xAAA, 0x80);
        bus.w(0xAAA, 0xAA);
        bus.w(0x555, 0x55);
        bus.w(sector, 0x30);
        for (int i = 0; i < 4; ++i)
            bus.r(sector);
    }
    EXPECT_EQ(bus.r(0x10000), 0x00);
    bus.w(0xAAA, 0xAA);
    bus.w(0x555, 0x55);
    bus.w(0xAAA, 0xA0);
    bus.w(0x20005, 0x00);
    for (int i = 0; i < 4; ++i)
        bus.r(0x20005);
    EXPECT_EQ(bus.r(0x20005), 0x81);
}

TEST(NorIntel, StatusRegisterReportsLockedBlocksAndSequenceErrors) {
    auto enclosure = load("flash-part intel-0003-byte\n flash-fault locked 0x30000\n");
    Bus bus{*enclosure->devices[0]->expander};
    struct Case {
        uint32_t at;
        uint8_t setup, confirm, status;
    };
    for (const Case& c : {Case{0x20000, 0x20, 0xD0, 0x80}, Case{0x30000, 0x20, 0xD0, 0xA2},
                          Case{0x30001, 0x40, 0x00, 0x92}, Case{0x20000, 0x20, 0xFF, 0xB0}}) {
        bus.w(0, 0x50);
        bus.w(c.at, c.setup);
        bus.w(c.at, c.confirm);
        bus.w(0, 0x70);
        uint8_t status = 0;
        for (int i = 0; i < 5; ++i)
            status = bus.r(c.at);
        EXPECT_EQ(status, c.status) << std::hex << c.at;
        bus.w(0, 0xFF);
    }
}

TEST(NorBank, TwoPartsEachAnswerAtTheirOffsetAndPastThemReadsFF) {
    auto enclosure =
        load("flash-part amd-x16-byte\n flash-part intel-0003-byte at 0x100000\n flash 0x200000 00\n");
    Expander& e = *enclosure->devices[0]->expander;
    Bus bus{e};
    bus.w(0x100000, 0x90);
    EXPECT_EQ(e.norBank().chips()[1]->modeName(), "autoselect");
    EXPECT_EQ(bus.r(0x100000), 0x89);
    EXPECT_EQ(bus.mode(), "read-array");
    EXPECT_EQ(bus.r(0x200000), 0xFF); // beyond both parts
    // A data-buffer read of the flash sees the part in its mode.
    Bytes out;
    ASSERT_EQ(e.readBuffer(0x00, 0x100000, 2, out), Outcome::Ok);
    EXPECT_EQ(out, (Bytes{0x89, 0x00}));
    const std::string state = describeState(*enclosure);
    EXPECT_NE(state.find("nor 0x00100000 intel-0003-byte autoselect\n"), std::string::npos) << state;
}

TEST(NorScenario, RefusesUnknownPartsAndPartsPastTheFlash) {
    EXPECT_THROW(load("flash-part no-such-part\n"), ScenarioError);
    EXPECT_THROW(load("flash-part amd-x16-byte at 0x3FF0000\n"), ScenarioError);
    EXPECT_THROW(load("flash-fault melt\n"), ScenarioError);
}

// ---- I2C controller and SEEPROM ----

constexpr uint32_t kI2c = kI2cControllerBase;

struct I2c {
    Expander& e;
    void w(uint32_t reg, uint32_t value) { e.space().writeWord(kI2c + reg, value); }
    uint32_t r(uint32_t reg) { return e.space().readWord(kI2c + reg); }
    void start(uint32_t tx, uint32_t rx, uint32_t address) {
        w(0x30, tx);
        w(0x2C, rx);
        w(0x34, address);
        w(0x28, 1);
        w(0x28, 9);
    }
    void end() {
        EXPECT_NE(r(0x4C) & 0xC00, 0u);
        w(0x04, 1);
        EXPECT_EQ(r(0x28) & 8, 0u);
    }
};

TEST(I2cSeeprom, PageWriteThenSequentialReadAndNackDuringTheWriteCycle) {
    auto enclosure = parseScenario("device sg0 palx\n seeprom 0x40 0102\n");
    Expander& e = *enclosure->devices[0]->expander;
    I2c bus{e};
    // Offset 0x005E, then four bytes: the page of 32 bytes wraps after 0x5F.
    bus.start(6, 0, 0xA0);
    for (uint8_t b : {0x00, 0x5E, 0xA1, 0xA2, 0xA3, 0xA4})
        bus.w(0x3C, b);
    EXPECT_EQ(bus.r(0x4C) & 0xC00, 0x400u);
    bus.end();
    EXPECT_EQ(e.seeprom().bytes()[0x5E], 0xA1);
    EXPECT_EQ(e.seeprom().bytes()[0x5F], 0xA2);
    EXPECT_EQ(e.seeprom().bytes()[0x40], 0xA3); // wrapped to the page start
    // Within the 5 ms write cycle the part does not answer.
    bus.start(2, 0, 0xA0);
    EXPECT_EQ(bus.r(0x4C) & 0xC00, 0x800u);
    bus.end();
    e.elapse(5000);
    bus.start(2, 0, 0xA0);
    bus.w(0x3C, 0x00);
    bus.w(0x3C, 0x40);
    bus.end();
    bus.start(0, 10, 0xA1);
    EXPECT_EQ(bus.r(0x44), 8u); // the FIFO holds eight
    Bytes got;
    for (int i = 0; i < 10; ++i) {
        if (i == 8) {
            EXPECT_EQ(bus.r(0x44), 2u);
        }
        got.push_back(static_cast<uint8_t>(bus.r(0x3C)));
    }
    bus.end();
    EXPECT_EQ(got, (Bytes{0xA3, 0xA4, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(I2cSeeprom, SoftResetEndsWithModelTimeUnlessStuck) {
    for (const bool stuck : {false, true}) {
        auto enclosure =
            parseScenario(std::string("device sg0 palx\n") + (stuck ? " i2c-fault reset-stuck\n" : ""));
        Expander& e = *enclosure->devices[0]->expander;
        I2c bus{e};
        bus.w(0x24, 1);
        EXPECT_EQ(bus.r(0x24) & 1, 1u);
        e.elapse(1000000);
        EXPECT_EQ(bus.r(0x24) & 1, stuck ? 1u : 0u);
    }
}

} // namespace
} // namespace zsim
