// The flash and SEEPROM work a hardware module does itself when the fake interface answers a download or
// erase with 27, 28 or (Palx boot record) 35: what the simulator's NOR flash and SEEPROM hold afterwards, the
// erase spans of the bootstrap, the ARM running again on every way out, and the bytes an upload hands out.
#include "hal/flash.h"
#include "hal/zelkorHalCommon.h"
#include "model/I2cBus.h"
#include "osal/osalTime.h"
#include "tests/hal/halFixture.h"

#include <gmock/gmock.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

uint8_t pattern(uint32_t i) { return static_cast<uint8_t>((i * 7 + 3) % 251); }
uint8_t datum(uint32_t i) { return static_cast<uint8_t>((i * 13 + 5) % 241 + 1); }

class HalFlashRequest : public HalTest {
  protected:
    void openFamily(const FamilyCase& family, uint32_t interface = ZELKOR_INTERFACE_SAS) {
        use(family);
        handle_.interface = interface;
        gFlashInfo = FLASH_INFO{};
        if (&family != &kPalx) {
            zsim::FirmwareHeader header;
            header.signature = gModel.expander->traits().signature;
            gModel.expander->writeFirmwareHeader(header);
            gModel.expander->writeFlashTable(0x100, {{0, 0x100000, 0}, {5, 0x100000, 0x100000}});
        }
        ASSERT_EQ(open(), 0u);
        gModel.calls.clear();
        gModel.record = false;
        gFlashOpsFlag = 0;
        gFlashOpsFlagQuenza = 0;
    }
    ZELKOR_REGION row(uint32_t kind, uint32_t id) {
        for (ZELKOR_REGION_LIST* n = handle_.regions; n != nullptr; n = n->next)
            if (n->region.kind == kind && n->region.regionId == id)
                return n->region;
        ADD_FAILURE() << "no row of kind " << kind << " id " << id;
        return {};
    }
    // The flash from 1 MiB (past the header and table the module read) up to bytes filled with a pattern no
    // erase or data byte shares.
    void fill(uint32_t bytes) {
        Bytes image(bytes - kFillFrom);
        for (uint32_t i = kFillFrom; i < bytes; ++i)
            image[i - kFillFrom] = pattern(i);
        gModel.expander->flash().write(kFillFrom, image);
    }
    static constexpr uint32_t kFillFrom = 0x100000;
    uint8_t flashAt(uint32_t at) const { return gModel.expander->flash().get(at); }
    // The interface answers the first download (or erase) of the row with the request, then serves it.
    void request(const char* op, uint32_t id, ZELKOR_STATUS status, uint32_t count = 1) {
        gModel.failures.push_back({op, std::nullopt, status, id, 0, count});
    }
    ZELKOR_STATUS download(ZELKOR_REGION r, uint32_t offset, uint32_t length) {
        Bytes data(length);
        for (uint32_t i = 0; i < length; ++i)
            data[i] = datum(i);
        return op<HAL_TRANSFER_FUNCTION>("zelkor_hal_downloadRegion")(hi_, &r, offset, length, nullptr,
                                                                      data.data());
    }
    ZELKOR_STATUS erase(ZELKOR_REGION r) { return op<HAL_ERASE_FUNCTION>("zelkor_hal_eraseRegion")(hi_, &r); }
    uint32_t regionDownloads(uint32_t id) const {
        uint32_t n = 0;
        for (const InterfaceCall& c : gModel.calls)
            n += c.op == "download" && c.region.regionId == id;
        return n;
    }
    // The log lines so far; the log starts afresh.
    std::vector<std::string> takeLines() {
        std::vector<std::string> lines = log_->lines();
        log_ = std::make_unique<LogCapture>();
        return lines;
    }
    static bool endsAny(const std::vector<std::string>& lines, const std::string& text) {
        for (const std::string& l : lines)
            if (l.ends_with(" : " + text))
                return true;
        return false;
    }
    void expectArmRunning(uint32_t stops) const {
        EXPECT_EQ(gModel.expander->armStops(), stops);
        EXPECT_EQ(gModel.expander->armStarts(), stops) << "the ARM stopped here runs again";
    }
};

