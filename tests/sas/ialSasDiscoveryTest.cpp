// In-band discovery through the real SCSI-generic layer under the simulated enclosure: the operation
// table, identification of every family and revision, selection and listing of several expanders, the
// Ethernet settings and the close.
#include "tests/sas/ialSasFixture.h"

#include <algorithm>
#include <cstring>

namespace {

// Commands of the identification, as the module encodes them.
const std::string kSignature = "3C02E000000400000400";
const std::string kSignatureType1 = "3C020000000400000400";
const std::string kOstrelDeviceSignature = "3C01C0C000002C000400";
const std::string kQuenzaDeviceSignature = "3C01C0C380002C000400";
const std::string kMiscRead = "3C01C2C00000A0000400";
const std::string kMiscWrite = "3B01C2C00000A0000400";
const std::string kSwitchModel = "3C01C214000028000400";
const std::string kMfgHeader = "3C01E6FF010004000000";
const std::string kMfgData = "3C01E6FF01001C000000";
const std::string kOstrelSasHigh = "3C01C2B0000048000400";
const std::string kOstrelSasLow = "3C01C2B000004C000400";
const std::string kQuenzaSasHigh = "3C01C2C0000048000400";
const std::string kQuenzaSasLow = "3C01C2C000004C000400";
const std::string kIpStatus = "3C01C2424000C0000400";
const std::string kFF10Header = "3C01E6FF100004000000";
const std::string kFF10Data = "3C01E6FF100020000000";
const std::string kFF27Header = "3C01E6FF270004000000";
const std::string kFE05Header = "3C01E6FE050004000000";
const std::string kFF27Data = "3C01E6FF270020000000";
const std::string kFE05Data = "3C01E6FE05000C000000";
const std::string kVpd83 = "12018300FF00";
const std::string kVpd85 = "12018500FF00";

constexpr uint64_t kAddress = 0x500605B00000A1C0ull;

std::vector<std::string> concat(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

const std::vector<std::string> kOstrelStart{kSignature, kOstrelDeviceSignature};
const std::vector<std::string> kOstrelBoard{kMfgHeader, kMfgData};
const std::vector<std::string> kOstrelRest{kOstrelSasHigh, kOstrelSasLow, kIpStatus, kFF10Header, kFF10Data};
const std::vector<std::string> kQuenzaAll{kSignature,     kQuenzaDeviceSignature,
                                          kMfgHeader,     kMfgData,
                                          kQuenzaSasHigh, kQuenzaSasLow,
                                          kIpStatus,      kFF27Header,
                                          kFE05Header,    kFF27Data,
                                          kFE05Data};

struct IdentificationCase {
    const char* label;
    std::string scenario; // keys of device sg0, after its address
    uint32_t type;
    uint16_t productId;
    uint8_t revisionCode;
    uint8_t revisionIndex;
    const char* name;
    const char* revision;
    std::vector<std::string> commands;
};

std::vector<IdentificationCase> identificationCases() {
    return {
        {"OstrelA0", "device sg0 ostrel\n product 0x221\n revision 0\n board-name BX700\n", 2, 0x221, 0, 0,
         "BX700 (Tolvane28)", "A0", concat({kOstrelStart, kOstrelBoard, kOstrelRest})},
        {"OstrelA1", "device sg0 ostrel\n product 0x227\n revision 1\n board-name BX700\n", 2, 0x227, 1, 1,
         "BX700 (Tolvane20A)", "A1", concat({kOstrelStart, kOstrelBoard, kOstrelRest})},
        {"OstrelB0B1BoardNameCutAtBlank",
         "device sg0 ostrel\n product 0x220\n revision 2\n board-name BX700 12G\n", 2, 0x220, 2, 2,
         "BX700 (Tolvane24)", "B0/B1",
         concat({kOstrelStart, {kMiscRead, kMiscWrite, kMiscRead}, kOstrelBoard, kOstrelRest})},
        {"OstrelB2",
         "device sg0 ostrel\n product 0x224\n revision 2\n register 0xC00000A0 0 writable 0xFFFFFF7F\n", 2,
         0x224, 4, 3, "SIMBOARD (Tolvane12)", "B2",
         concat({kOstrelStart,
                 {kMiscRead, kMiscWrite, kMiscRead, kMiscRead, kMiscWrite, kMiscRead},
                 kOstrelBoard,
                 kOstrelRest})},
        {"OstrelB3",
         "device sg0 ostrel\n product 0x225\n revision 2\n register 0xC00000A0 0 writable 0xFFFFFF3F\n", 2,
         0x225, 5, 4, "SIMBOARD (Tolvane16)", "B3",
         concat({kOstrelStart,
                 {kMiscRead, kMiscWrite, kMiscRead, kMiscRead, kMiscWrite, kMiscRead},
                 kOstrelBoard,
                 kOstrelRest})},
        {"OstrelUnknownRevision", "device sg0 ostrel\n product 0x226\n revision 9\n", 2, 0x226, 9, 0,
         "SIMBOARD (Tolvane20)", "Unknown Revision", concat({kOstrelStart, kOstrelBoard, kOstrelRest})},
        {"OstrelSwitchTakesItsBoardNameAlone",
         "device sg0 ostrel\n product 0x223\n firmware-identity 200\n board-name SW16\n", 3, 0x223, 0, 0,
         "SW16", "A0", concat({kOstrelStart, {kSwitchModel}, kOstrelBoard, kOstrelRest})},
        {"Ostrel0x223WithoutTheSwitchModel", "device sg0 ostrel\n product 0x223\n firmware-identity 201\n", 2,
         0x223, 0, 0, "SIMBOARD (Tolvane36)", "A0",
         concat({kOstrelStart, {kSwitchModel}, kOstrelBoard, kOstrelRest})},
        {"Type1FromTheOstrelModelTable",
         "device sg0 ostrel\n product 0x211\n revision 1\n",
         1,
         0x211,
         1,
         1,
         "Kerrin28",
         "A1",
         {kSignature, kOstrelDeviceSignature, kVpd83, kIpStatus}},
        {"QuenzaVellor", "device sg0 quenza\n product 0x233\n revision 2\n board-name RX4800 24G\n", 4, 0x233,
         2, 2, "RX4800 (Vellor_36)", "C0", kQuenzaAll},
        {"QuenzaDax", "device sg0 quenza\n product 0x238\n revision 1\n board-name RX4800\n", 5, 0x238, 1, 1,
         "RX4800 (Kestan_48)", "B0", kQuenzaAll},
    };
}

class Identification : public SasModuleTest, public testing::WithParamInterface<IdentificationCase> {};

TEST_P(Identification, RecordAndExactCommandSequence) {
    const IdentificationCase& c = GetParam();
    sim::loadScenario(c.scenario + " sas-address 500605B0:0000A1C0\n");
    ASSERT_EQ(open(kAddress, &instance_), 0u);
    const ZELKOR_EXPANDER& e = sas()->expander;
    EXPECT_EQ(e.type, c.type);
    EXPECT_EQ(e.productId, c.productId);
    EXPECT_EQ(e.revisionCode, c.revisionCode);
    EXPECT_EQ(e.revisionIndex, c.revisionIndex);
    EXPECT_EQ(FIELD(e, name), c.name);
    EXPECT_EQ(FIELD(e, revision), c.revision);
    EXPECT_EQ(e.sasAddressHigh, 0x500605B0u);
    EXPECT_EQ(e.sasAddressLow, 0x0000A1C0u);
    EXPECT_EQ(cdbs(), c.commands);
    // The listing hands out the list the open built, a copy of the selected record.
    ZELKOR_EXPANDER_LIST* list = nullptr;
    ASSERT_EQ(getExpanders(instance_, &list), 0u);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->next, nullptr);
    EXPECT_EQ(FIELD(list->expander, name), c.name);
    EXPECT_EQ(list->expander.type, c.type);
    if (c.type != 1) {
        EXPECT_EQ(gExpanderType, c.type);
    }
}

INSTANTIATE_TEST_SUITE_P(Families, Identification, testing::ValuesIn(identificationCases()),
                         [](const auto& info) { return std::string(info.param.label); });

struct RefusedCase {
    const char* label;
    std::string scenario;
    std::vector<std::string> commands;
    const char* printed;
    std::vector<std::string> log;
};

class RefusedIdentification : public SasModuleTest, public testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedIdentification, SkipsTheDeviceWithoutReadingFurther) {
    const RefusedCase& c = GetParam();
    sim::loadScenario(c.scenario + " sas-address 500605B0:0000A1C0\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(open(kAddress, &instance_), 20u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
    EXPECT_EQ(instance_, nullptr);
    EXPECT_EQ(cdbs(), c.commands);
    EXPECT_EQ(heldDevices(), 0);
    EXPECT_TRUE(containsInOrder(log_->lines(), c.log));
}

INSTANTIATE_TEST_SUITE_P(
    Families, RefusedIdentification,
    testing::Values(
        RefusedCase{"OstrelProductOutsideTheModelTable",
                    "device sg0 ostrel\n product 0x2FF\n",
                    {kSignature, kOstrelDeviceSignature},
                    "",
                    {"INFO : zelkor_ial_SAS::zelkor_ial_getExpanderIDAndRevision : Expander type is Unknown "
                     "Expander ",
                     "ERROR : zelkor_ial_SAS::zelkor_ial_open : Reading Expander Id and Revision for SCSI "
                     "device 1 **** FAILED ****"}},
        RefusedCase{"OstrelSwitchModelUnreadable",
                    "device sg0 ostrel\n product 0x223\n fault read-buffer:0xC2:0x14000028 illegal-request\n",
                    {kSignature, kOstrelDeviceSignature, kSwitchModel},
                    " **** OSAL SAS Device Read data FAILED",
                    {"ERROR : zelkor_ial_SAS::zelkor_ial_open : Reading Expander Id and Revision for SCSI "
                     "device 1 **** FAILED ****"}},
        RefusedCase{
            "QuenzaProductUnknown",
            "device sg0 quenza\n product 0x2FF\n",
            {kSignature, kQuenzaDeviceSignature},
            "",
            {"ERROR : zelkor_ial_SAS::zelkor_ial_getExpanderSasAddress : Filling Expander specific "
             "information **** FAILED ****",
             "ERROR : zelkor_ial_SAS::zelkor_ial_open : Reading Expander SAS address for SCSI device 1 "
             "**** FAILED ****"}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(SasModuleTest, AnswersExactlyTheSevenOperationNames) {
    const char* names[] = {"zelkor_ial_open",         "zelkor_ial_close",          "zelkor_ial_version",
                           "zelkor_ial_getExpanders", "zelkor_ial_downloadRegion", "zelkor_ial_uploadRegion",
                           "zelkor_ial_eraseRegion"};
    std::vector<ZELKOR_GENERIC_FUNCTION> seen;
    for (const char* name : names) {
        ZELKOR_GENERIC_FUNCTION f = ial_sas_query_symbol(name);
        ASSERT_NE(f, nullptr) << name;
        EXPECT_EQ(std::count(seen.begin(), seen.end(), f), 0) << name;
        seen.push_back(f);
    }
    for (const char* other : {"zelkor_ial_downloadRamdebug", "ZELKOR_IAL_OPEN", "zelkor_ial_ope",
                              "zelkor_ial_open ", "", "zelkor_hal_open"})
        EXPECT_EQ(ial_sas_query_symbol(other), nullptr) << other;
    EXPECT_EQ(ial_sas_query_symbol(nullptr), nullptr);

    auto version = op<IAL_VERSION_FUNCTION>("zelkor_ial_version");
    uint8_t major = 0;
    uint8_t minor = 9;
    EXPECT_EQ(version(&major, &minor), 0u);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 0);
    EXPECT_EQ(version(nullptr, &minor), 5u);
    EXPECT_EQ(version(&major, nullptr), 5u);
}

TEST_F(SasModuleTest, IdentificationNeedsAProgressCallback) {
    sim::loadScenario("device sg0 ostrel\n sas-address 500605B0:0000A1C0\ndevice sg1 quenza\n");
    handle_.progress = nullptr;
    void* out = nullptr;
    testing::internal::CaptureStdout();
    EXPECT_EQ(open(kAddress, &out), 20u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "**** ERROR **** Invalid arguments**** ERROR **** Invalid arguments");
    EXPECT_EQ(cdbs(), (std::vector<std::string>{kSignature, kSignature}));
}

TEST_F(SasModuleTest, OstrelRevisionProbeLeavesTheRegisterAsWritten) {
    sim::loadScenario("device sg0 ostrel\n sas-address 500605B0:0000A1C0\n revision 2\n"
                      " register 0xC00000A0 0x11 writable 0xFFFFFF7F\n");
    ASSERT_EQ(open(kAddress, &instance_), 0u);
    const auto commands = sim::commands();
    // Bit 7 was set in the first write and did not stick; bit 6 is added to what was read back.
    EXPECT_EQ(commands[3].at("out"), "91000000");
    EXPECT_EQ(commands[6].at("out"), "51000000");
    EXPECT_EQ(sim::stateLines(sim::stateText(), "sg0", "register 0xC00000A0"),
              std::vector<std::string>{"register 0xC00000A0 0x00000051 misc-config"});
}

TEST_F(SasModuleTest, FailedRevisionProbeLeavesTheRevisionUnsetAndGoesOn) {
    sim::loadScenario("device sg0 ostrel\n sas-address 500605B0:0000A1C0\n revision 2\n"
                      " fault read-buffer:0xC2:0xC00000A0 illegal-request skip=1\n");
    testing::internal::CaptureStdout();
    ASSERT_EQ(open(kAddress, &instance_), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), " **** OSAL SAS Device Read data FAILED");
    EXPECT_EQ(FIELD(sas()->expander, revision), "");
    EXPECT_EQ(sas()->expander.revisionCode, 2);
    EXPECT_EQ(FIELD(sas()->expander, name), "SIMBOARD (Tolvane24)");
    EXPECT_TRUE(containsLine(
        log_->lines(), "ERROR : zelkor_ial_SAS::zelkor_ial_getExpanderIDAndRevision : Reading 4 bytes of "
                       "MISC_CONFIG_REG at 0xc00000a0 offset using 0xc2 buffer ID **** FAILED ****"));
}

TEST_F(SasModuleTest, RevisionProbeWriteNotTakenWholeIsAFailedProbe) {
    sim::loadScenario("device sg0 ostrel\n sas-address 500605B0:0000A1C0\n revision 2\n"
                      " fault write-buffer:0xC2:0xC00000A0 short 2\n");
    ASSERT_EQ(open(kAddress, &instance_), 0u);
    EXPECT_EQ(FIELD(sas()->expander, revision), "");
    EXPECT_EQ(sas()->expander.revisionCode, 2);
    EXPECT_TRUE(containsLine(
        log_->lines(), "ERROR : zelkor_ial_SAS::zelkor_ial_getExpanderIDAndRevision : Unable to Write 0x80 "
                       "data of 4 bytes at 0xc00000a0 offset using 0xc2 Buffer ID **** FAILED ****"));
}

struct BoardNameCase {
    const char* label;
    std::string scenario;
    const char* name;
    uint8_t fillFlag;
};

class BoardName : public SasModuleTest, public testing::WithParamInterface<BoardNameCase> {};

TEST_P(BoardName, IsBoundedAndFallsBackPerFamily) {
    sim::loadScenario(GetParam().scenario + " sas-address 500605B0:0000A1C0\n");
    ASSERT_EQ(open(kAddress, &instance_), 0u);
    EXPECT_EQ(FIELD(sas()->expander, name), GetParam().name);
    EXPECT_EQ(sas()->expander.name[sizeof sas()->expander.name - 1], '\0');
    EXPECT_EQ(gFillIpAddrFlag, GetParam().fillFlag);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, BoardName,
    testing::Values(
        // Sixteen characters without a terminator in the page.
        BoardNameCase{"SixteenCharacters",
                      "device sg0 ostrel\n product 0x227\n board-name ABCDEFGHIJKLMNOP\n",
                      "ABCDEFGHIJKLMNOP (Tolvane20A)", 1},
        BoardNameCase{
            "SwitchSixteenCharacters",
            "device sg0 ostrel\n product 0x223\n firmware-identity 200\n board-name ABCDEFGHIJKLMNOP\n",
            "ABCDEFGHIJKLMNOP", 1},
        BoardNameCase{"OstrelPageMissing", "device sg0 ostrel\n no-page 0xFF01\n", "Unknown (Tolvane24)", 0},
        BoardNameCase{"SwitchPageMissing",
                      "device sg0 ostrel\n product 0x223\n firmware-identity 200\n no-page 0xFF01\n",
                      "Unknown Switch", 0},
        // A page too short to hold the board name counts as missing.
        BoardNameCase{"OstrelPageTooShort", "device sg0 ostrel\n page-raw 0xFF01 0C0001FF 4142434445464748\n",
                      "Unknown (Tolvane24)", 0},
        BoardNameCase{"OstrelDataReadFails",
                      "device sg0 ostrel\n fault read-buffer:0xE6:0xFF01 illegal-request skip=1\n",
                      "Unknown (Tolvane24)", 0},
        BoardNameCase{"OstrelDataReadShort",
                      "device sg0 ostrel\n fault read-buffer:0xE6:0xFF01 short 20 skip=1\n",
                      "Unknown (Tolvane24)", 0},
        BoardNameCase{"QuenzaHeaderOfAnotherPage",
                      "device sg0 quenza\n page-raw 0xFF01 1C0002FF 0000000000000000 5258343800000000 "
                      "0000000000000000 00000000\n",
                      "Unknown (Vellor_48)", 0},
        BoardNameCase{"QuenzaDataReadFails",
                      "device sg0 quenza\n fault read-buffer:0xE6:0xFF01 illegal-request skip=1\n",
                      "Unknown  (Vellor_48)", 0}),
    [](const auto& info) { return std::string(info.param.label); });

// ---- several expanders ----

const char* kEnclosure = R"(
entry sg4096
device sg0 disk
device sg1 ostrel
    sas-address 500605B0:0000A1C0
    product 0x221
    board-name BX700
    ip 192.168.10.20
    mask 255.255.0.0
    gateway 192.168.10.1
    mac 00:0A:F7:11:22:33
device sg2 palx
device sg3 enclosure
device sg4 quenza
    sas-address 5000CCAB:0400B7F0
    product 0x233
    board-name RX4800
    register 0x424000C0 0x40
device sg5 quenza
    sas-address 5000CCAB:0400B800
    product 0x238
    board-name DX9
    dhcp on
    dhcp-address 10.9.8.7
)";

TEST_F(SasModuleTest, ListsEveryExpanderAndKeepsTheFirstOne) {
    sim::loadScenario(kEnclosure);
    options_.availWithoutAddress = 1;
    ASSERT_EQ(open(0, &instance_), 0u);
    EXPECT_TRUE(cdbs().empty()); // no device is touched before the listing
    ZELKOR_EXPANDER_LIST* list = nullptr;
    ASSERT_EQ(getExpanders(instance_, &list), 0u);
    ASSERT_EQ(list, gPtrExpList);

    std::vector<std::string> names;
    for (const ZELKOR_EXPANDER_LIST* n = list; n != nullptr; n = n->next)
        names.push_back(FIELD(n->expander, name));
    EXPECT_EQ(names,
              (std::vector<std::string>{"BX700 (Tolvane28)", "RX4800 (Vellor_36)", "DX9 (Kestan_48)"}));
    const ZELKOR_EXPANDER& first = list->expander;
    EXPECT_EQ(FIELD(first, ipAddress), "192.168.10.20");
    EXPECT_EQ(FIELD(first, subnetMask), "255.255.0.0");
    EXPECT_EQ(FIELD(first, macAddress), "0.10.247.17.34.51");
    EXPECT_EQ(first.ethernetPageLength, 0u); // the list does not carry the cached page
    // The second expander has no IP address configured: nothing of the first one may show through.
    const ZELKOR_EXPANDER& second = list->next->expander;
    EXPECT_EQ(FIELD(second, ipAddress), "NotConfigured");
    EXPECT_EQ(FIELD(second, subnetMask), "");
    EXPECT_EQ(FIELD(second, macAddress), "");
    EXPECT_EQ(second.dhcp, 0u);
    EXPECT_EQ(second.sasAddressHigh, 0x5000CCABu);
    EXPECT_EQ(second.sasAddressLow, 0x0400B7F0u);
    const ZELKOR_EXPANDER& third = list->next->next->expander;
    EXPECT_EQ(FIELD(third, ipAddress), "10.9.8.7");
    EXPECT_EQ(FIELD(third, subnetMask), "Unknown");
    EXPECT_NE(third.dhcp, 0u);

    // The instance describes the kept expander: its device, its record with the cached page, its encoding.
    EXPECT_EQ(sas()->expander.type, 2u);
    EXPECT_EQ(FIELD(sas()->expander, name), "BX700 (Tolvane28)");
    EXPECT_EQ(sas()->expander.ethernetPageLength, 32u);
    EXPECT_EQ(gExpanderType, 2u);
    EXPECT_EQ(heldDevices(), 1);
    sim::clearTrace();
    ZELKOR_REGION window{ZELKOR_REGION_MEMORY, 0xC0, 0, 0, 0xFFFFFFFFu, 0, 0, 0};
    uint8_t word[4] = {};
    ASSERT_EQ(upload(&window, 0xB000004C, 4, nullptr, word), 0u);
    const auto commands = sim::commands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].at("dev"), "sg1");
    EXPECT_EQ(commands[0].at("cdb"), "3C01C0B000004C000400");
    EXPECT_TRUE(containsInOrder(
        log_->lines(), {"INFO : zelkor_ial_SAS::zelkor_ial_getExpanders : Found OSTREL Device and its Sas "
                        "address 500605b00000a1c0",
                        "INFO : zelkor_ial_SAS::zelkor_ial_getExpanders : Found GEN3 Device and its Sas "
                        "address 5000ccab0400b7f0",
                        "INFO : zelkor_ial_SAS::zelkor_ial_getExpanders : Found  Device and its Sas "
                        "address 5000ccab0400b800"}));
}

