// The SEEPROM boot-record programmer over the fake interface against the simulator's I2C controller and
// SEEPROM (family Palx): the slot chosen, what the SEEPROM holds afterwards, what an upload hands out, the
// register protocol of a transfer and the faults of the bus.
#include "hal/iic.h"
#include "osal/osalTime.h"
#include "tests/hal/halFixture.h"

#include <gmock/gmock.h>

#include <numeric>
#include <unistd.h>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kI2c = 0x40300000;

class Seeprom : public HalTest {
  protected:
    void SetUp() override {
        HalTest::SetUp();
        use(kPalx);
        // The model's time moves with the sleeps; nothing waits.
        osal_setSleepFunction([](uint32_t ms) {
            sSleeps.push_back(ms);
            gModel.expander->elapse(uint64_t{ms} * 1000);
        });
        for (uint32_t i = 0; i < zsim::Seeprom::kSize; ++i)
            rom()[i] = stored(i);
        setTable({0x81, 0xA1, 0xC1, 0xE1});
        slot(0);
    }
    static uint8_t stored(uint32_t i) { return static_cast<uint8_t>(i * 5 + 1); }
    std::vector<uint8_t>& rom() { return gModel.expander->seeprom().bytes(); }
    void setTable(const Bytes& t) { std::copy(t.begin(), t.end(), rom().begin()); }
    void slot(uint32_t istwi) {
        gModel.expander->space().findRegister(zsim::kBootSlotRegister)->value = istwi << 2;
    }
    void fault(zsim::I2cFaultKind kind, uint32_t skip = 0, uint32_t count = 0) {
        zsim::I2cFault f;
        f.kind = kind;
        f.skip = skip;
        f.count = count;
        gModel.expander->i2c().addFault(f);
    }
    Bytes record(uint32_t at) const {
        const auto& b = gModel.expander->seeprom().bytes();
        return Bytes(b.begin() + at, b.begin() + at + 8192);
    }
    Bytes upload(ZELKOR_STATUS* status) {
        Bytes out(8192, 0);
        *status = uploadSeepromToBinary(&handle_, 0x40300000, 0, 220, nullptr, out.data());
        return out;
    }
    ZELKOR_STATUS download(const Bytes& file) {
        FILE* f = std::tmpfile();
        if (!file.empty())
            std::fwrite(file.data(), 1, file.size(), f);
        const ZELKOR_STATUS s = downloadBinaryToSeeprom(&handle_, 0x40300000, 0, 220, f);
        std::fclose(f);
        return s;
    }
    static uint8_t sum(const Bytes& b) { return std::accumulate(b.begin(), b.end(), uint8_t{0}); }
    size_t resets() const {
        size_t n = 0;
        for (const Access& a : accesses())
            if (a == Access{'W', kI2c + 0x24, 1})
                ++n;
        return n;
    }
};

struct SlotCase {
    const char* name;
    Bytes table;
    uint32_t istwi;
    ZELKOR_STATUS status;
    uint32_t offset; // of the record handed out
    Bytes tableAfter;
};

class SeepromSlot : public Seeprom, public testing::WithParamInterface<SlotCase> {};

