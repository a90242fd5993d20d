// A partition upload through the command-line interface module from the simulated console paced at 38400
// baud (ZELKOR_BENCH_BYTES, default 1 MiB = 8192 blocks), reached as a user reaches it: zelkor_open on the
// console's pseudo-terminal, zelkor_getRegions, zelkor_uploadRegion of the partition holding the image.
// Only the upload is timed. Printed: the wall time over the line time the blocks, their ACKs, the command
// and the texts must take (ten bits per byte), and over that line time plus the post-write pauses the
// console's probe mode prescribes (20 ms after each of the receiver's writes).
//
// Run the binary itself, without the simulator's preload: build/<dir>/bench/console_bench. Under the
// preload every sleep returns at once, so the product's prescribed pauses would drop out of the wall time;
// the binary refuses to run there. The product's sleeps and silence waits are the real ones throughout.
// Without the preload the line's frame cannot be seen (a pseudo-terminal always takes 8 bits without
// parity), so the console answers only while the line is at its 38400 baud.
#include "tests/support/libraryLists.h"
#include "console/ConsolePersona.h"
#include "console/ConsoleServer.h"
#include "core/zelkor.h"
#include "scenario/Scenario.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <string>
#include <termios.h>
#include <vector>

namespace {

constexpr uint32_t kBaud = 38400;
constexpr uint32_t kFlashBase = 0x10000000; // the Quenza flash window
constexpr uint32_t kImageOffset = 0x100000; // the partition's offset in the flash
constexpr uint32_t kImageEntryId = 5;       // ids below 3 of small entries end the flash table
constexpr uint32_t kPostWriteUs = 20000;
constexpr uint32_t kBlock = 128;
constexpr uint32_t kFulAcknowledgement = 173; // echo included
constexpr uint32_t kFulClosingFixed = 48;     // and the digits of the byte count

uint32_t decimalDigits(uint32_t value) {
    uint32_t digits = 1;
    for (; value >= 10; value /= 10)
        ++digits;
    return digits;
}

} // namespace

int main() {
    if (dlsym(RTLD_DEFAULT, "zsim_loadScenario") != nullptr) {
        std::fprintf(stderr,
                     "console_bench: run it without the simulator's preload (its sleeps cost no time)\n");
        return 2;
    }
    const char* sizeText = std::getenv("ZELKOR_BENCH_BYTES");
    const uint32_t size =
        sizeText != nullptr ? static_cast<uint32_t>(std::strtoul(sizeText, nullptr, 0)) : 1u << 20;
    if (size == 0) {
        std::fprintf(stderr, "console_bench: ZELKOR_BENCH_BYTES must name at least one byte\n");
        return 2;
    }
    const std::string scenario = "device sg0 quenza\n    partition 0 0 0x100000\n    partition " +
                                 std::to_string(kImageEntryId) + " " + std::to_string(kImageOffset) + " " +
                                 std::to_string(size) + "\n";
    const auto enclosure = zsim::parseScenario(scenario);
    zsim::Expander& expander = *enclosure->devices.at(0)->expander;
    std::vector<uint8_t> data(size);
    for (uint32_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
    expander.flash().write(kImageOffset, data);

    zsim::ConsolePersona persona(expander);
    zsim::ConsoleServer server(persona, kBaud);
    const int master = server.masterDescriptor();
    server.setFraming([master] {
        termios t{};
        return tcgetattr(master, &t) == 0 && cfgetospeed(&t) == B38400;
    });

    const std::string path = server.path();
    ZELKOR_INSTANCE* handle = nullptr;
    ZELKOR_EXPANDER_LIST* expanders = nullptr;
    const ZELKOR_STATUS opened =
        zelkor_open(ZELKOR_INTERFACE_CLI, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(path.c_str())),
                    &handle, nullptr, &expanders);
    if (opened != 0) {
        std::printf("zelkor_open on %s failed with status %u\n", path.c_str(), opened);
        return 1;
    }
    std::free(expanders); // the module allocates the node for this open and keeps no pointer to it
    ZELKOR_REGION_LIST* regions = nullptr;
    ZELKOR_REGION* partition = nullptr;
    if (zelkor_getRegions(handle, &regions) == 0)
        for (ZELKOR_REGION_LIST* node = regions; node != nullptr; node = node->next)
            if (node->region.kind == ZELKOR_REGION_PARTITION &&
                node->region.base == kFlashBase + kImageOffset && node->region.size == size)
                partition = &node->region;
    if (partition == nullptr) {
        std::printf("no partition of %u bytes at 0x%08x in the region list\n", size,
                    kFlashBase + kImageOffset);
        freeList(regions);
        zelkor_close(handle);
        return 1;
    }

    std::vector<uint8_t> buffer(size);
    const auto start = std::chrono::steady_clock::now();
    const ZELKOR_STATUS status = zelkor_uploadRegion(handle, partition, 0, size, nullptr, buffer.data());
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const uint32_t bufferId = partition->regionId;
    freeList(regions);
    const ZELKOR_STATUS closed = zelkor_close(handle);

    const uint64_t blocks = (size + kBlock - 1) / kBlock;
    // The command text the module writes, its acknowledgement, the start NAK, each block (132 bytes) and
    // its ACK, the EOT and its ACK, the closing text.
    const uint64_t command =
        static_cast<uint64_t>(std::snprintf(nullptr, 0, "ful %x %08x %u\r", bufferId, 0u, size));
    const uint64_t bytes =
        command + kFulAcknowledgement + 1 + blocks * (132 + 1) + 2 + kFulClosingFixed + decimalDigits(size);
    const double lineTime = static_cast<double>(bytes) * 10.0 / kBaud;
    // The command, the start NAK, one ACK per block and the EOT's: each write is followed by the pause.
    const double pauses = static_cast<double>(blocks + 3) * kPostWriteUs / 1e6;
    const bool equal = buffer == data;
    std::printf(
        "ful of %u bytes (%llu blocks) through the module: %.1f s; line time %.1f s, ratio %.2f; with "
        "post-write pauses %.1f s, ratio %.2f (status %u, close %u, %s)\n",
        size, static_cast<unsigned long long>(blocks), wall, lineTime, wall / lineTime, lineTime + pauses,
        wall / (lineTime + pauses), status, closed, equal ? "data equal" : "DATA DIFFER");
    return status == 0 && closed == 0 && equal ? 0 : 1;
}
