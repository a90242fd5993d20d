// The TCP interface module against a simulated expander on a loopback management port: lookup by name,
// open and close, the frames it sends, identification of each family, and the region operations.
#include "ialTcpFixture.h"

#include <cstdio>
#include <numeric>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

namespace {

using zsim::TcpBytes;
using zsim::TcpFaultKind;
using zsim::TcpFrameKind;

TcpBytes operator+(TcpBytes a, const TcpBytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TcpBytes be32(uint32_t value) {
    return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}

// The 50-byte request header as the expander must receive it.
TcpBytes requestHeader(uint8_t type, uint8_t transactionId, uint32_t dataLength, const TcpBytes& tunnel,
                       const TcpBytes& cdb) {
    const uint32_t total = dataLength + 50;
    return TcpBytes{type, transactionId, 0x0A, 0x00} + be32(type == 0x01 ? total : 50) + be32(total) +
           be32(300000) + tunnel + TcpBytes(11, 0x00) + TcpBytes{0x0A} + be32(dataLength) + cdb;
}

TEST(IalTcpLookup, AnswersTheSevenOperationNamesOnly) {
    for (const char* name :
         {"zelkor_ial_open", "zelkor_ial_close", "zelkor_ial_version", "zelkor_ial_getExpanders",
          "zelkor_ial_downloadRegion", "zelkor_ial_uploadRegion", "zelkor_ial_eraseRegion"})
        EXPECT_NE(ial_tcp_query_symbol(name), nullptr) << name;
    EXPECT_EQ(ial_tcp_query_symbol("zelkor_ial_downloadRamdebug"), nullptr);
    EXPECT_EQ(ial_tcp_query_symbol("zelkor_ial_open "), nullptr);
    EXPECT_EQ(ial_tcp_query_symbol(nullptr), nullptr);

    TcpOperations ops;
    uint8_t major = 0, minor = 9;
    ASSERT_EQ(ops.version(&major, &minor), 0u);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 0);
    EXPECT_EQ(ops.version(nullptr, &minor), 5u);
    EXPECT_EQ(ops.version(&major, nullptr), 5u);
}

TEST_F(IalTcpTest, OpenRefusesNullArgumentsAndUnreachableHosts) {
    void* out = &handle_;
    EXPECT_EQ(ops_.open(nullptr, targetOf("127.0.0.1"), &out), 5u);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(ops_.open(&handle_, 0, &out), 5u);
    EXPECT_EQ(ops_.open(&handle_, targetOf("127.0.0.1"), nullptr), 5u);

    // A bound socket that does not listen refuses connections.
    const int reserved = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::string address;
    for (unsigned host = 2; host < 255 && address.empty(); ++host) {
        const std::string candidate = "127.0.0." + std::to_string((getpid() + host * 7) % 253 + 2);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(kTcpPort);
        local.sin_addr.s_addr = inet_addr(candidate.c_str());
        if (bind(reserved, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0)
            address = candidate;
    }
    ASSERT_FALSE(address.empty());
    const int32_t listedBefore = gTcpInstanceList != nullptr ? ll_getCount(gTcpInstanceList) : 0;
    EXPECT_EQ(ops_.open(&handle_, targetOf(address), &out), 21u);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(ll_getCount(gTcpInstanceList), listedBefore) << "a failed open lists nothing";
    EXPECT_EQ(ops_.open(&handle_, targetOf("no address"), &out), 21u);
    close(reserved);
}

TEST_F(IalTcpTest, OpenConnectsAndCloseForgetsTheInstance) {
    start(kOstrelScenario);
    EXPECT_EQ(handle_.designatedRegions, 1);
    EXPECT_EQ(tcp()->handle, &handle_);
    for (int i = 0; i < 2000 && server().connections() == 0; ++i)
        usleep(1000); // the server accepts in its own thread
    EXPECT_EQ(server().connections(), 1u);
    void* instance = instance_;
    instance_ = nullptr;
    ASSERT_EQ(ops_.close(instance), 0u);
    EXPECT_EQ(ops_.close(instance), 4u) << "a closed instance is no longer listed";
    EXPECT_EQ(ops_.close(nullptr), 4u);
    ZELKOR_EXPANDER_LIST* list = nullptr;
    EXPECT_EQ(ops_.getExpanders(instance, &list), 4u);
    uint8_t byte = 0;
    ZELKOR_REGION window = region(ZELKOR_REGION_MEMORY, 0xC0);
    EXPECT_EQ(ops_.upload(instance, &window, 0, 1, nullptr, &byte), 4u);
    EXPECT_EQ(ops_.download(instance, &window, 0, 1, nullptr, &byte), 4u);
    EXPECT_EQ(ops_.erase(instance, &window), 4u);
}

// Through the core: interface code 4 takes a pointer to the host address text. The open goes on to the
// Quenza hardware module, which reads its regions over the connection; a chip reset ends the connection,
// which the module takes for the request having gone out.
TEST_F(IalTcpTest, ZelkorOpenWithInterfaceFourReachesTheModule) {
    sim_ = std::make_unique<SimulatedExpander>(kQuenzaScenario);
    std::strncpy(gSharedVars.addressCopy, server().address().c_str(), sizeof gSharedVars.addressCopy - 1);
    LogCapture log;
    ZELKOR_INSTANCE* handle = nullptr;
    ZELKOR_EXPANDER_LIST* expanders = nullptr;
    const int32_t listedBefore = gTcpInstanceList != nullptr ? ll_getCount(gTcpInstanceList) : 0;
    ASSERT_EQ(zelkor_open(ZELKOR_INTERFACE_TCP, targetOf(server().address()), &handle, nullptr, &expanders),
              0u);
    ASSERT_NE(handle, nullptr);
    ASSERT_NE(expanders, nullptr);
    EXPECT_EQ(expanders->expander.type, ZELKOR_CHIP_QUENZA);
    EXPECT_EQ(expanders->expander.sasAddressHigh, 0x500605B0u);
    EXPECT_EQ(expanders->expander.sasAddressLow, 0x0000B2D0u);
    EXPECT_EQ(expanders->next, nullptr);
    // A later listing hands out a list of its own; neither it nor the close touches the first.
    ZELKOR_EXPANDER_LIST* again = nullptr;
    ASSERT_EQ(zelkor_getExpanders(handle, &again), 0u);
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, expanders);
    ZELKOR_REGION_LIST* regions = nullptr;
    EXPECT_EQ(zelkor_getRegions(handle, &regions), 0u);
    size_t count = 0;
    while (regions != nullptr) {
        ZELKOR_REGION_LIST* next = regions->next;
        std::free(regions);
        regions = next;
        ++count;
    }
    EXPECT_GE(count, 3u + 8u) << "static rows, partitions and designated rows";
    EXPECT_EQ(zelkor_resetExpander(handle, 1), 0u);
    EXPECT_EQ(zelkor_close(handle), 0u);
    EXPECT_EQ(ll_getCount(gTcpInstanceList), listedBefore) << "the close closed the interface";
    for (ZELKOR_EXPANDER_LIST* list : {expanders, again}) {
        EXPECT_EQ(list->expander.sasAddressLow, 0x0000B2D0u) << "the caller's list outlives the close";
        std::free(list);
    }
    const std::vector<zsim::TcpReceivedFrame> frames = server().frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].kind, TcpFrameKind::Query);
    const std::vector<std::string> lines = log.lines();
    const std::string host = server().address();
    EXPECT_TRUE(containsInOrder(
        lines,
        {"INFO : zelkor_ial_TCP::zelkor_ial_open : Connecting to " + host,
         "INFO : zelkor_ial_TCP::zelkor_ial_open : Connection to Expander with host name " + host +
             " successful",
         "INFO : zelkor_ial_TCP::zelkor_ial_getExpanders : Reading Expander SAS Address",
         "INFO : zelkor_ial_TCP::zelkor_ial_getExpanders : Expander SAS Address is 0x500605b0:0000b2d0",
         "INFO : zelkor_hal_GEN3::zelkor_hal_resetExpander : Updating the return value after successfully "
         "sending "
         "the \"reset\" request to the Expander over Ethernet interface"}));
    std::memset(gSharedVars.addressCopy, 0, sizeof gSharedVars.addressCopy);
}