// The bootstrap erase (27) from the flash offset: whole 64 KiB blocks on Ostrel, the part's blocks over the
// target on Quenza, never past the target's end (partition 5: flash 0x100000 to 0x200000); then the
// interface writes again.
TEST_F(HalFlashRequest, BootstrapEraseSpans) {
    struct Case {
        const FamilyCase* family;
        uint32_t id;
        uint32_t offset;
        uint32_t length;
        uint32_t erasedFrom;
        uint32_t erasedTo;
    };
    const Case cases[] = {
        {&kOstrel, 0x85, 0, 0x18001, 0x100000, 0x120000},
        {&kOstrel, 0x85, 0, 0x20000, 0x100000, 0x120000},
        {&kOstrel, 0x85, 0x10, 0x10, 0x100010, 0x110010},
        {&kOstrel, 0x85, 0xF8000, 0x100, 0x1F8000, 0x200000}, // 64 KiB would pass the end
        {&kQuenza, 0x81, 0, 0x100, 0x100000, 0x200000},       // the target's size
        {&kQuenza, 0x81, 0x40000, 0x100, 0x140000, 0x200000}, // the target's size from a later offset
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.family->name) + " offset " + std::to_string(c.offset) + " length " +
                     std::to_string(c.length));
        openFamily(*c.family, ZELKOR_INTERFACE_COM);
        fill(0x210000);
        gModel.record = true;
        request("download", c.id, 27);
        EXPECT_EQ(download(row(2, c.id), c.offset, c.length), 0u);
        // The data written again over the start of the span, the rest of the span blank, the bytes either
        // side as they were.
        for (uint32_t i = 0; i < c.length; ++i)
            ASSERT_EQ(flashAt(c.erasedFrom + i), datum(i)) << std::hex << i;
        if (c.erasedFrom + c.length < c.erasedTo) {
            EXPECT_EQ(flashAt(c.erasedFrom + c.length), 0xFF);
            EXPECT_EQ(flashAt(c.erasedTo - 1), 0xFF);
        }
        if (c.erasedFrom > kFillFrom) {
            EXPECT_EQ(flashAt(c.erasedFrom - 1), pattern(c.erasedFrom - 1));
        }
        EXPECT_EQ(flashAt(c.erasedTo), pattern(c.erasedTo));
        EXPECT_EQ(regionDownloads(c.id), 2u) << "the interface writes again after the erase";
        expectArmRunning(0);
    }
}

// Ostrel returns a failed bootstrap erase (the block's erase command refused) and writes nothing over it;
// a re-issued download that answers 27 again is programmed through the engine.
TEST_F(HalFlashRequest, BootstrapEraseFailureAndSecondRequest) {
    openFamily(kOstrel, ZELKOR_INTERFACE_COM);
    fill(0x210000);
    gModel.record = true;
    request("download", 0x85, 27);
    gModel.expander->norBank().chips().at(0)->addFault({zsim::NorFaultKind::Protected, 0x100000, 0});
    testing::internal::CaptureStdout();
    EXPECT_NE(download(row(2, 0x85), 0, 0x100), 0u);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(regionDownloads(0x85), 1u);
    EXPECT_TRUE(containsInOrder(takeLines(), {"ERROR : zelkor_hal_OSTREL::zelkor_hal_downloadRegion : Flash "
                                                "Erase **** FAILED ****"}));

    for (const FamilyCase* family : {&kOstrel, &kQuenza}) {
        SCOPED_TRACE(family->name);
        openFamily(*family, ZELKOR_INTERFACE_COM);
        fill(0x210000);
        const uint32_t id = family == &kOstrel ? 0x85 : 0x81;
        request("download", id, 27, 2);
        EXPECT_EQ(download(row(2, id), 0x20, 0x40), 0u);
        for (uint32_t i = 0; i < 0x40; ++i)
            ASSERT_EQ(flashAt(0x100020 + i), datum(i)) << i;
        EXPECT_EQ(flashAt(0x10001F), pattern(0x10001F));
        EXPECT_EQ(flashAt(0x100060), 0xFF);
        EXPECT_EQ(flashAt(0x1FFFFF), family == &kOstrel ? pattern(0x1FFFFF) : 0xFF);
    }
}

