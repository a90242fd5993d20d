// The front end's routines in-process against the real library under the preloaded simulated enclosure:
// a scenario, the front-end state as the parser leaves it, init, one routine, and what it printed and sent.
#ifndef TESTS_FRONTEND_PERIPHERY_FRONT_SIM_FIXTURE_H
#define TESTS_FRONTEND_PERIPHERY_FRONT_SIM_FIXTURE_H

#include "frontend/brannic.h"
#include "frontend/clparser.h"
#include "ial/sasCommands.h"
#include "ial/zelkorIalSas.h"

#include "client/zsimClient.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sim = zsim::client;

class FrontSimTest : public testing::Test {
  protected:
    void SetUp() override {
        gInstance = MORV_INSTANCE{};
        gClParser = CL_PARSER{};
        gSharedVars = ZELKOR_SHARED_VARS{};
        gSharedVars.regionCount = -1;
        gDisplayStatusFlag = 0;
    }

    void TearDown() override {
        cleanQuillet();
        if (gInstance.handle != nullptr) {
            EXPECT_EQ(zelkor_close(gInstance.handle), 0u);
        }
        gInstance = MORV_INSTANCE{};
        gClParser = CL_PARSER{};
        // The in-band module hands out its one expander list per process, which cleanQuillet freed: the next
        // test starts as a new process would.
        gPtrExpList = nullptr;
        gFlagDeviceErrorDisplayOpen = 0;
        gFlagDeviceErrorDisplayList = 0;
        gFillIpAddrFlag = 0;
        gExpanderType = 0xFF;
    }

    // Loads the scenario and opens the in-band interface on the expander, as the parser and init do.
    void openInband(const std::string& scenario, uint64_t sasAddress) {
        sim::loadScenario(scenario);
        gClParser.optionFlags = CL_OPT_QUIET;
        gInstance.interfaceCode = ZELKOR_INTERFACE_SAS;
        gInstance.target.sas.low = static_cast<uint32_t>(sasAddress);
        gInstance.target.sas.high = static_cast<uint32_t>(sasAddress >> 32);
        testing::internal::CaptureStdout();
        const uint32_t status = init();
        opened_ = testing::internal::GetCapturedStdout();
        ASSERT_EQ(status, 0u) << opened_;
        ASSERT_NE(gInstance.handle, nullptr);
        sim::clearTrace();
    }

    // Runs the routine with standard output captured; the commands it sent are in commands().
    template <typename F> std::string run(F&& routine) {
        sim::clearTrace();
        testing::internal::CaptureStdout();
        routine();
        return testing::internal::GetCapturedStdout();
    }

    // "CDB" of every SCSI command since the routine began, with " DATA" for data sent.
    static std::vector<std::string> commands() {
        std::vector<std::string> cdbs;
        for (const sim::TraceEntry& c : sim::commands())
            cdbs.push_back(c.at("cdb") + (c.at("dir") == "out" ? " " + c.at("out") : ""));
        return cdbs;
    }

    static std::vector<std::string> state(const std::string& device, const std::string& prefix) {
        return sim::stateLines(sim::stateText(), device, prefix);
    }

    std::string opened_;
};

#endif