TEST_F(IalTcpTest, ZelkorOpenOnAnAddressWithoutExpanderFailsAtTheInterfaceOpen) {
    const std::string nowhere = "256.0.0.1";
    ZELKOR_INSTANCE* handle = nullptr;
    ZELKOR_EXPANDER_LIST* expanders = nullptr;
    EXPECT_EQ(zelkor_open(ZELKOR_INTERFACE_TCP, targetOf(nowhere), &handle, nullptr, &expanders), 12u);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(expanders, nullptr);
}

TEST_F(IalTcpTest, SendsExactFramesForQueryReadWriteAndBlockDownload) {
    start(kOstrelScenario);
    gTransactionID = 0;
    ZELKOR_EXPANDER_LIST* list = nullptr;
    ASSERT_EQ(ops_.getExpanders(instance_, &list), 0u);
    std::free(list);
    const TcpBytes tunnel = server().tunnelAddress();
    std::vector<zsim::TcpReceivedFrame> frames = server().frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].bytes,
              (TcpBytes{0x08, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x03, 0xFC}));
    EXPECT_EQ(TcpBytes(tcp()->tunnelAddress, tcp()->tunnelAddress + 8), tunnel);
    server().clearFrames();

    // A read of 4 bytes of buffer 0xC2 at 0xC000004C with transaction id 7.
    gTransactionID = 7;
    ZELKOR_REGION registers = region(ZELKOR_REGION_MEMORY, 0xC2);
    uint8_t word[4] = {};
    ASSERT_EQ(ops_.upload(instance_, &registers, 0xC000004C, 4, nullptr, word), 0u);
    // A write of 4 bytes to MISC_CONFIG_REG through the memory window (base added to the offset).
    ZELKOR_REGION window = region(ZELKOR_REGION_MEMORY, 0xC0, 0, 0xC0000000);
    uint8_t value[4] = {0x80, 0x00, 0x00, 0x00};
    ASSERT_EQ(ops_.download(instance_, &window, 0xA0, 4, nullptr, value), 0u);
    frames = server().frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].bytes, requestHeader(0x02, 7, 4, tunnel,
                                             {0x3C, 0x01, 0xC2, 0xC0, 0x00, 0x00, 0x4C, 0x00, 0x04, 0x00}));
    EXPECT_EQ(frames[1].bytes, requestHeader(0x01, 8, 4, tunnel,
                                             {0x3B, 0x01, 0xC0, 0xC0, 0x00, 0x00, 0xA0, 0x00, 0x04, 0x00}) +
                                   TcpBytes(value, value + 4));
    EXPECT_EQ(server().inspect([](zsim::Expander& e) { return e.space().readWord(0xC00000A0); }), 0x80u);

    // A flash download of 2500 bytes: blocks of 1024, 1024 and 452 bytes, then four progress events.
    server().clearFrames();
    gTransactionID = 0xFE;
    TcpBytes image(2500);
    std::iota(image.begin(), image.end(), uint8_t{3});
    ZELKOR_REGION partition = region(ZELKOR_REGION_PARTITION, 0x85, 1);
    ASSERT_EQ(ops_.download(instance_, &partition, 0x1000, 2500, nullptr, image.data()), 0u);
    EXPECT_EQ(gProgressEvents, 4u);
    frames = server().frames();
    ASSERT_EQ(frames.size(), 3u);
    const uint32_t sizes[] = {1024, 1024, 452};
    for (size_t i = 0; i < 3; ++i) {
        const uint32_t at = 0x1000 + static_cast<uint32_t>(i) * 1024;
        const TcpBytes cdb = {0x3B,
                              0x02,
                              0x85,
                              0x00,
                              static_cast<uint8_t>(at >> 8),
                              0x00,
                              0x00,
                              static_cast<uint8_t>(sizes[i] >> 8),
                              static_cast<uint8_t>(sizes[i]),
                              0x00};
        const TcpBytes data(image.begin() + i * 1024, image.begin() + i * 1024 + sizes[i]);
        EXPECT_EQ(frames[i].bytes,
                  requestHeader(0x01, static_cast<uint8_t>(0xFE + i), sizes[i], tunnel, cdb) + data)
            << "block " << i;
    }
    std::vector<uint8_t> stored;
    server().inspect([&](zsim::Expander& e) { return e.readBuffer(0x85, 0x1000, 2500, stored); });
    EXPECT_EQ(stored, image);
}

