// The in-band module driven through its query function against the simulated enclosure: a handle of
// its own (log, progress counter, option block), the module's process-wide state reset around every
// test, and helpers that read the commands the module sent.
#ifndef TESTS_SAS_IAL_SAS_FIXTURE_H
#define TESTS_SAS_IAL_SAS_FIXTURE_H

#include "core/modules.h"
#include "ial/sasCommands.h"
#include "ial/zelkorIalSas.h"
#include "tests/support/testSupport.h"

#include "client/zsimClient.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace sim = zsim::client;

class SasModuleTest : public testing::Test {
  protected:
    void SetUp() override {
        resetModule();
        options_ = ZELKOR_SHARED_VARS{};
        handle_ = ZELKOR_INSTANCE{};
        handle_.log = zelkor_messageLog;
        handle_.progress = &SasModuleTest::countProgress;
        handle_.options = &options_;
        sProgressEvents = 0;
        log_ = std::make_unique<LogCapture>();
    }

    void TearDown() override {
        if (instance_ != nullptr)
            close(instance_);
        instance_ = nullptr;
        log_.reset();
        resetModule();
    }

    // The module's process state as a fresh process has it.
    static void resetModule() {
        while (gPtrExpList != nullptr) {
            ZELKOR_EXPANDER_LIST* next = gPtrExpList->next;
            std::free(gPtrExpList);
            gPtrExpList = next;
        }
        gFlagDeviceErrorDisplayOpen = 0;
        gFlagDeviceErrorDisplayList = 0;
        gFillIpAddrFlag = 0;
        gExpanderType = 0xFF;
    }

    template <typename F> static F op(const char* name) {
        auto function = reinterpret_cast<F>(ial_sas_query_symbol(name));
        EXPECT_NE(function, nullptr) << name;
        return function;
    }

    ZELKOR_STATUS open(uint64_t address, void** instance) {
        return op<IAL_OPEN_FUNCTION>("zelkor_ial_open")(&handle_, address, instance);
    }
    ZELKOR_STATUS close(void* instance) { return op<IAL_CLOSE_FUNCTION>("zelkor_ial_close")(instance); }
    ZELKOR_STATUS getExpanders(void* instance, ZELKOR_EXPANDER_LIST** list) {
        return op<IAL_GET_EXPANDERS_FUNCTION>("zelkor_ial_getExpanders")(instance, list);
    }
    ZELKOR_STATUS download(ZELKOR_REGION* region, uint32_t offset, uint32_t size, FILE* file,
                           uint8_t* buffer) {
        return op<IAL_TRANSFER_FUNCTION>("zelkor_ial_downloadRegion")(instance_, region, offset, size, file,
                                                                      buffer);
    }
    ZELKOR_STATUS upload(ZELKOR_REGION* region, uint32_t offset, uint32_t size, FILE* file, uint8_t* buffer) {
        return op<IAL_TRANSFER_FUNCTION>("zelkor_ial_uploadRegion")(instance_, region, offset, size, file,
                                                                    buffer);
    }
    ZELKOR_STATUS erase(ZELKOR_REGION* region) {
        return op<IAL_ERASE_FUNCTION>("zelkor_ial_eraseRegion")(instance_, region);
    }

    // Opens on the address and keeps the instance for the region operations; the trace starts empty.
    void openOn(uint64_t address) {
        ASSERT_EQ(open(address, &instance_), 0u);
        ASSERT_NE(instance_, nullptr);
        sim::clearTrace();
    }

    SAS_INSTANCE* sas() const { return static_cast<SAS_INSTANCE*>(instance_); }

    // CDBs (hex) of the SCSI commands in the trace, optionally of one device only.
    static std::vector<std::string> cdbs(const std::string& device = "") {
        std::vector<std::string> result;
        for (const auto& c : sim::commands())
            if (device.empty() || c.at("dev") == device)
                result.push_back(c.at("cdb"));
        return result;
    }

    // Open minus close events per device node: the devices still held.
    static int heldDevices() {
        int held = 0;
        for (const auto& e : sim::trace()) {
            if (e.kind == "open" && e.at("fd") != "-1")
                ++held;
            else if (e.kind == "close")
                --held;
        }
        return held;
    }

    static void countProgress(int32_t event, int32_t argument) {
        if (event == 1 && argument == 0)
            ++sProgressEvents;
    }

    static inline int sProgressEvents = 0;
    ZELKOR_SHARED_VARS options_{};
    ZELKOR_INSTANCE handle_{};
    void* instance_ = nullptr;
    std::unique_ptr<LogCapture> log_;
};

inline std::string text(const char* field, size_t size) {
    return std::string(field, strnlen(field, size));
}

#define FIELD(record, name) text((record).name, sizeof((record).name))

#endif
