// Fixture of the TCP interface module tests: a simulated expander served on a loopback management
// port, a library handle of the test's own, the module's operations looked up by name, and a counting
// sleep in place of the real one.
#ifndef TESTS_TCP_IAL_TCP_FIXTURE_H
#define TESTS_TCP_IAL_TCP_FIXTURE_H

#include "core/modules.h"
#include "ial/zelkorIalTcp.h"
#include "osal/osalTime.h"
#include "scenario/Scenario.h"
#include "tcp/TcpServer.h"
#include "tests/support/testSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include <sys/socket.h>
#include <sys/time.h>

inline uint32_t gModuleSleeps = 0;
inline uint32_t gProgressEvents = 0;

inline void countSleep(uint32_t) {
    ++gModuleSleeps;
}
inline void countProgress(int32_t event, int32_t argument) {
    if (event == 1 && argument == 0)
        ++gProgressEvents;
}

// The module's operations, as the core binds them.
struct TcpOperations {
    IAL_OPEN_FUNCTION open = reinterpret_cast<IAL_OPEN_FUNCTION>(ial_tcp_query_symbol("zelkor_ial_open"));
    IAL_CLOSE_FUNCTION close = reinterpret_cast<IAL_CLOSE_FUNCTION>(ial_tcp_query_symbol("zelkor_ial_close"));
    IAL_VERSION_FUNCTION version =
        reinterpret_cast<IAL_VERSION_FUNCTION>(ial_tcp_query_symbol("zelkor_ial_version"));
    IAL_GET_EXPANDERS_FUNCTION getExpanders =
        reinterpret_cast<IAL_GET_EXPANDERS_FUNCTION>(ial_tcp_query_symbol("zelkor_ial_getExpanders"));
    IAL_TRANSFER_FUNCTION download =
        reinterpret_cast<IAL_TRANSFER_FUNCTION>(ial_tcp_query_symbol("zelkor_ial_downloadRegion"));
    IAL_TRANSFER_FUNCTION upload =
        reinterpret_cast<IAL_TRANSFER_FUNCTION>(ial_tcp_query_symbol("zelkor_ial_uploadRegion"));
    IAL_ERASE_FUNCTION erase =
        reinterpret_cast<IAL_ERASE_FUNCTION>(ial_tcp_query_symbol("zelkor_ial_eraseRegion"));
};

inline uint64_t targetOf(const std::string& address) {
    return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(address.c_str()));
}

inline ZELKOR_REGION region(uint32_t kind, uint32_t id, uint32_t index = 0, uint32_t base = 0,
                            uint32_t descriptorFlag = 0) {
    return ZELKOR_REGION{kind, id, index, base, 0x10000, descriptorFlag, ZELKOR_FLASH_TYPE_UNKNOWN, 0};
}

// One simulated expander on its own loopback address.
struct SimulatedExpander {
    explicit SimulatedExpander(const std::string& scenario)
        : enclosure(zsim::parseScenario(scenario)), server(*enclosure->devices.at(0)->expander) {}
    std::unique_ptr<zsim::Enclosure> enclosure;
    zsim::TcpServer server;
};

class IalTcpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        tcpResetProtocolState();
        gModuleSleeps = 0;
        gProgressEvents = 0;
        previousSleep_ = osal_setSleepFunction(countSleep);
        handle_.log = zelkor_messageLog;
        handle_.progress = countProgress;
        handle_.options = &gSharedVars;
        handle_.hostText = hostText_;
    }

    void TearDown() override {
        closeInstance();
        osal_setSleepFunction(previousSleep_);
    }

    // Starts the simulated expander and opens the module on it.
    void start(const std::string& scenario) {
        sim_ = std::make_unique<SimulatedExpander>(scenario);
        std::strncpy(hostText_, sim_->server.address().c_str(), sizeof hostText_ - 1);
        ASSERT_EQ(ops_.open(&handle_, targetOf(sim_->server.address()), &instance_), 0u);
        ASSERT_NE(instance_, nullptr);
    }

    // Opens, and lists the expander (which queries its address and identifies it).
    void startListed(const std::string& scenario) {
        start(scenario);
        ZELKOR_EXPANDER_LIST* list = nullptr;
        ASSERT_EQ(ops_.getExpanders(instance_, &list), 0u);
        ASSERT_NE(list, nullptr);
        listed_ = list->expander;
        std::free(list);
        server().clearFrames();
    }

    void closeInstance() {
        if (instance_ != nullptr) {
            EXPECT_EQ(ops_.close(instance_), 0u);
        }
        instance_ = nullptr;
    }

    TCP_INSTANCE* tcp() { return static_cast<TCP_INSTANCE*>(instance_); }
    zsim::TcpServer& server() { return sim_->server; }

    // The product waits 40 s for a reply; a silent expander should cost the test less.
    void shortenReceiveTimeout(long milliseconds = 100) {
        const timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
        ASSERT_EQ(
            setsockopt(static_cast<int>(tcp()->socket), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout),
            0);
    }

    TcpOperations ops_;
    ZELKOR_INSTANCE handle_{};
    char hostText_[200] = {};
    void* instance_ = nullptr;
    std::unique_ptr<SimulatedExpander> sim_;
    ZELKOR_EXPANDER listed_{};

  private:
    OsalSleepFunction previousSleep_ = nullptr;
};

inline zsim::TcpFault fault(zsim::TcpFrameKind frame, zsim::TcpFaultKind kind, uint32_t argument = 0,
                            uint32_t count = 1) {
    zsim::TcpFault f;
    f.match.frame = frame;
    f.kind = kind;
    f.argument = argument;
    f.count = count;
    return f;
}

// Scenarios: the SAS address is given so that the Quenza generation probe (the low half) is non-zero.
inline const char* const kOstrelScenario = "device sg0 ostrel\n"
                                           "    sas-address 500605B0:0000A1C0\n"
                                           "    product 0x220\n";
inline const char* const kQuenzaScenario = "device sg0 quenza\n"
                                           "    sas-address 500605B0:0000B2D0\n"
                                           "    product 0x230\n"
                                           "    revision 1\n";

#endif