// ---- identification ----

struct IdentityCase {
    const char* what;
    const char* scenario;
    ZELKOR_STATUS status;
    uint32_t type;
    const char* name;
    const char* revision;
    uint8_t revisionIndex;
    uint8_t revisionCode;
    uint16_t productId;
};
void PrintTo(const IdentityCase& c, std::ostream* os) {
    *os << c.what;
}

class IalTcpIdentity : public IalTcpTest, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(IalTcpIdentity, IdentifiesTheChipOverTcp) {
    const IdentityCase& c = GetParam();
    start(std::string("device sg0 ") + c.scenario);
    ZELKOR_EXPANDER_LIST* list = nullptr;
    ASSERT_EQ(ops_.getExpanders(instance_, &list), c.status);
    if (c.status != 0) {
        EXPECT_EQ(list, nullptr) << "a failed listing hands out nothing";
        EXPECT_STREQ(tcp()->expander.revision, c.revision);
        return;
    }
    ASSERT_NE(list, nullptr);
    const ZELKOR_EXPANDER& e = list->expander;
    EXPECT_EQ(e.type, c.type);
    EXPECT_STREQ(e.name, c.name);
    EXPECT_STREQ(e.revision, c.revision);
    EXPECT_EQ(e.revisionIndex, c.revisionIndex);
    EXPECT_EQ(e.revisionCode, c.revisionCode);
    EXPECT_EQ(e.productId, c.productId);
    EXPECT_EQ(e.sasAddressHigh, 0x5000C500u);
    EXPECT_EQ(e.sasAddressLow, 0x12345678u);
    EXPECT_STREQ(e.ipAddress, "") << "over TCP no configuration page is read";
    EXPECT_EQ(list->next, nullptr);
    std::free(list);
    // Product 0x223, and only it, reads one byte of the firmware header through the memory window.
    size_t identityReads = 0;
    for (const zsim::TcpReceivedFrame& frame : server().frames()) {
        if (frame.offset != 0x14000028)
            continue;
        ++identityReads;
        EXPECT_EQ(frame.kind, TcpFrameKind::Read);
        EXPECT_EQ(frame.bufferId, 0xC0);
        EXPECT_EQ(frame.length, 1u);
    }
    EXPECT_EQ(identityReads, c.productId == 0x223 ? 1u : 0u);
}

