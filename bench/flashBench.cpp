// The flash engine programming a 1 MiB image, block-wise and after one whole-chip erase, into an 8-bit AMD, a
// 16-bit AMD and an 8-bit Intel part of the simulator, over an interface that takes a fixed time per access.
// Prints per case: bytes programmed per access against the command set's least (a byte costs at least 7
// accesses on AMD, a word 7 on a 16-bit AMD bus, a byte 8 on Intel), the wall time over accesses times the
// latency, and the prescribed sleeps totalled (counted at the sleep seam, never waited).
#include "hal/flash.h"
#include "model/Expander.h"
#include "osal/osalTime.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr uint32_t kWindow = 0x14000000;
constexpr uint32_t kImage = 0x100000;
constexpr auto kLatency = std::chrono::microseconds(1);

std::unique_ptr<zsim::Expander> sExpander;
uint64_t sAccesses = 0;
uint64_t sSleptMs = 0;

void wait() {
    const auto until = std::chrono::steady_clock::now() + kLatency;
    while (std::chrono::steady_clock::now() < until) {
    }
}

ZELKOR_STATUS upload(void*, ZELKOR_REGION* r, uint32_t offset, uint32_t size, FILE*, uint8_t* buffer) {
    ++sAccesses;
    wait();
    std::vector<uint8_t> out;
    sExpander->readMemory(r->base + offset, size, out);
    std::memcpy(buffer, out.data(), size);
    return 0;
}

ZELKOR_STATUS download(void*, ZELKOR_REGION* r, uint32_t offset, uint32_t size, FILE*, uint8_t* buffer) {
    ++sAccesses;
    wait();
    sExpander->writeMemory(r->base + offset, std::span<const uint8_t>(buffer, size));
    return 0;
}

struct Case {
    const char* name;
    const char* part;
    bool bus16;
    double leastBytesPerAccess;
};

} // namespace

int main() {
    osal_setSleepFunction([](uint32_t ms) { sSleptMs += ms; });
    std::vector<uint8_t> image(kImage);
    for (uint32_t i = 0; i < kImage; ++i)
        image[i] = static_cast<uint8_t>(i * 13 + 5);
    const Case cases[] = {
        {"8-bit AMD", "amd-x16-byte", false, 1.0 / 7},
        {"16-bit AMD", "amd-x16-word", true, 2.0 / 7},
        {"8-bit Intel", "intel-0003-byte", false, 1.0 / 8},
    };
    std::printf("%-12s %-10s %10s %9s %8s %10s %8s\n", "part", "mode", "accesses", "bytes/acc", "vs least",
                "wall/lat", "sleeps");
    int failures = 0;
    for (const Case& c : cases) {
        for (const bool wholeChip : {false, true}) {
            sExpander = std::make_unique<zsim::Expander>(zsim::Family::Ostrel);
            sExpander->setFlashParts({{*zsim::findNorPart(c.part), 0}});
            sExpander->space().findRegister(zsim::kFlashBusRegister)->value = c.bus16 ? 0x20000000 : 0;
            ZELKOR_INSTANCE handle{};
            handle.ialVectors.zelkor_ial_uploadRegion = upload;
            handle.ialVectors.zelkor_ial_downloadRegion = download;
            handle.ialInstance = &handle;
            gFlashInfo = FLASH_INFO{};
            sAccesses = 0;
            sSleptMs = 0;
            const auto start = std::chrono::steady_clock::now();
            const ZELKOR_STATUS status = flash_performDownloading(&handle, kWindow, 0, kImage, image.data(),
                                                                  0x3FFFFFF, wholeChip ? 1 : 0);
            const double wall =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::vector<uint8_t> got(kImage);
            sExpander->flash().read(0, got);
            if (status != 0 || got != image) {
                std::printf("%-12s %-10s FAILED (status %u)\n", c.name, wholeChip ? "whole" : "blocks",
                            status);
                ++failures;
                continue;
            }
            const double perAccess = static_cast<double>(kImage) / static_cast<double>(sAccesses);
            const double latency = std::chrono::duration<double>(kLatency).count();
            std::printf("%-12s %-10s %10llu %9.4f %8.2f %10.2f %6llu ms\n", c.name,
                        wholeChip ? "whole" : "blocks", static_cast<unsigned long long>(sAccesses), perAccess,
                        perAccess / c.leastBytesPerAccess, wall / (static_cast<double>(sAccesses) * latency),
                        static_cast<unsigned long long>(sSleptMs));
        }
    }
    osal_setSleepFunction(nullptr);
    return failures == 0 ? 0 : 1;
}
