// The front end in-process over the core and the real hardware modules, with the model-backed fake interface
// answering for every interface module: a fresh expander of a family per case, what it holds and what
// reached it read back from the model.
#ifndef TESTS_HAL_MODEL_FRONT_END_H
#define TESTS_HAL_MODEL_FRONT_END_H

#include "frontend/brannic.h"
#include "frontend/clparser.h"
#include "osal/osalTime.h"
#include "tests/hal/halFixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace modelfront {

// The SAS address the listed expander carries, and as the user types it.
inline constexpr uint32_t kHigh = 0x5000ABCD;
inline constexpr uint32_t kLow = 0x00001234;
inline const std::string kTarget = "5000ABCD00001234";

} // namespace modelfront

class ModelFrontEnd : public testing::Test {
  protected:
    static void SetUpTestSuite() { buildModuleRegistry(); }
    void SetUp() override {
        osal_setSleepFunction([](uint32_t) {});
        swap_.emplace(modelInterfaceEntries());
        savedOptions_ = gSharedVars;
    }
    void TearDown() override {
        swap_.reset();
        gSharedVars = savedOptions_;
        osal_setSleepFunction(nullptr);
    }

    // A fresh expander of the family behind the fake, listed the way the in-band module lists it, with the
    // family's firmware header and the flash table given.
    static void expander(zsim::Family family, uint32_t chipType, bool dhcp = false,
                         const std::vector<zsim::FlashEntry>& table = {{0, 0x100000, 0}}) {
        gModel.reset(family, chipType);
        gModel.heapList = true;
        gModel.expander->setEthernet({{10, 0, 0, 5}, {255, 255, 0, 0}, {10, 0, 0, 1}, {0, 1, 2, 3, 4, 5}, dhcp});
        ZELKOR_EXPANDER& e = gModel.listed.expander;
        e.sasAddressHigh = modelfront::kHigh;
        e.sasAddressLow = modelfront::kLow;
        std::strcpy(e.name, "Vellor_36");
        std::strcpy(e.ipAddress, "10.0.0.5");
        e.dhcp = dhcp ? 1 : 0;
        zsim::FirmwareHeader header;
        header.signature = gModel.expander->traits().signature;
        gModel.expander->writeFirmwareHeader(header);
        gModel.expander->writeFlashTable(0x100, table);
    }

    static std::vector<uint8_t> page() {
        std::vector<uint8_t> bytes;
        gModel.expander->readPage(static_cast<uint16_t>(gModel.expander->traits().ethernetPageId), 0xFFFF, bytes);
        return bytes;
    }

    // The calls that wrote to the expander.
    static size_t writes() {
        size_t count = 0;
        for (const InterfaceCall& c : gModel.calls)
            count += c.op != "upload" ? 1 : 0;
        return count;
    }

    std::optional<RegistryQuerySwap> swap_;
    ZELKOR_SHARED_VARS savedOptions_{};
};

#endif
