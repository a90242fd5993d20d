// The SCSI-generic layer making its real system calls against the preloaded simulated enclosure.
#include "osal/osalSas.h"

#include "client/zsimClient.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <scsi/sg.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace sim = zsim::client;
using Bytes = std::vector<uint8_t>;

// READ BUFFER of the Ethernet page 0xFF10 header and a WRITE BUFFER to a register.
const std::array<uint8_t, 10> kReadPage{0x3C, 0x01, 0xE6, 0xFF, 0x10, 0x00, 0x20, 0x00, 0x00, 0x00};
const std::array<uint8_t, 10> kWriteRegister{0x3B, 0x01, 0xC2, 0x40, 0x90, 0x00, 0x18, 0x00, 0x04, 0x00};

const char* kOneExpander = R"(
device sg0 ostrel
    ip 192.168.10.20
)";

class OsalSas : public testing::Test {
  protected:
    void load(const std::string& scenario) { sim::loadScenario(scenario); }

    OsalSasDevice openFirst() {
        const OsalSasDevice device = osal_sasDeviceOpen(0);
        EXPECT_NE(device, OSAL_SAS_NO_DEVICE);
        sim::clearTrace();
        return device;
    }

    void TearDown() override {
        for (OsalSasDevice device : opened_)
            osal_sasDeviceClose(device);
    }

    OsalSasDevice keep(OsalSasDevice device) {
        if (device != OSAL_SAS_NO_DEVICE)
            opened_.push_back(device);
        return device;
    }

  private:
    std::vector<OsalSasDevice> opened_;
};

TEST_F(OsalSas, CountsOnlyEntriesNamedSgWithANumberUpTo4095) {
    load(R"(
entry sg4095
entry sg4096
entry foo
entry sg01
entry sg-1
entry sg1x
entry sg
device sg7 disk
)");
    EXPECT_EQ(osal_numScsiDevices(), 2);
    std::vector<int> numbers;
    ASSERT_EQ(osal_scsiDeviceNumbers(&numbers), 0);
    EXPECT_EQ(numbers, (std::vector<int>{4095, 7})); // directory order
}

TEST_F(OsalSas, CountIsZeroWithoutTheClassDirectoryAndNegativeWhenItCannotBeListed) {
    load("sysfs absent\ndevice sg0 ostrel\n");
    EXPECT_EQ(osal_numScsiDevices(), 0);
    std::vector<int> numbers{1};
    EXPECT_EQ(osal_scsiDeviceNumbers(&numbers), -ENOENT);
    EXPECT_TRUE(numbers.empty());
    load("sysfs unreadable\ndevice sg0 ostrel\n");
    EXPECT_EQ(osal_numScsiDevices(), -EACCES);
    EXPECT_EQ(osal_scsiDeviceNumbers(&numbers), -EACCES);
}

TEST(OsalSasNames, DeviceNumberParsing) {
    struct Case {
        const char* name;
        bool accepted;
        int number;
    };
    for (const Case& c :
         {Case{"sg0", true, 0}, Case{"sg12", true, 12}, Case{"sg4095", true, 4095}, Case{"sg4096", false, 0},
          Case{"sg", false, 0}, Case{"sg007", false, 0}, Case{"sg+1", false, 0}, Case{"sg 1", false, 0},
          Case{"sg1 ", false, 0}, Case{"sgx", false, 0}, Case{"xsg1", false, 0}, Case{"sg99999", false, 0}}) {
        int number = -1;
        EXPECT_EQ(osal_sgDeviceNumber(c.name, &number), c.accepted) << c.name;
        if (c.accepted) {
            EXPECT_EQ(number, c.number) << c.name;
        }
    }
}

