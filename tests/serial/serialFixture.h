// Shared fixture of the debug-port tests: an expander model from a scenario, a serial expander on a
// pseudo-terminal in front of it, the product's port opened on it, and the silence wait that knows when
// the expander has nothing more to say.
#ifndef TESTS_SERIAL_FIXTURE_H
#define TESTS_SERIAL_FIXTURE_H

#include "ial/comInstance.h"
#include "osal/osalCom.h"
#include "osal/osalTime.h"
#include "scenario/Scenario.h"
#include "serial/SerialExpander.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

inline std::vector<uint32_t> gSerialSleeps;
inline void recordSerialSleep(uint32_t microseconds) { gSerialSleeps.push_back(microseconds); }

class SerialExpanderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previousWait_ = osal_setSilenceWaitFunction(zsim::SerialExpander::silenceWait);
        previousSleep_ = osal_setSleepUsFunction(recordSerialSleep);
        gSerialSleeps.clear();
        gChipTypeFlag = 0;
        gQuenzaConnectionFlag = 2;
    }
    void TearDown() override {
        if (port_ != nullptr)
            osal_serialPortClose(port_);
        port_ = nullptr;
        serial_.reset();
        osal_setSilenceWaitFunction(previousWait_);
        osal_setSleepUsFunction(previousSleep_);
        osal_setSleepFunction(nullptr);
        gChipTypeFlag = 0;
    }

    // The model of the scenario's first device behind a serial expander running setup.start.
    void start(const std::string& scenario, zsim::SerialSetup setup) {
        enclosure_ = zsim::parseScenario(scenario);
        serial_ = std::make_unique<zsim::SerialExpander>(*enclosure_->devices.at(0)->expander, std::move(setup));
    }
    // Opens the product's port at a setting.
    void openAt(uint32_t baud, uint32_t bits, uint32_t interByte = 0) {
        port_ = osal_serialPortOpen(serial_->path().c_str());
        ASSERT_NE(port_, nullptr);
        const SERIAL_PORT_SETTINGS s{baud, bits, 1, 0, 0, interByte, 0};
        ASSERT_EQ(osal_serialPortSetParam(port_, &s), kSerialOk);
    }
    zsim::Expander& model() { return *enclosure_->devices.at(0)->expander; }
    uint32_t word(uint32_t address) {
        return serial_->inspect([&](zsim::Expander& e) { return e.space().readWord(address); });
    }
    std::vector<std::string> commandTexts() const {
        std::vector<std::string> texts;
        for (const auto& f : serial_->frames())
            texts.emplace_back(f.bytes.begin(), f.bytes.end());
        return texts;
    }

    std::unique_ptr<zsim::Enclosure> enclosure_;
    std::unique_ptr<zsim::SerialExpander> serial_;
    SERIAL_PORT_HANDLE* port_ = nullptr;
    OsalSilenceWaitFunction previousWait_ = nullptr;
    OsalSleepUsFunction previousSleep_ = nullptr;
};

#endif