TEST_F(SasModuleTest, ListingLogsOnlyItsOwnScanLines) {
    // A device of another type and an expander failing its identification leave no line of their own.
    sim::loadScenario("device sg0 disk\ndevice sg1 ostrel\ndevice sg2 quenza\n fault read-buffer:0xC0 "
                      "transport-error\n");
    options_.availWithoutAddress = 1;
    ASSERT_EQ(open(0, &instance_), 0u);
    ZELKOR_EXPANDER_LIST* list = nullptr;
    ASSERT_EQ(getExpanders(instance_, &list), 0u);
    std::vector<std::string> listing;
    for (const std::string& line : log_->lines())
        if (line.find("::zelkor_ial_getExpanders : ") != std::string::npos)
            listing.push_back(line);
    const std::string at = "INFO : zelkor_ial_SAS::zelkor_ial_getExpanders : ";
    EXPECT_EQ(listing, (std::vector<std::string>{
                           at + "Entry",
                           at + "Detecting the total number of SCSI devices attached to the Host",
                           at + "Host machine has detected 3 attached SCSI devices",
                           at + "Opening the SCSI device 0 ",
                           at + "Opening the SCSI device 1 ",
                           at + "Reading Id and Revision of SCSI device 2",
                           at + "Reading IP Address of Expander",
                           at + "Found OSTREL Device and its Sas address 500a0b0c00000100",
                           at + "Opening the SCSI device 2 ",
                           at + "Reading Id and Revision of SCSI device 3",
                           at + "Exit",
                       }));
}