#define SAS "    sas-address 5000C500:12345678\n"
// clang-format off
INSTANTIATE_TEST_SUITE_P(Families, IalTcpIdentity, ::testing::Values(
    IdentityCase{"OstrelA0",           "ostrel\n" SAS "product 0x220\n revision 0\n", 0, 2, "Tolvane24", "A0", 0, 0, 0x220},
    IdentityCase{"OstrelA1",           "ostrel\n" SAS "product 0x221\n revision 1\n", 0, 2, "Tolvane28", "A1", 1, 1, 0x221},
    IdentityCase{"OstrelB0B1",         "ostrel\n" SAS "product 0x224\n revision 2\n", 0, 2, "Tolvane12", "B0/B1", 2, 2, 0x224},
    IdentityCase{"OstrelB2",           "ostrel\n" SAS "product 0x225\n revision 2\n register 0xC00000A0 0 writable 0xFFFFFF7F\n", 0, 2, "Tolvane16", "B2", 3, 4, 0x225},
    IdentityCase{"OstrelB3",           "ostrel\n" SAS "product 0x226\n revision 2\n register 0xC00000A0 0 writable 0xFFFFFF3F\n", 0, 2, "Tolvane20", "B3", 4, 5, 0x226},
    IdentityCase{"Brisko16",           "ostrel\n" SAS "product 0x223\n firmware-identity 200\n", 0, 3, "Brisko16", "A0", 0, 0, 0x223},
    IdentityCase{"Tolvane36",          "ostrel\n" SAS "product 0x223\n firmware-identity 201\n", 0, 2, "Tolvane36", "A0", 0, 0, 0x223},
    IdentityCase{"Kerrin36",           "ostrel\n" SAS "product 0x213\n", 0, 1, "Kerrin36", "A0", 0, 0, 0x213},
    IdentityCase{"OstrelUnknownModel", "ostrel\n" SAS "product 0x2AB\n", 0, 0, "Unknown Expander", "A0", 0, 0, 0x2AB},
    IdentityCase{"OstrelUnknownRev",   "ostrel\n" SAS "product 0x220\n revision 3\n", 1, 0, "", "Unknown Revision", 0, 3, 0},
    IdentityCase{"QuenzaB0",           "quenza\n" SAS "product 0x230\n revision 1\n", 0, 4, "Vellor_48", "B0", 1, 1, 0x230},
    IdentityCase{"DaxA0",              "quenza\n" SAS "product 0x23C\n revision 0\n", 0, 5, "Kestan_28", "A0", 0, 0, 0x23C},
    IdentityCase{"QuenzaUnknownRev",   "quenza\n" SAS "product 0x236\n revision 9\n", 0, 4, "Vellor_24", "Unknown Revision", 0, 9, 0x236}),
    [](const auto& info) { return std::string(info.param.what); });
// clang-format on
#undef SAS

TEST_F(IalTcpTest, OstrelRevisionProbeSetsBitSevenThenBitSixOfMiscConfig) {
    LogCapture log;
    start("device sg0 ostrel\n product 0x220\n revision 2\n register 0xC00000A0 0x11 writable 0xFFFFFF3F\n");
    ZELKOR_EXPANDER_LIST* list = nullptr;
    ASSERT_EQ(ops_.getExpanders(instance_, &list), 0u);
    EXPECT_STREQ(list->expander.revision, "B3");
    std::free(list);
    struct Access {
        TcpFrameKind kind;
        uint32_t offset;
        TcpBytes data;
    };
    const std::vector<Access> expected = {
        {TcpFrameKind::Query, 0, {}},
        {TcpFrameKind::Read, 0xC000004C, {}},
        {TcpFrameKind::Read, 0xC000002C, {}},
        {TcpFrameKind::Read, 0xC00000A0, {}},
        {TcpFrameKind::Write, 0xC00000A0, {0x91, 0, 0, 0}},
        {TcpFrameKind::Read, 0xC00000A0, {}},
        {TcpFrameKind::Read, 0xC00000A0, {}},
        {TcpFrameKind::Write, 0xC00000A0, {0x51, 0, 0, 0}},
        {TcpFrameKind::Read, 0xC00000A0, {}},
    };
    const std::vector<zsim::TcpReceivedFrame> frames = server().frames();
    ASSERT_EQ(frames.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(frames[i].kind, expected[i].kind) << i;
        if (expected[i].kind == TcpFrameKind::Query)
            continue;
        EXPECT_EQ(frames[i].bufferId, 0xC2) << i;
        EXPECT_EQ(frames[i].offset, expected[i].offset) << i;
        EXPECT_EQ(frames[i].data, expected[i].data) << i;
    }
    EXPECT_TRUE(containsInOrder(
        log.lines(),
        {"INFO : zelkor_ial_TCP::zelkor_ial_getExpanders : Identifying Expander as Gen2 or Gen3",
         "INFO : zelkor_ial_TCP::zelkor_ial_getExpanders : Ostrel Device Signature is 0x02200200",
         "INFO : zelkor_ial_TCP::zelkor_ial_getExpanders : Re-reading Miscellaneous Config register for "
         "identifying "
         "Ostrel boards",
         "INFO : zelkor_ial_TCP::zelkor_ial_getExpanders : Expander Revision Id is B3",
         "INFO : zelkor_ial_TCP::zelkor_ial_getExpanders : Expander Type is Tolvane24"}));
}

TEST_F(IalTcpTest, QuenzaSignatureIsReadTwiceAndDecoded) {
    LogCapture log;
    start(kQuenzaScenario);
    ZELKOR_EXPANDER_LIST* list = nullptr;
    ASSERT_EQ(ops_.getExpanders(instance_, &list), 0u);
    EXPECT_STREQ(list->expander.familyName, "Quenza");
    std::free(list);
    const std::vector<zsim::TcpReceivedFrame> frames = server().frames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[2].offset, 0xC380002Cu);
    EXPECT_EQ(frames[3].offset, 0xC380002Cu);
    EXPECT_TRUE(containsInOrder(
        log.lines(), {"INFO : zelkor_ial_TCP::zelkor_ial_getExpanders : Device Signature is 0x02300100",
                      "INFO : zelkor_ial_TCP::zelkor_ial_getExpanders : Device found is Quenza",
                      "INFO : zelkor_ial_TCP::zelkor_ial_getExpanders : Expander Revision Id is B0",
                      "INFO : zelkor_ial_TCP::zelkor_ial_getExpanders : Expander Type is Vellor_48"}));
}