// 28 programs exactly the caller's bytes through the engine with the ARM stopped; whatever step fails, the
// ARM runs again and the first failure is the result.
TEST_F(HalFlashRequest, StoppedArmRunsAgainOnEveryExit) {
    struct Case {
        const char* name;
        std::vector<InterfaceFailure> faults;
        ZELKOR_STATUS status;
        bool programmed;
        const char* line;
    };
    const std::vector<Case> cases = {
        {"programmed", {}, 0, true, "Starting the ARM processor"},
        {"flash enable", {{"upload", 0x1C000004u, 25}}, 25, false, "Enabling the flash **** FAILED ****"},
        {"first identification",
         {{"upload", zsim::kFlashBusRegister, 25, std::nullopt, 0, 1}},
         0,
         true,
         "Retrying due to the failure in retriving flash type"},
        {"both identifications",
         {{"upload", zsim::kFlashBusRegister, 25}},
         1,
         false,
         "Unknown flash type **** FAILED ****"},
        {"arm start", {{"download", 0x40F00000u, 24, std::nullopt, 1, 1}}, 24, true,
         "Starting the ARM processor **** FAILED ****"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        openFamily(kOstrel, ZELKOR_INTERFACE_COM);
        fill(0x210000);
        request("download", 0x85, 28);
        for (const InterfaceFailure& f : c.faults)
            gModel.failures.push_back(f);
        testing::internal::CaptureStdout();
        EXPECT_EQ(download(row(2, 0x85), 0x8, 0x10), c.status);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(flashAt(0x100008), c.programmed ? datum(0) : pattern(0x100008));
        EXPECT_EQ(flashAt(0x100018), pattern(0x100018)) << "no byte past the length";
        EXPECT_EQ(gModel.expander->armStops(), 1u);
        EXPECT_EQ(gModel.expander->armStarts(), c.status == 24 ? 0u : 1u);
        const std::vector<std::string> lines = takeLines();
        EXPECT_TRUE(containsInOrder(lines, {"INFO : zelkor_hal_OSTREL::zelkor_hal_downloadRegion : Stopping the "
                                            "ARM processor"}));
        EXPECT_TRUE(endsAny(lines, c.line)) << c.line;
    }
}

// A download larger than the part identified is 44, on Quenza with its line; the ARM runs again.
TEST_F(HalFlashRequest, LargerThanThePartIs44) {
    for (const FamilyCase* family : {&kOstrel, &kQuenza}) {
        SCOPED_TRACE(family->name);
        openFamily(*family, ZELKOR_INTERFACE_COM);
        gModel.expander->setFlashParts({{*zsim::findNorPart("amd-2m-byte"), 0}});
        request("download", 0, 28);
        EXPECT_EQ(download(row(1, 0), 0, 0x200001), 44u);
        expectArmRunning(1);
        EXPECT_EQ(endsAny(takeLines(), "Number of bytes to download is greater than Flash size"),
                  family == &kQuenza);
    }
}

// An erase answered 27 or 28 is done here over the row's flash; 28 with the ARM stopped and started again.
TEST_F(HalFlashRequest, EraseRequestsPerFamily) {
    struct Case {
        const FamilyCase* family;
        uint32_t kind;
        uint32_t id;
        ZELKOR_STATUS request;
        uint32_t from;
        uint32_t to;
    };
    const Case cases[] = {
        {&kOstrel, 2, 0x85, 27, 0x100000, 0x200000}, {&kOstrel, 2, 0x85, 28, 0x100000, 0x200000},
        {&kQuenza, 2, 0x81, 27, 0x100000, 0x200000}, {&kQuenza, 2, 0x81, 28, 0x100000, 0x200000},
        {&kPalx, 1, 0x00, 28, 0x100000, 0x200000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.family->name) + " " + std::to_string(c.request));
        openFamily(*c.family, ZELKOR_INTERFACE_COM);
        fill(c.family == &kPalx ? 0x200000 : 0x210000);
        request("erase", c.id, c.request);
        EXPECT_EQ(erase(row(c.kind, c.id)), 0u);
        EXPECT_EQ(flashAt(c.from), 0xFF);
        EXPECT_EQ(flashAt(c.to - 1), 0xFF);
        if (c.kind != ZELKOR_REGION_FLASH) {
            EXPECT_EQ(flashAt(c.to), pattern(c.to));
        }
        expectArmRunning(c.request == 28 ? 1 : 0);
    }
    // A failed flash enable ends the erase, with the ARM running again.
    openFamily(kQuenza, ZELKOR_INTERFACE_COM);
    request("erase", 0x81, 28);
    gModel.failures.push_back({"upload", 0x2C000004u, 25});
    EXPECT_EQ(erase(row(2, 0x81)), 25u);
    expectArmRunning(1);
}