TEST_F(OsalSas, KeepsOnlyEnclosureServicesDevices) {
    load(R"(
device sg0 disk
device sg1 ostrel
device sg2 enclosure
device sg3 quenza
    node absent
device sg4 ostrel
    scsi-type 0
)");
    EXPECT_EQ(osal_sasDeviceOpen(0), OSAL_SAS_NO_DEVICE);
    const OsalSasDevice expander = keep(osal_sasDeviceOpen(1));
    const OsalSasDevice enclosure = keep(osal_sasDeviceOpen(2));
    EXPECT_NE(expander, OSAL_SAS_NO_DEVICE);
    EXPECT_NE(enclosure, OSAL_SAS_NO_DEVICE);
    EXPECT_EQ(osal_sasDeviceOpen(3), OSAL_SAS_NO_DEVICE);
    EXPECT_EQ(osal_sasDeviceOpen(4), OSAL_SAS_NO_DEVICE);
    EXPECT_EQ(osal_sasDeviceOpen(9), OSAL_SAS_NO_DEVICE);
    EXPECT_EQ(osal_sasDeviceOpen(4096), OSAL_SAS_NO_DEVICE);
    // The disk and the non-enclosure device were opened read-write, asked for their id and closed again.
    int opens = 0;
    int closes = 0;
    for (const sim::TraceEntry& e : sim::trace()) {
        if (e.kind == "open" && e.fields.count("errno") == 0) {
            ++opens;
            EXPECT_EQ(e.number("flags") & (O_ACCMODE | O_NONBLOCK), O_RDWR | O_NONBLOCK);
        }
        if (e.kind == "close") {
            ++closes;
            EXPECT_TRUE(e.at("dev") == "sg0" || e.at("dev") == "sg4") << e.at("dev");
        }
        if (e.kind == "ioctl") {
            EXPECT_EQ(e.number("request"), SG_GET_SCSI_ID);
        }
    }
    EXPECT_EQ(opens, 4);
    EXPECT_EQ(closes, 2);
}

TEST_F(OsalSas, DescriptorZeroIsAValidDevice) {
    load(kOneExpander);
    const int savedStdin = dup(STDIN_FILENO);
    ASSERT_GE(savedStdin, 0);
    ASSERT_EQ(close(STDIN_FILENO), 0);
    const OsalSasDevice device = osal_sasDeviceOpen(0);
    EXPECT_EQ(device, 0u);
    Bytes page(32);
    uint32_t transferred = 0;
    EXPECT_EQ(osal_sasDeviceRead(device, page.data(), 32, &transferred, kReadPage.data(), kReadPage.size()),
              0);
    EXPECT_EQ(transferred, 32u);
    EXPECT_EQ(page[4], 192);
    EXPECT_EQ(osal_sasDeviceClose(device), 0);
    ASSERT_EQ(dup2(savedStdin, STDIN_FILENO), STDIN_FILENO);
    close(savedStdin);
    int closes = 0;
    for (const sim::TraceEntry& e : sim::trace())
        if (e.kind == "close" && e.at("fd") == "0")
            ++closes;
    EXPECT_EQ(closes, 1);
}

TEST_F(OsalSas, ClosingNoDeviceClosesNothing) {
    load(kOneExpander);
    keep(openFirst());
    EXPECT_EQ(osal_sasDeviceClose(OSAL_SAS_NO_DEVICE), -1);
    EXPECT_TRUE(sim::trace().empty());
}

TEST_F(OsalSas, EveryCommandCarriesTheRequestHeaderAsTheDriverExpectsIt) {
    load(kOneExpander);
    const OsalSasDevice device = keep(openFirst());
    Bytes page(32);
    uint32_t transferred = 0;
    ASSERT_EQ(osal_sasDeviceRead(device, page.data(), 32, &transferred, kReadPage.data(), kReadPage.size()),
              0);
    const Bytes word{0x00, 0x04, 0x00, 0x00};
    ASSERT_EQ(osal_sasDeviceWrite(device, word.data(), 4, &transferred, kWriteRegister.data(), 10), 0);
    EXPECT_EQ(transferred, 4u);
    const auto commands = sim::commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].at("dir"), "in");
    EXPECT_EQ(commands[0].bytes("cdb"), Bytes(kReadPage.begin(), kReadPage.end()));
    EXPECT_EQ(commands[0].number("len"), 32);
    EXPECT_EQ(commands[1].at("dir"), "out");
    EXPECT_EQ(commands[1].bytes("out"), word);
    for (const auto& c : commands) {
        EXPECT_EQ(c.number("timeout"), 500000);
        EXPECT_EQ(c.number("sblen"), 32);
    }
    EXPECT_EQ(sim::stateLines(sim::stateText(), "sg0", "register 0x40900018"),
              (std::vector<std::string>{"register 0x40900018 0x00000400 misc-control"}));
}

struct RetryCase {
    const char* name;
    const char* fault;
    int result;
    size_t commands;
};

// Names the case in test listings.
[[maybe_unused]] void PrintTo(const RetryCase& c, std::ostream* os) {
    *os << c.name;
}