TEST_F(SasModuleTest, AddressComparisonAndNodeCopyTraceTheirEntryAndExit) {
    const std::string sas = "INFO : zelkor_ial_SAS::";
    sim::loadScenario(kEnclosure);
    void* inst = nullptr;
    ASSERT_EQ(open(0x5000CCAB0400B7F0ull, &inst), 0u);
    ASSERT_EQ(close(inst), 0u);
    EXPECT_TRUE(containsInOrder(
        log_->lines(),
        {sas + "cmpSasAddress : Entry", sas + "cmpSasAddress : Exit",
         "ERROR : zelkor_ial_SAS::zelkor_ial_open : Comparison of SAS address specified by user "
         "with that of Expander **** FAILED ****",
         sas + "cmpSasAddress : Entry", sas + "cmpSasAddress : Exit",
         sas + "zelkor_ial_open : Quenza Device with SAS address 5000ccab0400b7f0 is attached to "
               "the HOST machine",
         sas + "copyExpAttributes : Entry", sas + "copyExpAttributes : Exit"}));

    resetModule();
    log_ = std::make_unique<LogCapture>();
    options_.availWithoutAddress = 1;
    ASSERT_EQ(open(0, &instance_), 0u);
    ZELKOR_EXPANDER_LIST* list = nullptr;
    ASSERT_EQ(getExpanders(instance_, &list), 0u);
    const auto lines = log_->lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), sas + "copyExpAttributes : Entry"), 3);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), sas + "copyExpAttributes : Exit"), 3);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), sas + "cmpSasAddress : Entry"), 0);
}