// The Palx boot record through the I2C programmer (35): exactly the length bytes are written from a file or
// a buffer, read back and compared; an upload hands out exactly the length bytes from the offset.
class BootRecord : public HalFlashRequest {
  protected:
    void SetUp() override {
        HalFlashRequest::SetUp();
        prepare();
    }
    void prepare() {
        openFamily(kPalx);
        osal_setSleepFunction([](uint32_t ms) { gModel.expander->elapse(uint64_t{ms} * 1000); });
        auto& rom = gModel.expander->seeprom().bytes();
        for (uint32_t i = 0; i < rom.size(); ++i)
            rom[i] = static_cast<uint8_t>(i * 5 + 1);
        rom[0] = 0x81; // slot 0 at byte 64
        gModel.expander->space().findRegister(zsim::kBootSlotRegister)->value = 0;
        record_ = row(ZELKOR_REGION_BOOT_RECORD, 0x0A);
        request("download", 0x0A, 35);
        gModel.failures.push_back({"upload", std::nullopt, 35, 0x0Au});
    }
    uint8_t stored(uint32_t i) const { return gModel.expander->seeprom().bytes().at(kSlot + i); }
    // Recorded register accesses to the I2C controller's block.
    uint32_t i2cAccesses() const {
        uint32_t n = 0;
        for (const Access& a : accesses())
            n += std::get<1>(a) >= 0x40300000 && std::get<1>(a) < 0x40301000;
        return n;
    }
    static constexpr uint32_t kSlot = 64;
    ZELKOR_REGION record_{};
};

TEST_F(BootRecord, FilesWriteExactlyTheLengthBytes) {
    struct Case {
        uint32_t fileBytes;
        uint32_t length;
        ZELKOR_STATUS status;
    };
    const Case cases[] = {{100, 100, 0}, {8192, 8192, 0}, {9000, 8192, 0}, {9000, 9000, 5}, {100, 200, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.fileBytes) + " bytes, length " + std::to_string(c.length));
        prepare();
        const std::vector<uint8_t> before = gModel.expander->seeprom().bytes();
        Bytes file(c.fileBytes);
        for (uint32_t i = 0; i < c.fileBytes; ++i)
            file[i] = datum(i);
        if (c.fileBytes >= 8192) { // a record whose checksum byte is true reads back as written
            uint8_t sum = 0;
            for (uint32_t i = 0; i < 8191; ++i)
                sum = static_cast<uint8_t>(sum + file[i]);
            file[8191] = static_cast<uint8_t>(-sum);
        }
        FILE* f = std::tmpfile();
        std::fwrite(file.data(), 1, file.size(), f);
        const ZELKOR_STATUS status =
            op<HAL_TRANSFER_FUNCTION>("zelkor_hal_downloadRegion")(hi_, &record_, 0, c.length, f, nullptr);
        std::fclose(f);
        EXPECT_EQ(status, c.status);
        if (c.status != 0) {
            EXPECT_EQ(gModel.expander->seeprom().bytes(), before);
            continue;
        }
        for (uint32_t i = 0; i < c.length; ++i)
            ASSERT_EQ(stored(i), file[i]) << i;
        EXPECT_EQ(stored(8192), before[kSlot + 8192]) << "nothing past the record";
        EXPECT_EQ(gModel.expander->armStops(), gModel.expander->armStarts());
    }
}