TEST_F(IalTcpTest, LaterListingsOnlyRefreshTheSasAddress) {
    startListed(kOstrelScenario);
    server().inspect([](zsim::Expander& e) {
        e.setIdentity(0x5000C50011112222ull, 0x220, 0);
        return 0;
    });
    ZELKOR_EXPANDER_LIST* list = nullptr;
    ASSERT_EQ(ops_.getExpanders(instance_, &list), 0u);
    EXPECT_STREQ(list->expander.name, "Tolvane24");
    EXPECT_EQ(list->expander.sasAddressLow, 0x11112222u);
    const std::vector<zsim::TcpReceivedFrame> frames = server().frames();
    ASSERT_EQ(frames.size(), 1u) << "no second identification on this connection";
    EXPECT_EQ(frames[0].kind, TcpFrameKind::Query);
    // A list already handed out is left alone.
    ZELKOR_EXPANDER_LIST* held = list;
    EXPECT_EQ(ops_.getExpanders(instance_, &list), 0u);
    EXPECT_EQ(list, held);
    EXPECT_EQ(server().frames().size(), 1u);
    std::free(list);
    EXPECT_EQ(ops_.getExpanders(instance_, nullptr), 5u);

    // Another connection of the same process identifies its own expander.
    SimulatedExpander other(kQuenzaScenario);
    void* second = nullptr;
    ASSERT_EQ(ops_.open(&handle_, targetOf(other.server.address()), &second), 0u);
    list = nullptr;
    ASSERT_EQ(ops_.getExpanders(second, &list), 0u);
    EXPECT_EQ(list->expander.type, ZELKOR_CHIP_QUENZA);
    EXPECT_STREQ(list->expander.name, "Vellor_48");
    std::free(list);
    // Each connection carries the tunnel address its own expander handed out.
    uint8_t word[4];
    ZELKOR_REGION registers = region(ZELKOR_REGION_MEMORY, 0xC2);
    EXPECT_EQ(ops_.upload(instance_, &registers, 0xC000002C, 4, nullptr, word), 0u);
    EXPECT_EQ(ops_.upload(second, &registers, 0xC380002C, 4, nullptr, word), 0u);
    EXPECT_EQ(ops_.close(second), 0u);
}

// A failing step of the identification fails the listing with its own code.
struct IdentifyFailureCase {
    const char* what;
    const char* scenario;
    uint32_t offset;
    uint32_t skip;
    uint32_t count;
    ZELKOR_STATUS status;
};
void PrintTo(const IdentifyFailureCase& c, std::ostream* os) {
    *os << c.what;
}

class IalTcpIdentifyFailure : public IalTcpTest, public ::testing::WithParamInterface<IdentifyFailureCase> {};

TEST_P(IalTcpIdentifyFailure, FailsTheListing) {
    const IdentifyFailureCase& c = GetParam();
    start(c.scenario);
    zsim::TcpFault f = fault(TcpFrameKind::Any, TcpFaultKind::Fail, 2, c.count);
    f.match.offset = c.offset;
    f.skip = c.skip;
    server().addFault(f);
    ZELKOR_EXPANDER_LIST* list = nullptr;
    EXPECT_EQ(ops_.getExpanders(instance_, &list), c.status);
    if (c.status != 0) {
        EXPECT_EQ(list, nullptr);
        // The chip was not identified: the next listing on the connection identifies it again.
        ASSERT_EQ(ops_.getExpanders(instance_, &list), 0u);
        EXPECT_NE(list->expander.type, 0u);
        EXPECT_STRNE(list->expander.name, "");
        std::free(list);
        return;
    }
    std::free(list);
    EXPECT_EQ(server().faultsStruck(), std::vector<uint32_t>{c.count}) << "the retry read again";
}

constexpr const char* kOstrelRev2 = "device sg0 ostrel\n product 0x220\n revision 2\n";
constexpr const char* kSwitch = "device sg0 ostrel\n product 0x223\n firmware-identity 200\n";
// clang-format off
INSTANTIATE_TEST_SUITE_P(Steps, IalTcpIdentifyFailure, ::testing::Values(
    IdentifyFailureCase{"GenerationProbeRetried",     kOstrelScenario, 0xC000004C, 0, 1, 0},
    IdentifyFailureCase{"GenerationProbeTwice",       kOstrelScenario, 0xC000004C, 0, 2, 1},
    IdentifyFailureCase{"OstrelSignature",            kOstrelScenario, 0xC000002C, 0, 1, 1},
    IdentifyFailureCase{"MiscConfigFirstRead",        kOstrelRev2,     0xC00000A0, 0, 1, 1},
    IdentifyFailureCase{"MiscConfigWrite",            kOstrelRev2,     0xC00000A0, 1, 1, 1},
    IdentifyFailureCase{"MiscConfigReread",           kOstrelRev2,     0xC00000A0, 2, 1, 1},
    IdentifyFailureCase{"SwitchIdentity",             kSwitch,         0x14000028, 0, 1, 25},
    IdentifyFailureCase{"QuenzaFirstSignature",       kQuenzaScenario, 0xC380002C, 0, 1, 1},
    IdentifyFailureCase{"QuenzaSignatureRetried",     kQuenzaScenario, 0xC380002C, 1, 1, 0},
    IdentifyFailureCase{"QuenzaSignatureRetryFails",  kQuenzaScenario, 0xC380002C, 1, 2, 1}),
    [](const auto& info) { return std::string(info.param.what); });
// clang-format on