TEST_F(SasModuleTest, SelectsByAddressAndReadsOnlyItsEthernetPage) {
    sim::loadScenario(kEnclosure);
    ASSERT_EQ(open(0x5000CCAB0400B800ull, &instance_), 0u);
    EXPECT_EQ(FIELD(sas()->expander, name), "DX9 (Kestan_48)");
    EXPECT_EQ(FIELD(sas()->expander, ipAddress), "10.9.8.7");
    EXPECT_EQ(gExpanderType, 5u);
    // Examined devices were identified but their Ethernet pages were not read.
    for (const char* device : {"sg1", "sg4"}) {
        const auto sent = cdbs(device);
        EXPECT_FALSE(sent.empty()) << device;
        EXPECT_EQ(std::count(sent.begin(), sent.end(), kIpStatus), 0) << device;
    }
    EXPECT_EQ(cdbs("sg5").back(), kVpd85);
    EXPECT_EQ(heldDevices(), 1);
    EXPECT_TRUE(containsLine(log_->lines(),
                             "ERROR : zelkor_ial_SAS::zelkor_ial_open : Attached device 1 may not "
                             "be ENCLOSURE type"));
}

TEST_F(SasModuleTest, AddressNotAttachedFailsWithTextsOnTheSecondFailureOnly) {
    sim::loadScenario(kEnclosure);
    void* out = &out;
    testing::internal::CaptureStdout();
    EXPECT_EQ(open(0x5000000000000001ull, &out), 20u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(out, nullptr);
    testing::internal::CaptureStdout();
    EXPECT_EQ(open(0x5000000000000001ull, &out), 20u);
    EXPECT_EQ(
        testing::internal::GetCapturedStdout(),
        "\n SCSI device is not ENCLOSURE  type \n Sas address 5000000000000001 is not attached to the HOST "
        "machine **** FAILED ****");
    testing::internal::CaptureStdout();
    EXPECT_EQ(open(0x5000000000000001ull, &out), 20u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(heldDevices(), 0);
    EXPECT_EQ(gPtrExpList, nullptr);
    EXPECT_EQ(ll_getCount(gSasInstanceList), 0);
}

TEST_F(SasModuleTest, DeviceFailingMidIdentificationIsSkipped) {
    // The first expander fails at its SAS address, the second at its device signature; the third is used.
    sim::loadScenario(R"(
device sg0 ostrel
    sas-address 500605B0:0000A1C0
    fault read-buffer:0xC2:0xB000004C illegal-request
device sg1 quenza
    fault read-buffer:0xC0 transport-error
device sg2 quenza
    sas-address 500605B0:0000A1C0
    product 0x236
)");
    testing::internal::CaptureStdout();
    ASSERT_EQ(open(kAddress, &instance_), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), " **** OSAL SAS Device Read data FAILED");
    EXPECT_EQ(FIELD(sas()->expander, name), "SIMBOARD (Vellor_24)");
    EXPECT_EQ(sas()->expander.type, 4u);
    EXPECT_EQ(heldDevices(), 1);
    EXPECT_TRUE(containsInOrder(log_->lines(), {"ERROR : zelkor_ial_SAS::zelkor_ial_getExpanderSasAddress : "
                                                "Filling Expander specific information **** "
                                                "FAILED ****",
                                                "ERROR : zelkor_ial_SAS::zelkor_ial_open : Reading Expander "
                                                "SAS address for SCSI device 1 **** FAILED ****",
                                                "ERROR : zelkor_ial_SAS::zelkor_ial_open : Reading Expander "
                                                "Id and Revision for SCSI device 2 **** FAILED "
                                                "****"}));
}

TEST_F(SasModuleTest, DevicesOfOtherTypesAreNeverSelected) {
    sim::loadScenario(
        "device sg0 disk\ndevice sg1 palx\n sas-address 500605B0:0000A1C0\ndevice sg2 enclosure\n");
    EXPECT_EQ(open(kAddress, &instance_), 20u);
    EXPECT_EQ(instance_, nullptr);
    // The type-1 signature is recognised, then refused by the identification.
    EXPECT_EQ(cdbs("sg1"), (std::vector<std::string>{kSignature, kSignatureType1}));
    EXPECT_EQ(heldDevices(), 0);
    const auto lines = log_->lines();
    EXPECT_TRUE(containsLine(lines,
                             "ERROR : zelkor_ial_SAS::getIDAndRevision : Reading Expander Id and Revision "
                             "**** FAILED ****"));
    EXPECT_TRUE(
        containsLine(lines, "ERROR : zelkor_ial_SAS::getSignature : Valid Firmware Signature Not Found"));
}

TEST_F(SasModuleTest, HostWithoutDevices) {
    sim::loadScenario("sysfs absent\n");
    void* out = nullptr;
    EXPECT_EQ(open(kAddress, &out), 20u);
    options_.availWithoutAddress = 1;
    ASSERT_EQ(open(0, &instance_), 0u);
    ZELKOR_EXPANDER_LIST stale{};
    ZELKOR_EXPANDER_LIST* list = &stale;
    testing::internal::CaptureStdout();
    EXPECT_EQ(getExpanders(instance_, &list), 51u);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(getExpanders(instance_, &list), 51u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\n ****Host machine is unable to detect any attached SCSI device****");
}

TEST_F(SasModuleTest, UnreadableClassDirectoryFailsTheOpen) {
    sim::loadScenario("sysfs unreadable\ndevice sg0 ostrel\n sas-address 500605B0:0000A1C0\n");
    void* out = nullptr;
    EXPECT_EQ(open(kAddress, &out), 51u);
    EXPECT_EQ(out, nullptr);
}

TEST_F(SasModuleTest, ListingFollowsDirectoryOrder) {
    sim::loadScenario("device sg7 quenza\n board-name Q7\ndevice sg2 ostrel\n board-name O2\n");
    options_.availWithoutAddress = 1;
    ASSERT_EQ(open(0, &instance_), 0u);
    ZELKOR_EXPANDER_LIST* list = nullptr;
    ASSERT_EQ(getExpanders(instance_, &list), 0u);
    ASSERT_NE(list, nullptr);
    ASSERT_NE(list->next, nullptr);
    EXPECT_EQ(FIELD(list->expander, name), "Q7 (Vellor_48)");
    EXPECT_EQ(FIELD(list->next->expander, name), "O2 (Tolvane24)");
    EXPECT_EQ(sas()->expander.type, 4u);
    EXPECT_EQ(gExpanderType, 4u);
}

TEST_F(SasModuleTest, AddressZeroWithoutTheAvailOptionIsLookedFor) {
    sim::loadScenario(kEnclosure);
    void* out = nullptr;
    EXPECT_EQ(open(0, &out), 20u);
    EXPECT_FALSE(cdbs().empty());
    EXPECT_EQ(heldDevices(), 0);
}

TEST_F(SasModuleTest, ListingWithoutExpandersFindsNone) {
    sim::loadScenario("device sg0 disk\ndevice sg1 palx\n");
    options_.availWithoutAddress = 1;
    ASSERT_EQ(open(0, &instance_), 0u);
    ZELKOR_EXPANDER_LIST* list = nullptr;
    EXPECT_EQ(getExpanders(instance_, &list), 21u);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(heldDevices(), 0);
}

TEST_F(SasModuleTest, ArgumentChecksOfOpenAndListing) {
    sim::loadScenario(kEnclosure);
    void* out = &out;
    EXPECT_EQ(op<IAL_OPEN_FUNCTION>("zelkor_ial_open")(nullptr, kAddress, &out), 5u);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(open(kAddress, nullptr), 5u);
    ZELKOR_EXPANDER_LIST* list = nullptr;
    int notAnInstance = 0;
    EXPECT_EQ(getExpanders(&notAnInstance, &list), 4u);
    EXPECT_EQ(getExpanders(nullptr, &list), 4u);
    EXPECT_TRUE(cdbs().empty());
}

TEST_F(SasModuleTest, CloseReleasesTheDeviceOnceAndASecondCloseDoesNothing) {
    sim::loadScenario(kEnclosure);
    void* inst = nullptr;
    ASSERT_EQ(open(kAddress, &inst), 0u);
    EXPECT_EQ(close(inst), 0u);
    EXPECT_EQ(heldDevices(), 0);
    sim::clearTrace();
    EXPECT_EQ(close(inst), 0u);
    EXPECT_TRUE(sim::trace().empty());
    EXPECT_EQ(close(nullptr), 4u);

    // An instance that never got a device is released too, with the failure reported.
    options_.availWithoutAddress = 1;
    ASSERT_EQ(open(0, &inst), 0u);
    EXPECT_EQ(close(inst), 1u);
    EXPECT_EQ(ll_getCount(gSasInstanceList), 0);
}

// ---- Ethernet settings ----

struct EthernetCase {
    const char* label;
    std::string scenario;
    const char* ip;
    const char* mask;
    const char* gateway;
    const char* mac;
    uint32_t dhcp;
    uint32_t cachedLength;
    const char* printed;
};

const char* kOstrelNotFound = "\n\nWARN: Ethernet Configuration Page (0xFF10) not found in flash";
const char* kQuenzaNotFound = "\n\nWARN: Ethernet Configuration Page (0xFF27) not found in flash";

// Data of an Ethernet page: IP address, mask, gateway, MAC address, six reserved bytes, DHCP off.
const std::string kSettings = " 0A010203 FFFFFF00 0A010201 000AF7112233 000000000000 00000000";

std::string padding(size_t bytes) {
    std::string text(1 + 2 * bytes, '0');
    text[0] = ' ';
    return text;
}

std::vector<EthernetCase> ethernetCases() {
    const std::string ostrel = "device sg0 ostrel\n ip 10.1.2.3\n mask 255.255.255.0\n gateway 10.1.2.1\n"
                               " mac 00:0A:F7:11:22:33\n dhcp-address 10.7.7.7\n";
    const std::string quenza = "device sg0 quenza\n ip 10.1.2.3\n mask 255.255.255.0\n gateway 10.1.2.1\n"
                               " mac 00:0A:F7:A0:B1:C2\n dhcp-address 10.7.7.7\n";
    return {
        {"OstrelStatic", ostrel, "10.1.2.3", "255.255.255.0", "10.1.2.1", "0.10.247.17.34.51", 0, 32, ""},
        {"OstrelDhcp", ostrel + " dhcp on\n", "10.7.7.7", "Unknown", "Unknown", "0.10.247.17.34.51", 1, 32,
         ""},
        {"QuenzaStatic", quenza, "10.1.2.3", "255.255.255.0", "10.1.2.1", "0.10.247.160.177.194", 0, 32, ""},
        {"QuenzaDhcp", quenza + " dhcp on\n", "10.7.7.7", "Unknown", "Unknown", "0.10.247.160.177.194", 1, 32,
         ""},
        {"NotConfigured", ostrel + " register 0x424000C0 0x40\n", "NotConfigured", "", "", "", 0, 0, ""},
        {"HeaderLengthZero", ostrel + " page-raw 0xFF10 000010FF\n", "Unknown", "Unknown", "Unknown",
         "Unknown", 0xFFFFFFFFu, 0, kOstrelNotFound},
        {"PageTooShort", ostrel + " page-raw 0xFF10 100010FF 0A010203 FFFFFF00 0A010201\n", "Unknown",
         "Unknown", "Unknown", "Unknown", 0xFFFFFFFFu, 0, kOstrelNotFound},
        {"PageTooLongForTheCache", ostrel + " fault read-buffer:0xE6:0xFF10 length 300\n", "Unknown",
         "Unknown", "Unknown", "Unknown", 0xFFFFFFFFu, 0, kOstrelNotFound},
        {"QuenzaPageOf255Bytes", quenza + " fault read-buffer:0xE6:0xFF27 length 255\n", "Unknown", "Unknown",
         "Unknown", "Unknown", 0xFFFFFFFFu, 0, kQuenzaNotFound},
        {"QuenzaMacPageTooShort", quenza + " page-raw 0xFE05 080005FE 000AF7A0\n", "Unknown", "Unknown",
         "Unknown", "Unknown", 0xFFFFFFFFu, 0, kQuenzaNotFound},
        {"QuenzaMacPageMissing", quenza + " no-page 0xFE05\n", "Unknown", "Unknown", "Unknown", "Unknown",
         0xFFFFFFFFu, 0, kQuenzaNotFound},
        {"ManufacturingRegionBlank", ostrel + " no-page 0xFF01\n no-page 0xFF10\n", "Unknown", "Unknown",
         "Unknown", "Unknown", 0xFFFFFFFFu, 0, ""},
        {"HeaderReadFails", ostrel + " fault read-buffer:0xE6:0xFF10 busy\n", "Unknown", "Unknown", "Unknown",
         "Unknown", 0xFFFFFFFFu, 0, kOstrelNotFound},
        {"DataReadFails", ostrel + " fault read-buffer:0xE6:0xFF10 illegal-request skip=1\n", "Unknown",
         "Unknown", "Unknown", "Unknown", 0xFFFFFFFFu, 0, ""},
        {"DataReadShort", ostrel + " fault read-buffer:0xE6:0xFF10 short 20 skip=1\n", "Unknown", "Unknown",
         "Unknown", "Unknown", 0xFFFFFFFFu, 0, ""},
        {"QuenzaDataReadFails", quenza + " fault read-buffer:0xE6:0xFF27 illegal-request skip=1\n", "Unknown",
         "Unknown", "Unknown", "Unknown", 0xFFFFFFFFu, 0, ""},
        {"VpdReadFails", ostrel + " dhcp on\n fault inquiry:0x85 illegal-request\n", "Unknown", "Unknown",
         "Unknown", "Unknown", 0xFFFFFFFFu, 0, ""},
        {"VpdAddressCutTo15Characters", ostrel + " dhcp on\n dhcp-address 10.100.200.250.77\n",
         "10.100.200.250.", "Unknown", "Unknown", "0.10.247.17.34.51", 1, 32, ""},
        {"VpdReplyShorterThanItsAddress", ostrel + " dhcp on\n fault inquiry:0x85 short 12\n", "Unknown",
         "Unknown", "Unknown", "Unknown", 0xFFFFFFFFu, 0, ""},
        {"VpdPageLengthShorterThanItsAddress", ostrel + " dhcp on\n fault inquiry:0x85 length 6\n", "Unknown",
         "Unknown", "Unknown", "Unknown", 0xFFFFFFFFu, 0, ""},
        {"StatusRegisterUnreadable", ostrel + " fault read-buffer:0xC2:0x424000C0 illegal-request\n",
         "Unknown", "Unknown", "Unknown", "Unknown", 0xFFFFFFFFu, 0, ""},
        // The cache holds 254 bytes at most: a page of that length is kept whole, one byte more is missing.
        {"OstrelLongestPageTheCacheHolds",
         ostrel + " page-raw 0xFF10 FE0010FF" + kSettings + padding(222) + "\n", "10.1.2.3", "255.255.255.0",
         "10.1.2.1", "0.10.247.17.34.51", 0, 254, ""},
        {"OstrelPageOf255Bytes", ostrel + " page-raw 0xFF10 FF0010FF" + kSettings + padding(223) + "\n",
         "Unknown", "Unknown", "Unknown", "Unknown", 0xFFFFFFFFu, 0, kOstrelNotFound},
    };
}

class Ethernet : public SasModuleTest, public testing::WithParamInterface<EthernetCase> {};

TEST_P(Ethernet, SettingsAndCachedPage) {
    const EthernetCase& c = GetParam();
    sim::loadScenario(c.scenario + " sas-address 500605B0:0000A1C0\n");
    testing::internal::CaptureStdout();
    ASSERT_EQ(open(kAddress, &instance_), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.printed);
    const ZELKOR_EXPANDER& e = sas()->expander;
    EXPECT_EQ(FIELD(e, ipAddress), c.ip);
    EXPECT_EQ(FIELD(e, subnetMask), c.mask);
    EXPECT_EQ(FIELD(e, gateway), c.gateway);
    EXPECT_EQ(FIELD(e, macAddress), c.mac);
    EXPECT_EQ(e.dhcp, c.dhcp);
    ASSERT_EQ(e.ethernetPageLength, c.cachedLength);
    if (c.cachedLength != 0) {
        // The whole page as the device returns it.
        const uint16_t page = e.type == 2 ? 0xFF10 : 0xFF27;
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "page 0x%04X ", page);
        const auto lines = sim::stateLines(sim::stateText(), "sg0", prefix);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(sim::fromHex(lines[0].substr(std::strlen(prefix))),
                  std::vector<uint8_t>(e.ethernetPage, e.ethernetPage + e.ethernetPageLength));
    }
    // The node handed out carries the same settings.
    ASSERT_NE(gPtrExpList, nullptr);
    EXPECT_EQ(FIELD(gPtrExpList->expander, ipAddress), c.ip);
    EXPECT_EQ(gPtrExpList->expander.dhcp, c.dhcp);
}

INSTANTIATE_TEST_SUITE_P(Pages, Ethernet, testing::ValuesIn(ethernetCases()),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(SasModuleTest, MissingEthernetPageWarningRespectsForceAndTheLogSaysWhy) {
    sim::loadScenario("device sg0 quenza\n sas-address 500605B0:0000A1C0\n no-page 0xFF27\n");
    options_.force = 1;
    testing::internal::CaptureStdout();
    ASSERT_EQ(open(kAddress, &instance_), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const auto lines = log_->lines();
    EXPECT_TRUE(containsLine(lines, "WARN : zelkor_ial_SAS::zelkor_ial_fillIpAddrGen3 : Unable to read "
                                    "ethernet page Header **** FAILED ****"));
    EXPECT_FALSE(containsLine(lines, "WARN : zelkor_ial_SAS::zelkor_ial_fillIpAddrGen3 : Ethernet "
                                     "Configuration Page (0xFF27) not found in Flash"));
}

TEST_F(SasModuleTest, BlankManufacturingRegionIsLoggedAsSuch) {
    sim::loadScenario(
        "device sg0 ostrel\n sas-address 500605B0:0000A1C0\n no-page 0xFF01\n no-page 0xFF10\n");
    ASSERT_EQ(open(kAddress, &instance_), 0u);
    EXPECT_TRUE(containsLine(log_->lines(),
                             "WARN : zelkor_ial_SAS::zelkor_ial_fillIpAddr : Unable to read Ethernet "
                             "parameters as Manufacturing Region is blank."));
}

} // namespace
