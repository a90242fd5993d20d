#include "tests/hal/topologyLink.h"

#include "ial/sasCommands.h"
#include "ial/zelkorIalSas.h"
#include "osal/osalTime.h"

#include "client/zsimClient.h"

#include <cstdio>
#include <cstdlib>

namespace {

namespace sim = zsim::client;

constexpr uint64_t kAddress = 0x5000CCAB0400B7F0ull;
constexpr uint8_t kReadBuffer = 0x3C;
constexpr uint8_t kWriteBuffer = 0x3B;

std::vector<uint32_t> gSleeps;

bool isWindowBuffer(uint8_t id) {
    return id >= 0xC0 && id <= 0xDF;
}

} // namespace

void PrintTo(const WindowAccess& a, std::ostream* os) {
    char text[64];
    if (a.op == 'W')
        std::snprintf(text, sizeof text, "W 0x%08X = 0x%X", a.address, a.value);
    else
        std::snprintf(text, sizeof text, "R 0x%08X (%u)", a.address, a.size);
    *os << text;
}

const char* transportName(Transport transport) {
    return transport == Transport::InBand ? "in-band" : "TCP";
}

TopologyLink::~TopologyLink() {
    if (handle_ != nullptr) {
        EXPECT_EQ(zelkor_close(handle_), 0u);
    }
    while (gPtrExpList != nullptr) {
        ZELKOR_EXPANDER_LIST* next = gPtrExpList->next;
        std::free(gPtrExpList);
        gPtrExpList = next;
    }
    gExpanderType = 0xFF;
    osal_setSleepFunction(nullptr);
}

ZELKOR_STATUS TopologyLink::open(const std::string& given) {
    // Every expander answers at the address the in-band open asks for.
    std::string scenario = given;
    if (scenario.find("sas-address") == std::string::npos)
        scenario.insert(scenario.find('\n') + 1, "    sas-address 5000CCAB:0400B7F0\n");
    gSleeps.clear();
    osal_setSleepFunction([](uint32_t ms) { gSleeps.push_back(ms); });
    ZELKOR_STATUS status = 0;
    testing::internal::CaptureStdout();
    if (transport_ == Transport::InBand) {
        sim::loadScenario(scenario);
        status = zelkor_open(ZELKOR_INTERFACE_SAS, kAddress, &handle_, [](int32_t, int32_t) {}, nullptr);
    } else {
        enclosure_ = zsim::parseScenario(scenario);
        server_ = std::make_unique<zsim::TcpServer>(*enclosure_->devices.at(0)->expander);
        const std::string& address = server_->address();
        ZELKOR_EXPANDER_LIST* expanders = nullptr;
        status = zelkor_open(ZELKOR_INTERFACE_TCP,
                             static_cast<uint64_t>(reinterpret_cast<uintptr_t>(address.c_str())), &handle_,
                             nullptr, &expanders);
        std::free(expanders);
    }
    const std::string printed = testing::internal::GetCapturedStdout();
    if (status != 0)
        ADD_FAILURE() << "open: " << status << "\n" << printed;
    clear();
    gSleeps.clear();
    return status;
}

std::vector<WindowAccess> TopologyLink::accesses() const {
    std::vector<WindowAccess> result;
    if (transport_ == Transport::InBand) {
        for (const auto& c : sim::commands()) {
            const std::vector<uint8_t> cdb = sim::fromHex(c.at("cdb"));
            if (cdb.size() != 10 || (cdb[0] != kReadBuffer && cdb[0] != kWriteBuffer) || (cdb[1] & 0x1F) != 1 ||
                !isWindowBuffer(cdb[2]))
                continue;
            WindowAccess a;
            a.op = cdb[0] == kReadBuffer ? 'R' : 'W';
            a.address = (uint32_t{cdb[3]} << 24) | (uint32_t{cdb[4]} << 16) | (uint32_t{cdb[5]} << 8) | cdb[6];
            a.size = (uint32_t{cdb[7]} << 8) | cdb[8];
            const std::vector<uint8_t> out = c.bytes("out");
            for (size_t i = 0; i < out.size() && i < 4; ++i)
                a.value |= uint32_t{out[i]} << (8 * i);
            result.push_back(a);
        }
        return result;
    }
    for (const auto& f : server_->frames()) {
        if ((f.kind != zsim::TcpFrameKind::Read && f.kind != zsim::TcpFrameKind::Write) || f.mode != 1 ||
            !isWindowBuffer(f.bufferId))
            continue;
        WindowAccess a;
        a.op = f.kind == zsim::TcpFrameKind::Read ? 'R' : 'W';
        a.address = f.offset;
        a.size = f.length;
        for (size_t i = 0; i < f.data.size() && i < 4; ++i)
            a.value |= uint32_t{f.data[i]} << (8 * i);
        result.push_back(a);
    }
    return result;
}

size_t TopologyLink::otherCommands() const {
    size_t all = 0;
    if (transport_ == Transport::InBand)
        all = sim::commands().size();
    else
        for (const auto& f : server_->frames())
            all += f.kind == zsim::TcpFrameKind::Read || f.kind == zsim::TcpFrameKind::Write;
    return all - accesses().size();
}

void TopologyLink::clear() {
    if (transport_ == Transport::InBand)
        sim::clearTrace();
    else if (server_)
        server_->clearFrames();
}

const std::vector<uint32_t>& TopologyLink::sleeps() const {
    return gSleeps;
}

std::map<uint32_t, uint32_t> TopologyLink::phyResets() {
    if (transport_ == Transport::Tcp)
        return server_->inspect([](zsim::Expander& e) { return e.phyResets(); });
    std::map<uint32_t, uint32_t> counts;
    const auto lines = sim::stateLines(sim::stateText(), "sg0", "phy-resets");
    if (lines.empty())
        return counts;
    std::string rest = lines[0].substr(std::string("phy-resets").size());
    for (size_t at = 0; (at = rest.find(' ', at)) != std::string::npos;) {
        const size_t equals = rest.find('=', at);
        const uint32_t phy = static_cast<uint32_t>(std::stoul(rest.substr(at + 1, equals - at - 1)));
        counts[phy] = static_cast<uint32_t>(std::stoul(rest.substr(equals + 1)));
        at = equals;
    }
    return counts;
}