TEST_F(IalTcpTest, QueryReplyMustArriveWholeBeforeItIsUsed) {
    start(kOstrelScenario);
    server().addFault(fault(TcpFrameKind::Query, TcpFaultKind::Split, 18));
    ZELKOR_EXPANDER_LIST* list = nullptr;
    ASSERT_EQ(ops_.getExpanders(instance_, &list), 0u);
    EXPECT_EQ(list->expander.sasAddressHigh, 0x500605B0u);
    EXPECT_EQ(list->expander.sasAddressLow, 0x0000A1C0u);
    std::free(list);
    list = nullptr;
    server().addFault(fault(TcpFrameKind::Query, TcpFaultKind::Truncate, 22));
    EXPECT_EQ(ops_.getExpanders(instance_, &list), 1u);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(tcp()->expander.sasAddressLow, 0x0000A1C0u) << "the cut reply changed nothing";
}

// ---- region operations ----

TEST_F(IalTcpTest, UploadsMemoryFlashAndDescriptorsIntoBufferOrFile) {
    startListed("device sg0 quenza\n sas-address 500605B0:0000B2D0\n buffer 0xE1 0x10 A1A2A3A4A5\n"
                " memory 0x20000000 11223344\n");
    ZELKOR_REGION window = region(ZELKOR_REGION_MEMORY, 0xC0, 0, 0x20000000);
    uint8_t word[4] = {};
    ASSERT_EQ(ops_.upload(instance_, &window, 0, 4, nullptr, word), 0u);
    EXPECT_EQ(TcpBytes(word, word + 4), (TcpBytes{0x11, 0x22, 0x33, 0x44}));

    ZELKOR_REGION designated = region(4, 0xE1);
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(ops_.upload(instance_, &designated, 0x10, 5, file, nullptr), 0u);
    std::rewind(file);
    uint8_t back[8] = {};
    EXPECT_EQ(std::fread(back, 1, sizeof back, file), 5u);
    EXPECT_EQ(TcpBytes(back, back + 5), (TcpBytes{0xA1, 0xA2, 0xA3, 0xA4, 0xA5}));
    std::fclose(file);

    // With the descriptor flag a 4-byte read is the buffer's capacity, turned into a word.
    ZELKOR_REGION capacity = region(4, 0xE1, 0, 0, 1);
    ASSERT_EQ(ops_.upload(instance_, &capacity, 0, 4, nullptr, word), 0u);
    uint32_t value = 0;
    std::memcpy(&value, word, 4);
    EXPECT_EQ(value, 0x10000u);
    EXPECT_EQ(server().frames().back().mode, 3);

    // A read that the expander refuses fails and says so.
    ZELKOR_REGION missing = region(2, 0xBF);
    EXPECT_EQ(ops_.upload(instance_, &missing, 0, 4, nullptr, word), 1u);
}

TEST_F(IalTcpTest, RefusesBadTransferArgumentsWithoutSending) {
    startListed(kOstrelScenario);
    uint8_t data[4] = {};
    ZELKOR_REGION window = region(ZELKOR_REGION_MEMORY, 0xC0);
    FILE* file = std::tmpfile();
    for (IAL_TRANSFER_FUNCTION op : {ops_.upload, ops_.download}) {
        EXPECT_EQ(op(instance_, nullptr, 0, 4, nullptr, data), 5u);
        EXPECT_EQ(op(instance_, &window, 0, 0, nullptr, data), 5u);
        EXPECT_EQ(op(instance_, &window, 0, 4, nullptr, nullptr), 5u);
        EXPECT_EQ(op(instance_, &window, 0, 4, file, data), 5u);
        EXPECT_EQ(op(&handle_, &window, 0, 4, nullptr, data), 4u) << "not an instance of the module";
    }
    EXPECT_EQ(ops_.erase(instance_, nullptr), 5u);
    std::fclose(file);
    EXPECT_TRUE(server().frames().empty());
}

// Offsets and lengths the request cannot carry are refused before anything is sent, so that a flash
// download never stops half-way for a block the command cannot address.
TEST_F(IalTcpTest, RefusesTransfersTheRequestCannotAddressBeforeSending) {
    startListed(kOstrelScenario);
    std::vector<uint8_t> image(2048, 0x5A);
    ZELKOR_REGION partition = region(ZELKOR_REGION_PARTITION, 0x85, 1);
    ZELKOR_REGION window = region(ZELKOR_REGION_MEMORY, 0xC0);
    ZELKOR_REGION wideId = region(ZELKOR_REGION_PARTITION, 0x185, 1);
    const struct {
        const char* what;
        IAL_TRANSFER_FUNCTION op;
        ZELKOR_REGION* region;
        uint32_t offset;
        uint32_t size;
    } cases[] = {
        {"second block beyond the 24-bit offset", ops_.download, &partition, 0xFFFC00, 2048},
        {"offset beyond 24 bits", ops_.download, &partition, 0x1000000, 4},
        {"flash read beyond 24 bits", ops_.upload, &partition, 0x1000000, 4},
        {"memory write longer than 16 bits", ops_.download, &window, 0x20000000, 0x10000},
        {"region id beyond a byte", ops_.download, &wideId, 0, 4},
        {"region id beyond a byte, read", ops_.upload, &wideId, 0, 4},
    };
    std::vector<uint8_t> room(0x10000);
    for (const auto& c : cases) {
        std::copy(image.begin(), image.end(), room.begin());
        EXPECT_EQ(c.op(instance_, c.region, c.offset, c.size, nullptr, room.data()), 5u) << c.what;
        EXPECT_TRUE(server().frames().empty()) << c.what;
        server().clearFrames();
    }
    EXPECT_EQ(gProgressEvents, 0u);
}