class Retry : public OsalSas, public testing::WithParamInterface<RetryCase> {};

TEST_P(Retry, RepeatsOnceOnUnitAttentionOnly) {
    const RetryCase& c = GetParam();
    load(std::string(kOneExpander) + "    fault read-buffer:0xE6 " + c.fault + "\n");
    const OsalSasDevice device = keep(openFirst());
    Bytes page(32, 0);
    uint32_t transferred = 99;
    EXPECT_EQ(osal_sasDeviceRead(device, page.data(), 32, &transferred, kReadPage.data(), 10), c.result);
    EXPECT_EQ(sim::commands().size(), c.commands);
    if (c.result == 0) {
        EXPECT_EQ(transferred, 32u);
        EXPECT_EQ(page[4], 192);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, Retry,
    testing::Values(RetryCase{"unit_attention_once", "unit-attention", 0, 2},
                    RetryCase{"unit_attention_twice", "unit-attention count=2", -1, 2},
                    RetryCase{"unit_attention_always", "unit-attention count=always", -1, 2},
                    RetryCase{"illegal_request", "illegal-request", -1, 1},
                    RetryCase{"scsi_busy_without_sense", "busy", -1, 1},
                    RetryCase{"transport_error_without_sense", "transport-error", -1, 1},
                    RetryCase{"driver_error_without_sense", "driver-error", -1, 1},
                    RetryCase{"ioctl_failure", "ioctl-failure", -1, 1}),
    [](const testing::TestParamInfo<RetryCase>& info) { return std::string(info.param.name); });

TEST_F(OsalSas, ShortAndZeroTransfersReportTheBytesThatCrossed) {
    load(std::string(kOneExpander) + "    fault read-buffer short 10\n    fault read-buffer zero skip=1\n"
                                     "    fault write-buffer short 1\n");
    const OsalSasDevice device = keep(openFirst());
    Bytes page(32, 0);
    uint32_t transferred = 0;
    EXPECT_EQ(osal_sasDeviceRead(device, page.data(), 32, &transferred, kReadPage.data(), 10), 0);
    EXPECT_EQ(transferred, 10u);
    EXPECT_EQ(osal_sasDeviceRead(device, page.data(), 32, &transferred, kReadPage.data(), 10), 0);
    EXPECT_EQ(transferred, 0u);
    const Bytes word{0, 0, 0, 0};
    EXPECT_EQ(osal_sasDeviceWrite(device, word.data(), 4, &transferred, kWriteRegister.data(), 10), 0);
    EXPECT_EQ(transferred, 1u);
    const auto commands = sim::commands();
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].number("resid"), 22);
    EXPECT_EQ(commands[1].number("resid"), 32);
}

TEST_F(OsalSas, RefusesCommandsWithoutDeviceOrCommand) {
    load(kOneExpander);
    Bytes page(4);
    uint32_t transferred = 7;
    EXPECT_EQ(osal_sasDeviceRead(OSAL_SAS_NO_DEVICE, page.data(), 4, &transferred, kReadPage.data(), 10), -1);
    EXPECT_EQ(transferred, 0u);
    EXPECT_EQ(osal_sasDeviceRead(0, page.data(), 4, &transferred, nullptr, 10), -1);
    EXPECT_TRUE(sim::commands().empty());
}

// ---- the SAS address in the device-identification page ----

Bytes naa(uint8_t protocol, uint8_t flags, uint64_t address, uint8_t length = 8) {
    Bytes d{protocol, flags, 0, length};
    for (int shift = 56; shift >= 0 && d.size() < 4u + length; shift -= 8)
        d.push_back(static_cast<uint8_t>(address >> shift));
    while (d.size() < 4u + length)
        d.push_back(0);
    return d;
}

Bytes page83(const std::vector<Bytes>& descriptors, int lengthAdjust = 0) {
    Bytes page{0x0D, 0x83, 0, 0};
    for (const Bytes& d : descriptors)
        page.insert(page.end(), d.begin(), d.end());
    const auto length = static_cast<uint16_t>(static_cast<int>(page.size()) - 4 + lengthAdjust);
    page[2] = static_cast<uint8_t>(length >> 8);
    page[3] = static_cast<uint8_t>(length);
    return page;
}

