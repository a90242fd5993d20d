// The flash engine driven over the fake interface against the simulator's NOR parts: parts and faults are
// set on the model, the flash is filled with a pattern, and the final image tells what an operation did.
#ifndef TESTS_HAL_FLASH_FIXTURE_H
#define TESTS_HAL_FLASH_FIXTURE_H

#include "hal/flash.h"
#include "tests/hal/halFixture.h"

#include <string>
#include <utility>
#include <vector>

inline constexpr uint32_t kOstrelWindow = 0x14000000;
inline constexpr uint32_t kAvail = 0x3FFFFFF;

class FlashTest : public HalTest {
  protected:
    void SetUp() override {
        HalTest::SetUp();
        gFlashInfo = FLASH_INFO{};
    }

    // The parts at their window offsets; the bus word as given (else as the first part wants it).
    void parts(const std::vector<std::pair<std::string, uint32_t>>& list, std::optional<uint32_t> bus = {}) {
        std::vector<std::pair<zsim::NorPart, uint32_t>> chosen;
        for (const auto& [name, at] : list) {
            const zsim::NorPart* p = zsim::findNorPart(name);
            ASSERT_NE(p, nullptr) << name;
            chosen.push_back({*p, at});
        }
        gModel.expander->setFlashParts(chosen);
        if (bus)
            busWord(*bus);
    }
    void busWord(uint32_t word) {
        gModel.expander->space().findRegister(zsim::kFlashBusRegister)->value = word;
    }
    zsim::NorChip& chip(size_t i = 0) { return *gModel.expander->norBank().chips().at(i); }

    // Every byte of the first bytes of the flash set to a pattern that no byte of erase or data shares.
    static uint8_t pattern(uint32_t i) { return static_cast<uint8_t>((i * 7 + 3) % 251); }
    static uint8_t datum(uint32_t i) { return static_cast<uint8_t>((i * 13 + 5) % 241 + 1); }
    void fill(uint32_t bytes) {
        std::vector<uint8_t> image(bytes);
        for (uint32_t i = 0; i < bytes; ++i)
            image[i] = pattern(i);
        gModel.expander->flash().write(0, image);
    }
    std::vector<uint8_t> image(uint32_t bytes) const {
        std::vector<uint8_t> out(bytes);
        gModel.expander->flash().read(0, out);
        return out;
    }

    // The memory-window calls relative to the flash window ("W 0x55=0x98", "R 0x10"), others absolute.
    std::vector<std::string> cycles() const {
        std::vector<std::string> out;
        char text[64];
        for (const InterfaceCall& c : gModel.calls) {
            const uint32_t address = c.region.base + c.offset;
            const bool window = address >= kOstrelWindow && address < kOstrelWindow + 0x4000000;
            const uint32_t at = window ? address - kOstrelWindow : address;
            if (c.op == "download" && c.size == 1)
                std::snprintf(text, sizeof text, "W 0x%X=0x%X", at, c.data[0]);
            else if (c.op == "download" && c.size == 2)
                std::snprintf(text, sizeof text, "W 0x%X=0x%04X", at, c.data[0] | (c.data[1] << 8));
            else if (c.size == 1)
                std::snprintf(text, sizeof text, "%c 0x%X", c.op == "download" ? 'W' : 'R', at);
            else
                std::snprintf(text, sizeof text, "%c 0x%X/%u", c.op == "download" ? 'W' : 'R', at, c.size);
            out.push_back(text);
        }
        return out;
    }

    ZELKOR_STATUS identify(uint32_t* type) { return flash_retriveFlashType(&handle_, kOstrelWindow, type); }
};

#endif