TEST_F(IalTcpTest, DownloadsFromAFileOnlyWhatTheFileHolds) {
    startListed(kOstrelScenario);
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const TcpBytes content = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    std::fwrite(content.data(), 1, content.size(), file);
    ZELKOR_REGION designated = region(4, 0xE1);
    ZELKOR_REGION window = region(ZELKOR_REGION_MEMORY, 0xC0);
    // A size beyond the file's end is refused: bytes the file does not hold are never made up.
    LogCapture log;
    EXPECT_EQ(ops_.download(instance_, &designated, 0, 11, file, nullptr), 5u);
    EXPECT_EQ(ops_.download(instance_, &window, 0x20000000, 12, file, nullptr), 5u);
    EXPECT_TRUE(server().frames().empty());
    EXPECT_TRUE(containsInOrder(
        log.lines(),
        {"ERROR : zelkor_ial_TCP::zelkor_ial_downloadRegion : Invalid Arguments **** FAILED ****"}));
    // The whole file, or its start, goes out from the file's first byte whatever its position. The
    // region is classified before the file is read.
    LogCapture written;
    ASSERT_EQ(ops_.download(instance_, &designated, 0, 10, file, nullptr), 0u);
    const std::string module = "INFO : zelkor_ial_TCP::";
    EXPECT_TRUE(containsInOrder(
        written.lines(),
        {module + "zelkor_ial_checkRegion : Read/Write to FLASH",
         module + "zelkor_ial_downloadRegion : Converting File to Buffer",
         module + "zelkor_ial_downloadRegion : Writing 10 Bytes at 0x00000000 Offset using 0xe1 Buffer ID"}));
    ASSERT_EQ(ops_.download(instance_, &designated, 0x20, 6, file, nullptr), 0u);
    std::fclose(file);
    const std::vector<zsim::TcpReceivedFrame> frames = server().frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].data, content);
    EXPECT_EQ(frames[1].data, (TcpBytes{1, 2, 3, 4, 5, 6}));
}

TEST_F(IalTcpTest, ErasesRegionsWithTwelveBytesOfFF) {
    startListed("device sg0 ostrel\n buffer 0xE2 0 0102\n");
    // Buffer 0xE2 is erased through 0xEB; the caller's region keeps the new id.
    ZELKOR_REGION designated = region(5, 0xE2);
    ASSERT_EQ(ops_.erase(instance_, &designated), 0u);
    EXPECT_EQ(designated.regionId, 0xEBu);
    std::vector<zsim::TcpReceivedFrame> frames = server().frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bufferId, 0xEB);
    EXPECT_EQ(frames[0].offset, 0u);
    EXPECT_EQ(frames[0].data, TcpBytes(12, 0xFF));
    EXPECT_EQ(server().inspect([](zsim::Expander& e) { return e.erasedBuffers(); }),
              std::vector<uint8_t>{0xE2});
    EXPECT_EQ(gProgressEvents, 4u) << "the erase is a one-block flash download";

    // A flash region of index 0xFF is left to the hardware module.
    server().clearFrames();
    ZELKOR_REGION unknown = region(ZELKOR_REGION_PARTITION, 0x85, 0xFF);
    EXPECT_EQ(ops_.erase(instance_, &unknown), 27u);
    uint8_t block[8] = {};
    EXPECT_EQ(ops_.download(instance_, &unknown, 0, sizeof block, nullptr, block), 27u);
    EXPECT_TRUE(server().frames().empty());

    // The whole flash: every partition of the handle's region list, in order.
    ZELKOR_REGION_LIST nodes[4] = {{region(ZELKOR_REGION_MEMORY, 0xC0), nullptr},
                                   {region(ZELKOR_REGION_PARTITION, 0x85, 1), nullptr},
                                   {region(ZELKOR_REGION_FLASH, 0x00), nullptr},
                                   {region(ZELKOR_REGION_PARTITION, 0x89, 2, 0, 1), nullptr}};
    ZELKOR_REGION whole = region(ZELKOR_REGION_FLASH, 0x00);
    EXPECT_EQ(ops_.erase(instance_, &whole), 4u) << "no region list";
    handle_.regions = &nodes[0];
    EXPECT_EQ(ops_.erase(instance_, &whole), 4u) << "no partition in the list";
    for (int i = 0; i < 3; ++i)
        nodes[i].next = &nodes[i + 1];
    ASSERT_EQ(ops_.erase(instance_, &whole), 0u);
    frames = server().frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].bufferId, 0x85);
    EXPECT_EQ(frames[0].mode, 2);
    EXPECT_EQ(frames[1].bufferId, 0x89);
    EXPECT_EQ(server().inspect([](zsim::Expander& e) { return e.erasedBuffers(); }),
              (std::vector<uint8_t>{0xE2, 0x85, 0x89}));
    EXPECT_EQ(frames[1].mode, 2);
    // The walk stops at the first failure.
    server().clearFrames();
    server().addFault(fault(TcpFrameKind::Write, TcpFaultKind::Fail, 2));
    EXPECT_EQ(ops_.erase(instance_, &whole), 1u);
    EXPECT_EQ(server().frames().size(), 1u);
    handle_.regions = nullptr;
}