TEST_P(SeepromSlot, UploadHandsOutTheRecordOfTheBootSlot) {
    const SlotCase& c = GetParam();
    setTable(c.table);
    slot(c.istwi);
    ZELKOR_STATUS status = 0;
    const Bytes got = upload(&status);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(Bytes(rom().begin(), rom().begin() + 4), c.tableAfter);
    if (c.status != 0)
        return;
    Bytes want = record(c.offset);
    want[8191] = 0;
    want[8191] = static_cast<uint8_t>(-sum(want));
    EXPECT_EQ(got, want);
    EXPECT_EQ(sum(got), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, SeepromSlot,
    testing::Values(
        SlotCase{"Slot0", {0x81, 0xA1, 0xC1, 0xE1}, 0, 0, 64, {0x81, 0xA1, 0xC1, 0xE1}},
        SlotCase{"Slot2", {0x81, 0xA1, 0xC1, 0xE1}, 2, 0, 4160, {0x81, 0xA1, 0xC1, 0xE1}},
        SlotCase{"Slot3", {0x81, 0xA1, 0xC1, 0xE1}, 3, 0, 6208, {0x81, 0xA1, 0xC1, 0xE1}},
        SlotCase{"OwnTable", {0x90, 0x02, 0x03, 0x04}, 1, 0, 128, {0x90, 0x02, 0x03, 0x04}},
        SlotCase{"ZeroEntryGetsDefaults", {0x81, 0x00, 0xC1, 0xE1}, 1, 0, 2112, {0x81, 0xA1, 0xC1, 0xE1}},
        SlotCase{"EntryAtOffsetZero", {0x80, 0xA1, 0xC1, 0xE1}, 0, 1, 0, {0x80, 0xA1, 0xC1, 0xE1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Seeprom, AnUnreadableSlotWordFailsBothWithoutAnI2cAccess) {
    gModel.failures = {{"upload", zsim::kBootSlotRegister, 25}};
    ZELKOR_STATUS status = 0;
    upload(&status);
    EXPECT_EQ(status, 25u);
    EXPECT_EQ(download(Bytes(100, 1)), 25u);
    for (const InterfaceCall& c : gModel.calls)
        EXPECT_EQ(c.region.base + c.offset, zsim::kBootSlotRegister);
    EXPECT_EQ(gModel.calls.size(), 2u);
}

struct ImageCase {
    const char* name;
    uint32_t size;
    uint32_t imageBytes; // bytes of the record that come from the file
    int sleeps;          // one second each: chunks written and controller resets
};

class SeepromImage : public Seeprom, public testing::WithParamInterface<ImageCase> {};

TEST_P(SeepromImage, TheSlotHoldsTheImageOverTheOldRecordWithATrueChecksum) {
    const ImageCase& c = GetParam();
    Bytes file(c.size);
    for (uint32_t i = 0; i < c.size; ++i)
        file[i] = static_cast<uint8_t>(i * 3 + 7);
    const Bytes before = record(64);
    ASSERT_EQ(download(file), 0u);
    const Bytes after = record(64);
    for (uint32_t i = 0; i < 8191; ++i)
        ASSERT_EQ(after[i], i < c.imageBytes ? file[i] : before[i]) << i;
    EXPECT_EQ(sum(after), 0);
    EXPECT_EQ(gWorkingImageSize, c.imageBytes);
    EXPECT_EQ(static_cast<int>(sSleeps.size()), c.sleeps);
    EXPECT_TRUE(std::all_of(sSleeps.begin(), sSleeps.end(), [](uint32_t ms) { return ms == 1000; }));
    // Nothing outside the slot changed.
    for (uint32_t i = 4; i < 64; ++i)
        ASSERT_EQ(rom()[i], stored(i));
    for (uint32_t i = 64 + 8192; i < rom().size(); ++i)
        ASSERT_EQ(rom()[i], stored(i));
}

INSTANTIATE_TEST_SUITE_P(Files, SeepromImage,
                         testing::Values(ImageCase{"Longer", 9000, 8192, 1 + 256},
                                         ImageCase{"Whole", 8192, 8192, 1 + 256},
                                         // Four chunks of the image (the last of 4 bytes) and the last chunk.
                                         ImageCase{"Short", 100, 100, 1 + 5}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Seeprom, AnEmptyImageFailsAtOnce) {
    EXPECT_EQ(download({}), 1u);
    EXPECT_TRUE(gModel.calls.empty());
}

// The registers of one chunk of 32 bytes: counts (34 to send), the write address, the start, the offset high
// byte first, the done bits, the acknowledgement and the busy bit.
TEST_F(Seeprom, RegistersOfOneChunk) {
    ZELKOR_STATUS status = 0;
    upload(&status); // binds the programmer to the handle
    ASSERT_EQ(status, 0u);
    gModel.calls.clear();
    Bytes chunk(32);
    std::iota(chunk.begin(), chunk.end(), uint8_t{0x40});
    ASSERT_EQ(i2cSendNBytes(chunk.data(), 32, 0x1040, 1), 0u);
    std::vector<Access> want{{'W', kI2c + 0x30, 34},
                             {'W', kI2c + 0x2C, 0},
                             {'W', kI2c + 0x34, 0xA0},
                             {'W', kI2c + 0x28, 1},
                             {'W', kI2c + 0x28, 9}};
    uint32_t sent = 0;
    const Bytes bytes = [&] {
        Bytes b{0x10, 0x40};
        b.insert(b.end(), chunk.begin(), chunk.end());
        return b;
    }();
    while (sent < bytes.size()) {
        want.push_back({'R', kI2c + 0x40, 0});
        for (int i = 0; i < 8 && sent < bytes.size(); ++i)
            want.push_back({'W', kI2c + 0x3C, bytes[sent++]});
    }
    want.push_back({'R', kI2c + 0x4C, 0});
    want.push_back({'W', kI2c + 0x04, 1});
    want.push_back({'R', kI2c + 0x28, 0});
    EXPECT_EQ(accesses(), want);
    EXPECT_EQ(sSleeps.back(), 1000u);
    for (uint32_t i = 0; i < 32; ++i)
        EXPECT_EQ(rom()[0x1040 + i], chunk[i]);
}

// A read chunk that failed is read again from its own offset, not from where the SEEPROM's counter stopped.
TEST_F(Seeprom, ARetriedChunkSetsThePointerAgain) {
    fault(zsim::I2cFaultKind::LevelOver, 1, 1); // the first record chunk's level reads 12
    ZELKOR_STATUS status = 0;
    const Bytes got = upload(&status);
    ASSERT_EQ(status, 0u);
    Bytes want = record(64);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 8191, want.begin()));
}

struct BusFaultCase {
    const char* name;
    zsim::I2cFaultKind kind;
    bool write;
    size_t resets; // soft resets the programmer asked for
};

class SeepromBusFault : public Seeprom, public testing::WithParamInterface<BusFaultCase> {};

TEST_P(SeepromBusFault, FailsAfterFiveTries) {
    const BusFaultCase& c = GetParam();
    if (c.kind == zsim::I2cFaultKind::FlipByte) {
        zsim::I2cFault f;
        f.kind = c.kind;
        f.offset = 64 + 10;
        f.value = 0x10;
        gModel.expander->i2c().addFault(f);
    } else {
        fault(c.kind);
    }
    const Bytes before(rom().begin(), rom().end());
    ZELKOR_STATUS status = 0;
    if (c.write)
        status = download(Bytes(100, 0x5A));
    else
        upload(&status);
    EXPECT_EQ(status, 1u);
    EXPECT_EQ(resets(), c.resets);
    if (c.kind != zsim::I2cFaultKind::FlipByte) {
        EXPECT_EQ(Bytes(rom().begin(), rom().end()), before);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, SeepromBusFault,
                         testing::Values(
                             // The table read fails five times, with a reset before and after each.
                             BusFaultCase{"NackOnUpload", zsim::I2cFaultKind::Nack, false, 1 + 1 + 5},
                             BusFaultCase{"NackOnDownload", zsim::I2cFaultKind::Nack, true, 1 + 5},
                             BusFaultCase{"LevelOver", zsim::I2cFaultKind::LevelOver, false, 1 + 1 + 5},
                             // Accepted writes that change nothing: the read-back tells.
                             BusFaultCase{"WriteProtect", zsim::I2cFaultKind::WriteProtect, true, 1},
                             // A byte that reads wrong: the read-back differs.
                             BusFaultCase{"FlippedByte", zsim::I2cFaultKind::FlipByte, true, 1},
                             BusFaultCase{"ResetStuck", zsim::I2cFaultKind::ResetStuck, true, 1},
                             BusFaultCase{"BusyStuck", zsim::I2cFaultKind::BusyStuck, false, 1 + 1 + 5}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Seeprom, ChecksumRuleForLongerImages) {
    Bytes image(9000, 1);
    EXPECT_EQ(calculateCheckSums(image.data(), 9000), 8999u);
    EXPECT_EQ(sum(Bytes(image.begin(), image.begin() + 8192)), 0);
    EXPECT_EQ(image[8998], 0);
    EXPECT_EQ(sum(Bytes(image.begin() + 8192, image.end())), 0);
    Bytes exact(8194, 2);
    EXPECT_EQ(calculateCheckSums(exact.data(), 8192), 8193u);
    EXPECT_EQ(exact[8192], 0);
    EXPECT_EQ(exact[8193], 0);
    EXPECT_EQ(sum(Bytes(exact.begin(), exact.begin() + 8192)), 0);
}

} // namespace

namespace {

// A FIFO read that failed is no byte of the record: the chunk is read again from its own offset.
TEST_F(Seeprom, AFailedFifoReadIsNoData) {
    gModel.failures = {{"upload", kI2c + 0x3C, 25, std::nullopt, 6, 1}}; // a byte of the first record chunk
    ZELKOR_STATUS status = 0;
    const Bytes got = upload(&status);
    ASSERT_EQ(status, 0u);
    const Bytes want = record(64);
    EXPECT_TRUE(std::equal(got.begin(), got.begin() + 8191, want.begin()));
}

// The slot word read again for the slot itself: unreadable there, no slot is guessed.
TEST_F(Seeprom, ASlotWordUnreadableAtTheSlotLookupFails) {
    gModel.failures = {{"upload", zsim::kBootSlotRegister, 25, std::nullopt, 1, 1}};
    const Bytes before = record(64);
    EXPECT_EQ(download(Bytes(100, 0x5A)), 1u);
    EXPECT_EQ(record(64), before);
}

TEST_F(Seeprom, UnmeasurableImagesAndUnwritableFilesFail) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "abcd", 4), 4);
    ::close(fds[1]);
    FILE* piped = fdopen(fds[0], "rb");
    EXPECT_EQ(downloadBinaryToSeeprom(&handle_, 0x40300000, 0, 220, piped), 1u);
    std::fclose(piped);
    EXPECT_TRUE(gModel.calls.empty());

    FILE* readOnly = std::fopen("/dev/null", "rb");
    ASSERT_NE(readOnly, nullptr);
    EXPECT_EQ(uploadSeepromToBinary(&handle_, 0x40300000, 0, 220, readOnly, nullptr), 1u);
    std::fclose(readOnly);
}

} // namespace