constexpr uint64_t kPort = 0x5000CCAB0000ABCDull;
constexpr uint64_t kUnit = 0x5000CCAB00000001ull;

struct AddressCase {
    const char* name;
    Bytes page;
    int received; // -1: the whole page
    uint64_t expected;
};

// Names the case in test listings.
[[maybe_unused]] void PrintTo(const AddressCase& c, std::ostream* os) {
    *os << c.name;
}

class SasAddress : public testing::TestWithParam<AddressCase> {};

TEST_P(SasAddress, FromDeviceIdentificationPage) {
    const AddressCase& c = GetParam();
    const auto received =
        c.received < 0 ? static_cast<uint32_t>(c.page.size()) : static_cast<uint32_t>(c.received);
    // The reply sits in a buffer as large as an INQUIRY reply, the rest of it stale.
    Bytes buffer(255, 0x93);
    std::copy(c.page.begin(), c.page.end(), buffer.begin());
    EXPECT_EQ(getSASAddress(buffer.data(), received), c.expected);
}

const Bytes kUnitNaa = naa(0x01, 0x03, kUnit);
const Bytes kPortNaa = naa(0x61, 0x93, kPort);

INSTANTIATE_TEST_SUITE_P(
    Pages, SasAddress,
    testing::Values(
        AddressCase{"target_port_after_logical_unit", page83({kUnitNaa, kPortNaa}), -1, kPort},
        AddressCase{"logical_unit_only", page83({naa(0x61, 0x83, kUnit)}), -1, 0},
        AddressCase{"protocol_bits_missing", page83({naa(0x01, 0x93, kPort)}), -1, 0},
        AddressCase{"other_protocol_bit", page83({naa(0x21, 0x93, kPort)}), -1, kPort},
        AddressCase{"designator_shorter_than_an_address", page83({naa(0x61, 0x93, kPort, 4)}), -1, 0},
        AddressCase{"page_length_of_four", page83({kPortNaa}, -(static_cast<int>(kPortNaa.size()) - 4)), -1,
                    0},
        AddressCase{"page_length_cuts_the_designator", page83({kUnitNaa, kPortNaa}, -4), -1, 0},
        AddressCase{"page_length_beyond_the_reply", page83({kUnitNaa, kPortNaa}, 200), -1, kPort},
        AddressCase{"reply_cut_inside_the_designator", page83({kUnitNaa, kPortNaa}), 4 + 12 + 8, 0},
        AddressCase{"reply_ends_before_the_match", page83({kUnitNaa, kPortNaa}), 4 + 12, 0},
        AddressCase{"designator_length_beyond_the_page", page83({naa(0x61, 0x93, kPort, 200)}, -188), -1, 0},
        AddressCase{"wrong_page_code",
                    [] {
                        Bytes p = page83({kPortNaa});
                        p[1] = 0x80;
                        return p;
                    }(),
                    -1, 0},
        AddressCase{"nothing_received", page83({kPortNaa}), 0, 0}),
    [](const testing::TestParamInfo<AddressCase>& info) { return std::string(info.param.name); });

TEST_F(OsalSas, ReadsTheSasAddressThroughTheDevice) {
    load(R"(
device sg0 palx
    sas-address 5000CCAB0000ABCD
device sg1 palx
    vpd 0x83 0D830020 0103000850000000000000 01 61930008 5000CCAB
device sg2 palx
    sas-address 5000CCAB0000ABCD
    fault inquiry:0x83 length 0xFFFF
device sg3 palx
    sas-address 5000CCAB0000ABCD
    fault inquiry:0x83 length 20
)");
    // sg1 claims 0x20 bytes of descriptors but its target-port designator arrives cut; sg2 claims far more
    // than it sends; sg3 claims less than its two designators take.
    const std::array<uint8_t, 6> inquiry{0x12, 0x01, 0x83, 0x00, 0xFF, 0x00};
    for (const auto& [number, expected] : {std::pair{0, kPort}, {1, 0ull}, {2, kPort}, {3, 0ull}}) {
        const OsalSasDevice device = keep(osal_sasDeviceOpen(number));
        Bytes reply(255, 0);
        uint32_t transferred = 0;
        ASSERT_EQ(osal_sasDeviceRead(device, reply.data(), 255, &transferred, inquiry.data(), 6), 0);
        EXPECT_EQ(getSASAddress(reply.data(), transferred), expected) << number;
    }
}

} // namespace