TEST_F(IalTcpTest, EthernetSizeCodeIsRefusedAndPlainWritesOfThatSizePass) {
    startListed(kOstrelScenario);
    uint8_t value[4] = {192, 168, 1, 5};
    ZELKOR_REGION window = region(ZELKOR_REGION_MEMORY, 0xC0);
    for (uint8_t selector = 0; selector < 4; ++selector) {
        handle_.fieldSelector = selector;
        EXPECT_EQ(ops_.download(instance_, &window, 0xFF10, (uint32_t{selector} << 8) | 0xE6, nullptr, value),
                  3u);
        EXPECT_EQ(ops_.download(instance_, &window, 0xFF27, (uint32_t{selector} << 8) | 0xE6, nullptr, value),
                  3u);
    }
    EXPECT_TRUE(server().frames().empty());
    // 0xE6 bytes of memory anywhere else are data like any other.
    handle_.fieldSelector = 0;
    TcpBytes block(0xE6, 0x5A);
    ASSERT_EQ(ops_.download(instance_, &window, 0x20000000, 0xE6, nullptr, block.data()), 0u);
    ASSERT_EQ(server().frames().size(), 1u);
    EXPECT_EQ(server().frames()[0].data, block);
}

// A reset request makes the expander drop the connection: the write answers 62 for the hardware
// module to judge, however the connection went.
struct ResetCase {
    const char* what;
    const char* scenario;
    uint32_t address;
    uint32_t word;
    zsim::TcpResetDrop drop;
    uint8_t bufferId;
    TcpBytes sent;
};
void PrintTo(const ResetCase& c, std::ostream* os) {
    *os << c.what;
}

class IalTcpReset : public IalTcpTest, public ::testing::WithParamInterface<ResetCase> {};

TEST_P(IalTcpReset, DroppedConnectionAnswers62) {
    const ResetCase& c = GetParam();
    startListed(c.scenario);
    server().setResetDrop(c.drop);
    ZELKOR_REGION window = region(ZELKOR_REGION_MEMORY, 0xC0);
    uint8_t key[4];
    std::memcpy(key, &c.word, 4);
    EXPECT_EQ(ops_.download(instance_, &window, c.address, 4, nullptr, key), 62u);
    const std::vector<zsim::TcpReceivedFrame> frames = server().frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bufferId, c.bufferId);
    EXPECT_EQ(frames[0].data, c.sent);
    EXPECT_EQ(server().inspect([](zsim::Expander& e) { return e.chipResets() + e.watchdogResets(); }), 1u);
    EXPECT_EQ(gModuleSleeps, 0u) << "a dropped connection is not resent";
    // The connection is gone: later exchanges fail.
    uint8_t word[4];
    EXPECT_EQ(ops_.upload(instance_, &window, 0xC000002C, 4, nullptr, word), 1u);
    EXPECT_NE(ops_.download(instance_, &window, 0x20000000, 4, nullptr, word), 0u);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Resets, IalTcpReset, ::testing::Values(
    ResetCase{"QuenzaChipResetFin", kQuenzaScenario, 0xC3800200, 0x07A91F48, zsim::TcpResetDrop::Fin, 0xC0, {0x48, 0x1F, 0xA9, 0x07}},
    ResetCase{"QuenzaChipResetRst", kQuenzaScenario, 0xC3800200, 0x07A91F48, zsim::TcpResetDrop::Rst, 0xC0, {0x48, 0x1F, 0xA9, 0x07}},
    ResetCase{"OstrelChipReset",    kOstrelScenario, 0xC0000200, 0x05ED0C31, zsim::TcpResetDrop::Rst, 0xC0, {0x31, 0x0C, 0xED, 0x05}},
    ResetCase{"QuenzaWatchdog",     kQuenzaScenario, 0x42000000, 0x802DC6C0, zsim::TcpResetDrop::Fin, 0xE9, {0x01, 0x00, 0x01}}),
    [](const auto& info) { return std::string(info.param.what); });
// clang-format on

} // namespace

namespace {

TEST_F(IalTcpTest, BlockDownloadLogsItsBlocksAndTheFailingOne) {
    startListed(kOstrelScenario);
    zsim::TcpFault f = fault(zsim::TcpFrameKind::Write, zsim::TcpFaultKind::Fail, 2);
    f.match.offset = 0x1800;
    server().addFault(f);
    LogCapture log;
    std::vector<uint8_t> image(2500, 0x3C);
    ZELKOR_REGION partition = region(ZELKOR_REGION_PARTITION, 0x85, 1);
    EXPECT_EQ(ops_.download(instance_, &partition, 0x1000, 2500, nullptr, image.data()), 1u);
    EXPECT_EQ(gProgressEvents, 0u) << "no progress for a download that failed";
    const std::string module = "zelkor_ial_TCP::";
    EXPECT_TRUE(containsInOrder(
        log.lines(),
        {"INFO : " + module + "zelkor_ial_checkRegion : Read/Write to FLASH",
         "INFO : " + module +
             "zelkor_ial_downloadRegion : Writing 2500 Bytes at 0x00001000 Offset using 0x85 Buffer ID",
         "INFO : " + module + "tcpWriteBuffer_downloadInBlocks : Block size = 1024",
         "INFO : " + module + "tcpWriteBuffer_downloadInBlocks : Number of blocks = 2",
         "INFO : " + module + "tcpWriteBuffer_downloadInBlocks : Last block size = 452",
         "ERROR : " + module +
             "tcpWriteBuffer_downloadInBlocks : Writing 452 bytes at 00001800 offset **** FAILED ****",
         "ERROR : " + module +
             "zelkor_ial_downloadRegion : Writing 2500 Bytes at 0x00001000 Offset using 0x85 Buffer ID **** "
             "FAILED "
             "****"}));
}

} // namespace