// A row larger than the record (an interface that answers 35 for a row of its own size) does not widen
// the record: bytes past its 8192 are refused with 5 before the I2C controller sees any access, and the
// SEEPROM and the ARM stay as they were. ASan sees any byte laid past the record.
TEST_F(BootRecord, BytesPastTheRecordAreRefusedBeforeAnyI2cAccess) {
    struct Case {
        uint32_t offset;
        uint32_t length;
    };
    const Case cases[] = {{8000, 1000}, {8000, 193}, {0, 8193}, {8192, 1}, {0xFFFFFF00u, 0x200}};
    for (const Case& c : cases) {
        SCOPED_TRACE("offset " + std::to_string(c.offset) + " length " + std::to_string(c.length));
        prepare();
        ZELKOR_REGION wide = record_;
        wide.size = 0x10000;
        const std::vector<uint8_t> before = gModel.expander->seeprom().bytes();
        gModel.record = true;
        EXPECT_EQ(download(wide, c.offset, c.length), 5u);
        EXPECT_EQ(i2cAccesses(), 0u);
        EXPECT_EQ(gModel.expander->seeprom().bytes(), before);
        EXPECT_EQ(gModel.expander->armStops(), 0u);
    }
    // The record's last data byte (8191 is its checksum) is still reachable through the wide row.
    prepare();
    ZELKOR_REGION wide = record_;
    wide.size = 0x10000;
    gModel.record = true;
    EXPECT_EQ(download(wide, 8000, 191), 0u);
    EXPECT_GT(i2cAccesses(), 0u) << "the record went through the I2C controller";
    EXPECT_EQ(stored(8000), datum(0));
    EXPECT_EQ(stored(8190), datum(190));
}

TEST_F(BootRecord, BufferWriteAndUploadHandOutTheLengthBytes) {
    Bytes data(100);
    for (uint32_t i = 0; i < data.size(); ++i)
        data[i] = datum(i);
    EXPECT_EQ(op<HAL_TRANSFER_FUNCTION>("zelkor_hal_downloadRegion")(hi_, &record_, 0, 100, nullptr, data.data()),
              0u);
    for (uint32_t i = 0; i < 100; ++i)
        ASSERT_EQ(stored(i), data[i]) << i;

    // 16 bytes from offset 0x20 into a 16-byte buffer (ASan sees any byte more), then into a file.
    auto upload = op<HAL_TRANSFER_FUNCTION>("zelkor_hal_uploadRegion");
    Bytes small(16);
    EXPECT_EQ(upload(hi_, &record_, 0x20, 16, nullptr, small.data()), 0u);
    EXPECT_EQ(small, Bytes(data.begin() + 0x20, data.begin() + 0x30));
    FILE* f = std::tmpfile();
    std::fputs("head", f);
    EXPECT_EQ(upload(hi_, &record_, 0x60, 8, f, nullptr), 0u);
    EXPECT_EQ(std::ftell(f), 12);
    std::rewind(f);
    Bytes written(12);
    EXPECT_EQ(std::fread(written.data(), 1, 12, f), 12u);
    std::fclose(f);
    EXPECT_EQ(Bytes(written.begin(), written.begin() + 4), Bytes({'h', 'e', 'a', 'd'}));
    EXPECT_EQ(Bytes(written.begin() + 4, written.end()),
              Bytes({data[0x60], data[0x61], data[0x62], data[0x63], stored(0x64), stored(0x65), stored(0x66),
                     stored(0x67)}));
    // Past the record's 8192 bytes: 5, the ARM left running.
    const uint32_t stops = gModel.expander->armStops();
    EXPECT_EQ(upload(hi_, &record_, 8190, 16, nullptr, small.data()), 5u);
    EXPECT_EQ(gModel.expander->armStops(), stops);
    EXPECT_EQ(gModel.expander->armStops(), gModel.expander->armStarts());
}

} // namespace
