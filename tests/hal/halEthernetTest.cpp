// Ethernet settings and resets: what each family asks of the interface, register by register, and what
// it answers for the interface's statuses.
#include "hal/zelkorHalCommon.h"
#include "tests/hal/halFixture.h"

#include <gmock/gmock.h>

#include <memory>

namespace {

using testing::ElementsAreArray;
using testing::IsEmpty;

const zsim::EthernetSettings kSettings{
    {192, 168, 1, 10}, {255, 255, 255, 0}, {192, 168, 1, 1}, {0, 0x10, 0x20, 0x30, 0x40, 0x50}, false};

class HalRegisterTest : public HalTest {
  protected:
    void openOn(const FamilyCase& family, uint32_t interface = ZELKOR_INTERFACE_SAS) {
        use(family);
        handle_.interface = interface;
        gModel.expander->setEthernet(kSettings);
        ASSERT_EQ(open(), 0u);
        gModel.calls.clear();
    }
    ZELKOR_STATUS setMorv(uint8_t* value, uint8_t selector) {
        return op<HAL_SET_MORV_FUNCTION>("zelkor_hal_setMorv")(hi_, value, selector);
    }
    ZELKOR_STATUS reset(uint8_t kind) {
        return op<HAL_RESET_EXPANDER_FUNCTION>("zelkor_hal_resetExpander")(hi_, kind);
    }
    std::vector<uint8_t> ethernetPage() const {
        std::vector<uint8_t> page;
        gModel.expander->readPage(static_cast<uint16_t>(gModel.expander->traits().ethernetPageId), 0xFFFF,
                                  page);
        return page;
    }
};

// ---- setMorv ----

TEST_F(HalRegisterTest, SetMorvAsksForOnePagePatchOfTheSelectedField) {
    struct Case {
        const FamilyCase* family;
        uint32_t pageId;
    };
    for (const Case& c : {Case{&kOstrel, 0xFF10}, Case{&kQuenza, 0xFF27}}) {
        for (uint8_t selector = 0; selector <= 3; ++selector) {
            SCOPED_TRACE(std::string(c.family->name) + " selector " + std::to_string(selector));
            openOn(*c.family);
            const std::vector<uint8_t> before = ethernetPage();
            // Exactly four bytes: a module that read past them would be caught by the sanitizer build.
            std::unique_ptr<uint8_t[]> value(new uint8_t[4]{10, 20, 30, static_cast<uint8_t>(40 + selector)});
            EXPECT_EQ(setMorv(value.get(), selector), 0u);
            EXPECT_EQ(handle_.fieldSelector, selector);
            ASSERT_EQ(gModel.calls.size(), 1u);
            const InterfaceCall& call = gModel.calls[0];
            EXPECT_EQ(call.op, "download");
            EXPECT_EQ(call.region, regionRow(0, 0xC0, 0, 0, 0xFFFFFFFF));
            EXPECT_EQ(call.offset, c.pageId);
            EXPECT_EQ(call.size, (uint32_t{selector} << 8) | 0xE6);
            ASSERT_GE(call.data.size(), 4u);
            EXPECT_THAT(std::vector<uint8_t>(call.data.begin(), call.data.begin() + 4),
                        ElementsAreArray({10, 20, 30, 40 + selector}));
            // The page changed in the selected field's four bytes and nowhere else.
            std::vector<uint8_t> expected = before;
            const size_t at = selector == 3 ? 28 : 4 + 4 * selector;
            std::copy_n(value.get(), 4, expected.begin() + static_cast<long>(at));
            EXPECT_EQ(ethernetPage(), expected);
            EXPECT_EQ(close(), 0u);
        }
    }
}

TEST_F(HalRegisterTest, SetMorvRefusesWhatNamesNoFieldAndWritesNothing) {
    for (const FamilyCase* family : {&kOstrel, &kQuenza}) {
        SCOPED_TRACE(family->name);
        openOn(*family);
        uint8_t value[4] = {1, 2, 3, 4};
        EXPECT_EQ(setMorv(value, 4), 5u);
        EXPECT_EQ(setMorv(value, 0xFF), 5u);
        EXPECT_EQ(setMorv(nullptr, 0), 5u);
        EXPECT_EQ(op<HAL_SET_MORV_FUNCTION>("zelkor_hal_setMorv")(nullptr, value, 0), 5u);
        ZELKOR_HAL_INSTANCE stranger{};
        EXPECT_EQ(op<HAL_SET_MORV_FUNCTION>("zelkor_hal_setMorv")(&stranger, value, 0), 4u);
        EXPECT_THAT(gModel.calls, IsEmpty());
    }
}

TEST_F(HalRegisterTest, SetMorvPassesTheInterfaceFailureOn) {
    openOn(kQuenza);
    gModel.failures = {{"download", 0xFF27, 24}};
    uint8_t value[4] = {10, 0, 0, 1};
    EXPECT_EQ(setMorv(value, 2), 24u);
    EXPECT_TRUE(containsInOrder(
        log_->lines(),
        {"INFO : zelkor_hal_GEN3::zelkor_hal_setMorv : Getting HAL region List",
         "INFO : zelkor_hal_GEN3::zelkor_hal_setMorv : Writing data in Ethernet Configuration Page",
         "ERROR : zelkor_hal_GEN3::zelkor_hal_setMorv : Writing data in Ethernet Configuration "
         "Page **** FAILED ****"}));
}

// An offline handle has no region list, hence no memory window.
TEST_F(HalRegisterTest, WithoutMemoryWindowNothingIsAsked) {
    for (const FamilyCase* family : {&kOstrel, &kQuenza}) {
        SCOPED_TRACE(family->name);
        use(*family);
        handle_.ialEntry = nullptr;
        ASSERT_EQ(open(), 0u);
        uint8_t value[4] = {1, 2, 3, 4};
        EXPECT_EQ(setMorv(value, 0), 17u);
        EXPECT_EQ(reset(1), 17u);
        EXPECT_EQ(op<HAL_INSTANCE_FUNCTION>("zelkor_hal_setSmartCli")(hi_), 17u);
        EXPECT_THAT(gModel.calls, IsEmpty());
    }
    EXPECT_TRUE(
        containsLine(log_->lines(),
                     "ERROR : zelkor_hal_GEN3::zelkor_hal_resetExpander : Unable to identify the region **** "
                     "FAILED ****"));
}

// ---- setSmartCli ----

TEST_F(HalRegisterTest, SmartCliSetsBitTenOfMiscControl) {
    struct Case {
        const FamilyCase* family;
        uint32_t address;
        uint32_t before;
        uint32_t after;
    };
    // Ostrel keeps the other bits; Quenza writes the bit alone.
    for (const Case& c : {Case{&kOstrel, 0x40900018u, 0x00001001u, 0x00001401u},
                          Case{&kQuenza, 0x42400018u, 0xFFFF0000u, 0x00000400u}}) {
        SCOPED_TRACE(c.family->name);
        openOn(*c.family);
        gModel.expander->space().writeWord(c.address, c.before);
        EXPECT_EQ(op<HAL_INSTANCE_FUNCTION>("zelkor_hal_setSmartCli")(hi_), 0u);
        EXPECT_THAT(accesses(),
                    ElementsAreArray({Access{'R', c.address, 0}, Access{'W', c.address, c.after}}));
        EXPECT_EQ(gModel.expander->space().readWord(c.address), c.after);

        gModel.calls.clear();
        gModel.failures = {{"upload", c.address, 25}};
        EXPECT_EQ(op<HAL_INSTANCE_FUNCTION>("zelkor_hal_setSmartCli")(hi_), 25u);
        EXPECT_THAT(accesses(), ElementsAreArray({Access{'R', c.address, 0}}));
        gModel.failures = {{"download", c.address, 24}};
        EXPECT_EQ(op<HAL_INSTANCE_FUNCTION>("zelkor_hal_setSmartCli")(hi_), 24u);
        EXPECT_EQ(close(), 0u);
    }
}

// What each family logs around the register accesses of smart CLI, failures included: Ostrel announces
// its write once, ahead of the read, and logs no failure; Quenza announces each access and its failure.
TEST_F(HalRegisterTest, SmartCliLogLines) {
    struct Case {
        const FamilyCase* family;
        const char* failingOp;
        std::vector<std::string> lines;
    };
    const std::string ostrel = "zelkor_hal_OSTREL::zelkor_hal_setSmartCli : ";
    const std::string quenza = "zelkor_hal_GEN3::zelkor_hal_setSmartCli : ";
    const Case cases[] = {
        {&kOstrel,
         nullptr,
         {"INFO : " + ostrel + "Entry", "INFO : " + ostrel + "Getting HAL region List",
          "INFO : " + ostrel + "Writing 4 bytes at 0x40900018 offset"}},
        {&kOstrel,
         "upload",
         {"INFO : " + ostrel + "Entry", "INFO : " + ostrel + "Getting HAL region List",
          "INFO : " + ostrel + "Writing 4 bytes at 0x40900018 offset"}},
        {&kOstrel,
         "download",
         {"INFO : " + ostrel + "Entry", "INFO : " + ostrel + "Getting HAL region List",
          "INFO : " + ostrel + "Writing 4 bytes at 0x40900018 offset"}},
        {&kQuenza,
         nullptr,
         {"INFO : " + quenza + "Entry", "INFO : " + quenza + "Getting HAL region List",
          "INFO : " + quenza + "Reading 4 bytes at 0x42400018 offset",
          "INFO : " + quenza + "Writing 4 bytes at 0x42400018 offset"}},
        {&kQuenza,
         "upload",
         {"INFO : " + quenza + "Entry", "INFO : " + quenza + "Getting HAL region List",
          "INFO : " + quenza + "Reading 4 bytes at 0x42400018 offset",
          "ERROR : " + quenza + "Reading 4 bytes at 0x42400018 offset **** FAILED ****"}},
        {&kQuenza,
         "download",
         {"INFO : " + quenza + "Entry", "INFO : " + quenza + "Getting HAL region List",
          "INFO : " + quenza + "Reading 4 bytes at 0x42400018 offset",
          "INFO : " + quenza + "Writing 4 bytes at 0x42400018 offset",
          "ERROR : " + quenza + "Writing 4 bytes at 0x42400018 offset **** FAILED ****"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.family->name) + " " + (c.failingOp ? c.failingOp : "ok"));
        openOn(*c.family);
        log_.reset();
        log_ = std::make_unique<LogCapture>();
        if (c.failingOp != nullptr)
            gModel.failures = {{c.failingOp, std::nullopt, 24}};
        EXPECT_EQ(op<HAL_INSTANCE_FUNCTION>("zelkor_hal_setSmartCli")(hi_), c.failingOp ? 24u : 0u);
        std::vector<std::string> lines;
        for (const std::string& line : log_->lines())
            if (line.find("zelkor_hal_setSmartCli") != std::string::npos)
                lines.push_back(line);
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(close(), 0u);
    }
}

// ---- resets ----

struct ResetCase {
    const char* label;
    const FamilyCase* family;
    uint32_t interface;
    uint8_t kind;
    std::vector<InterfaceFailure> failures;
    ZELKOR_STATUS status;
    std::vector<Access> accesses;
    std::vector<uint32_t> sleeps;
    uint32_t chipResets;
    uint32_t watchdogResets;
};

constexpr uint32_t kSas = ZELKOR_INTERFACE_SAS;
constexpr uint32_t kCom = ZELKOR_INTERFACE_COM;
constexpr uint32_t kTcp = ZELKOR_INTERFACE_TCP;
// Misc control before a watchdog reset over the debug port: bit 10 (smart CLI) and bit 0 set.
constexpr uint32_t kMiscBefore = 0x00000401u;

const std::vector<ResetCase> kResets = {
    {"Ostrel chip reset", &kOstrel, kSas, 1, {}, 0, {{'W', 0xC0000200, 0x05ED0C31}}, {}, 1, 0},
    {"Ostrel other kinds are the chip reset",
     &kOstrel,
     kSas,
     0,
     {},
     0,
     {{'W', 0xC0000200, 0x05ED0C31}},
     {},
     1,
     0},
    {"Ostrel watchdog reset", &kOstrel, kSas, 2, {}, 0, {{'W', 0x40800000, 0xC02DC6C0}}, {}, 0, 1},
    {"Ostrel watchdog reset over the debug port",
     &kOstrel,
     kCom,
     2,
     {},
     0,
     {{'W', 0x40F00004, 0x14000000},
      {'W', 0x40800000, 0xC02DC6C0},
      {'R', 0x40900018, 0},
      {'W', 0x40900018, 0x00001001}},
     {},
     0,
     1},
    // A chip that resets may lose the command that reset it: Ostrel does not look at its reset writes.
    {"Ostrel chip reset failure is not looked at",
     &kOstrel,
     kSas,
     1,
     {{"download", 0xC0000200, 24}},
     0,
     {{'W', 0xC0000200, 0x05ED0C31}},
     {},
     0,
     0},
    {"Ostrel chip reset failure over the debug port is not looked at",
     &kOstrel,
     kCom,
     1,
     {{"download", 0xC0000200, 1}},
     0,
     {{'W', 0xC0000200, 0x05ED0C31}},
     {},
     0,
     0},
    {"Ostrel chip reset dropped by the TCP peer went out",
     &kOstrel,
     kTcp,
     1,
     {{"download", 0xC0000200, 62}},
     0,
     {{'W', 0xC0000200, 0x05ED0C31}},
     {},
     0,
     0},
    {"Quenza chip reset", &kQuenza, kSas, 1, {}, 0, {{'W', 0xC3800200, 0x07A91F48}}, {}, 1, 0},
    {"Quenza watchdog reset in-band", &kQuenza, kSas, 2, {}, 0, {{'W', 0x42000000, 0x802DC6C0}}, {}, 0, 1},
    {"Quenza watchdog reset over the debug port",
     &kQuenza,
     kCom,
     2,
     {},
     0,
     {{'W', 0x43C00004, 0x10000000},
      {'W', 0x42000004, 0x802DC6C0},
      {'R', 0x42400018, 0},
      {'W', 0x42400018, 0x00000001}},
     {5000},
     0,
     1},
    {"Quenza chip reset dropped by the TCP peer went out",
     &kQuenza,
     kTcp,
     1,
     {{"download", 0xC3800200, 62}},
     0,
     {{'W', 0xC3800200, 0x07A91F48}},
     {},
     0,
     0},
    {"Ostrel watchdog reset failure is not looked at",
     &kOstrel,
     kSas,
     2,
     {{"download", 0x40800000, 24}},
     0,
     {{'W', 0x40800000, 0xC02DC6C0}},
     {},
     0,
     0},
    {"Ostrel boot address failure does not stop the watchdog reset over the debug port",
     &kOstrel,
     kCom,
     2,
     {{"download", 0x40F00004, 24}},
     0,
     {{'W', 0x40F00004, 0x14000000},
      {'W', 0x40800000, 0xC02DC6C0},
      {'R', 0x40900018, 0},
      {'W', 0x40900018, 0x00001001}},
     {},
     0,
     1},
    {"Ostrel watchdog reset over the debug port issues every write though all fail",
     &kOstrel,
     kCom,
     2,
     {{"download", std::nullopt, 24}},
     0,
     {{'W', 0x40F00004, 0x14000000},
      {'W', 0x40800000, 0xC02DC6C0},
      {'R', 0x40900018, 0},
      {'W', 0x40900018, 0x00001001}},
     {},
     0,
     0},
    // The read is no reset write: without the misc control word there is nothing to write back.
    {"Ostrel misc control read failure ends the watchdog reset",
     &kOstrel,
     kCom,
     2,
     {{"upload", 0x40900018, 25}},
     25,
     {{'W', 0x40F00004, 0x14000000}, {'W', 0x40800000, 0xC02DC6C0}, {'R', 0x40900018, 0}},
     {},
     0,
     1},
    {"Ostrel watchdog reset dropped by the TCP peer",
     &kOstrel,
     kTcp,
     2,
     {{"download", 0x40800000, 62}},
     0,
     {{'W', 0x40800000, 0xC02DC6C0}},
     {},
     0,
     0},
    // Only the chip reset takes the hang-up as sent.
    {"Quenza watchdog reset dropped by the TCP peer is a failure",
     &kQuenza,
     kTcp,
     2,
     {{"download", 0x42000000, 62}},
     62,
     {{'W', 0x42000000, 0x802DC6C0}},
     {},
     0,
     0},
    {"Quenza watchdog reset failure over TCP",
     &kQuenza,
     kTcp,
     2,
     {{"download", 0x42000000, 1}},
     1,
     {{'W', 0x42000000, 0x802DC6C0}},
     {},
     0,
     0},
    {"Quenza 62 in-band is a failure",
     &kQuenza,
     kSas,
     1,
     {{"download", 0xC3800200, 62}},
     62,
     {{'W', 0xC3800200, 0x07A91F48}},
     {},
     0,
     0},
    {"Quenza chip reset failure",
     &kQuenza,
     kSas,
     1,
     {{"download", 0xC3800200, 24}},
     24,
     {{'W', 0xC3800200, 0x07A91F48}},
     {},
     0,
     0},
    {"Quenza boot address failure stops the watchdog reset",
     &kQuenza,
     kCom,
     2,
     {{"download", 0x43C00004, 24}},
     24,
     {{'W', 0x43C00004, 0x10000000}},
     {5000},
     0,
     0},
    {"Quenza watchdog write failure stops the watchdog reset",
     &kQuenza,
     kCom,
     2,
     {{"download", 0x42000004, 24}},
     24,
     {{'W', 0x43C00004, 0x10000000}, {'W', 0x42000004, 0x802DC6C0}},
     {5000},
     0,
     0},
    {"Quenza misc control write failure is returned",
     &kQuenza,
     kCom,
     2,
     {{"download", 0x42400018, 24}},
     24,
     {{'W', 0x43C00004, 0x10000000},
      {'W', 0x42000004, 0x802DC6C0},
      {'R', 0x42400018, 0},
      {'W', 0x42400018, 0x00000001}},
     {5000},
     0,
     1},
    {"Quenza chip reset 62 over the debug port is a failure",
     &kQuenza,
     kCom,
     1,
     {{"download", 0xC3800200, 62}},
     62,
     {{'W', 0xC3800200, 0x07A91F48}},
     {},
     0,
     0},
    {"Quenza misc control read failure ends the watchdog reset",
     &kQuenza,
     kCom,
     2,
     {{"upload", 0x42400018, 25}},
     25,
     {{'W', 0x43C00004, 0x10000000}, {'W', 0x42000004, 0x802DC6C0}, {'R', 0x42400018, 0}},
     {5000},
     0,
     1},
    {"Palx chip reset", &kPalx, kSas, 1, {}, 0, {{'W', 0xC0000200, 0x50414C58}}, {}, 1, 0},
    {"Palx has only the chip reset", &kPalx, kCom, 2, {}, 0, {{'W', 0xC0000200, 0x50414C58}}, {}, 1, 0},
    {"Palx chip reset failure",
     &kPalx,
     kSas,
     1,
     {{"download", 0xC0000200, 29}},
     29,
     {{'W', 0xC0000200, 0x50414C58}},
     {},
     0,
     0},
    {"Palx chip reset dropped by the TCP peer is a failure",
     &kPalx,
     kTcp,
     1,
     {{"download", 0xC0000200, 62}},
     62,
     {{'W', 0xC0000200, 0x50414C58}},
     {},
     0,
     0},
};

TEST_F(HalRegisterTest, ResetsWriteTheFamilyRegisters) {
    for (const ResetCase& c : kResets) {
        SCOPED_TRACE(c.label);
        openOn(*c.family, c.interface);
        if (c.family != &kPalx)
            gModel.expander->space().writeWord(c.family == &kOstrel ? 0x40900018u : 0x42400018u, kMiscBefore);
        sSleeps.clear();
        gModel.failures = c.failures;
        EXPECT_EQ(reset(c.kind), c.status);
        EXPECT_EQ(accesses(), c.accesses);
        EXPECT_EQ(gModel.calls.size(), c.accesses.size());
        EXPECT_EQ(sSleeps, c.sleeps);
        // The model counts the resets its registers saw: the addresses and words are the device's.
        EXPECT_EQ(gModel.expander->chipResets(), c.chipResets);
        EXPECT_EQ(gModel.expander->watchdogResets(), c.watchdogResets);
        EXPECT_EQ(close(), 0u);
    }
}

// What each family logs around its reset writes: Ostrel announces every access and logs no failure; Quenza
// logs each failure, and the TCP hang-up after its chip reset as sent; Palx names the key it writes.
TEST_F(HalRegisterTest, ResetLogLines) {
    struct Case {
        const char* label;
        const FamilyCase* family;
        uint32_t interface;
        uint8_t kind;
        InterfaceFailure failure;
        std::vector<std::string> lines; // after the entry and region lookup lines
    };
    const std::string ostrel = "zelkor_hal_OSTREL::zelkor_hal_resetExpander : ";
    const std::string quenza = "zelkor_hal_GEN3::zelkor_hal_resetExpander : ";
    const std::string palx = "zelkor_hal_PALX::zelkor_hal_resetExpander : ";
    const std::string hungUp =
        "INFO : " + quenza +
        "Updating the return value after successfully sending the \"reset\" request to "
        "the Expander over Ethernet interface";
    const std::vector<Case> cases = {
        {"Ostrel chip reset, failing write",
         &kOstrel,
         kSas,
         1,
         {"download", 0xC0000200, 24},
         {"INFO : " + ostrel + "Writing 4 bytes at 0xc0000200 offset"}},
        {"Ostrel watchdog reset over the debug port, every write failing",
         &kOstrel,
         kCom,
         2,
         {"download", std::nullopt, 24},
         {"INFO : " + ostrel + "Writing 4 bytes at 0x40f00004 offset",
          "INFO : " + ostrel + "Writing 4 bytes at 0x40800000 offset",
          "INFO : " + ostrel + "Reading 4 bytes at 0x40900018 offset",
          "INFO : " + ostrel + "Writing 4 bytes at 0x40900018 offset"}},
        {"Ostrel watchdog reset over the debug port, failing read",
         &kOstrel,
         kCom,
         2,
         {"upload", 0x40900018, 25},
         {"INFO : " + ostrel + "Writing 4 bytes at 0x40f00004 offset",
          "INFO : " + ostrel + "Writing 4 bytes at 0x40800000 offset",
          "INFO : " + ostrel + "Reading 4 bytes at 0x40900018 offset"}},
        {"Ostrel watchdog reset dropped by the TCP peer",
         &kOstrel,
         kTcp,
         2,
         {"download", 0x40800000, 62},
         {"INFO : " + ostrel + "Writing 4 bytes at 0x40800000 offset"}},
        {"Quenza chip reset dropped by the TCP peer",
         &kQuenza,
         kTcp,
         1,
         {"download", 0xC3800200, 62},
         {"INFO : " + quenza + "Writing 4 bytes at 0xc3800200 offset", hungUp}},
        {"Quenza chip reset, failing write",
         &kQuenza,
         kSas,
         1,
         {"download", 0xC3800200, 24},
         {"INFO : " + quenza + "Writing 4 bytes at 0xc3800200 offset",
          "ERROR : " + quenza + "Writing 4 bytes at 0xc3800200 offset **** FAILED ****"}},
        {"Quenza watchdog reset, failing boot address",
         &kQuenza,
         kCom,
         2,
         {"download", 0x43C00004, 24},
         {"INFO : " + quenza + "Writing 4 bytes at 0x43c00004 offset",
          "ERROR : " + quenza + "Writing 4 bytes at 0x43c00004 offset **** FAILED ****",
          "ERROR : " + quenza + "Failed to change BOOT address "}},
        {"Quenza watchdog reset dropped by the TCP peer",
         &kQuenza,
         kTcp,
         2,
         {"download", 0x42000000, 62},
         {"INFO : " + quenza + "Writing 4 bytes at 0x42000000 offset",
          "ERROR : " + quenza + "Writing 4 bytes at 0x42000000 offset **** FAILED ****"}},
        {"Quenza watchdog reset, failing read",
         &kQuenza,
         kCom,
         2,
         {"upload", 0x42400018, 25},
         {"INFO : " + quenza + "Writing 4 bytes at 0x43c00004 offset",
          "INFO : " + quenza + "Writing 4 bytes at 0x42000004 offset",
          "INFO : " + quenza + "Reading 4 bytes at 0x42400018 offset",
          "ERROR : " + quenza + "Reading 4 bytes at 0x42400018 offset **** FAILED ****"}},
        {"Palx chip reset, failing write",
         &kPalx,
         kSas,
         1,
         {"download", 0xC0000200, 24},
         {"INFO : " + palx + "Writing 0x50414c58 at 0xc0000200 at offset. This Reset's the Expander",
          "ERROR : " + palx + "Unable to write 0x50414c58 data at 0xc0000200 offset **** FAILED ****"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        openOn(*c.family, c.interface);
        log_.reset();
        log_ = std::make_unique<LogCapture>();
        gModel.failures = {c.failure};
        reset(c.kind);
        // Every family logs its entry; Ostrel and Quenza also the region lookup.
        const std::string& module = c.family == &kOstrel ? ostrel : c.family == &kQuenza ? quenza : palx;
        std::vector<std::string> expected{"INFO : " + module + "Entry"};
        if (c.family != &kPalx)
            expected.push_back("INFO : " + module + "Getting HAL region List");
        expected.insert(expected.end(), c.lines.begin(), c.lines.end());
        std::vector<std::string> lines;
        for (const std::string& line : log_->lines())
            if (line.find("zelkor_hal_resetExpander") != std::string::npos)
                lines.push_back(line);
        EXPECT_EQ(lines, expected);
        EXPECT_EQ(close(), 0u);
    }
}

TEST_F(HalRegisterTest, ResetChecksItsInstance) {
    openOn(kOstrel);
    auto resetOp = op<HAL_RESET_EXPANDER_FUNCTION>("zelkor_hal_resetExpander");
    EXPECT_EQ(resetOp(nullptr, 1), 5u);
    ZELKOR_HAL_INSTANCE stranger{};
    EXPECT_EQ(resetOp(&stranger, 1), 4u);
    EXPECT_THAT(gModel.calls, IsEmpty());
}

} // namespace
