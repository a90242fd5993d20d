// A partition upload with ful from the simulated console paced at 38400 baud (ZELKOR_BENCH_BYTES, default
// 1 MiB = 8192 blocks): the wall time over the line time the blocks, the command and the texts must take
// (ten bits per byte), and over the line time and the post-write pauses the console's probe mode prescribes
// (20 ms after each of the receiver's writes).
#include "console/ConsolePersona.h"
#include "console/ConsoleServer.h"
#include "ial/cliCommands.h"
#include "tests/console/comLine.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main() {
    const char* sizeText = std::getenv("ZELKOR_BENCH_BYTES");
    const uint32_t size = sizeText != nullptr ? static_cast<uint32_t>(std::strtoul(sizeText, nullptr, 0)) : 1u << 20;
    constexpr uint32_t kBaud = 38400;
    zsim::Expander expander(zsim::Family::Quenza);
    zsim::FirmwareHeader header;
    header.signature = expander.traits().signature;
    expander.writeFirmwareHeader(header);
    expander.writeFlashTable(header.flashTableOffset, {{0, 0x100000, 0}, {1, size, 0x100000}});
    std::vector<uint8_t> data(size);
    for (uint32_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>(i * 2654435761u >> 24);
    expander.flash().write(0x100000, data);

    zsim::ConsolePersona persona(expander);
    zsim::ConsoleServer server(persona, kBaud);
    constexpr uint32_t kPostWriteUs = 20000;
    OpenComLine port(server.path(), kPostWriteUs);
    std::vector<uint8_t> buffer(size);
    const auto start = std::chrono::steady_clock::now();
    const ZELKOR_STATUS status = cli_ful_operation(CliLink{port.line(), nullptr}, 0x81, 0, buffer.data(), size);
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const uint64_t blocks = (size + 127) / 128;
    // Blocks and their ACKs, the command, its acknowledgement and the closing text.
    const uint64_t bytes = blocks * (132 + 1) + 32 + 173 + 48 + 8;
    const double lineTime = static_cast<double>(bytes) * 10.0 / kBaud;
    // The command, the start NAK, one ACK per block and the EOT's: each write is followed by the pause.
    const double pauses = static_cast<double>(blocks + 3) * kPostWriteUs / 1e6;
    std::printf("ful of %u bytes (%llu blocks): %.1f s; line time %.1f s, ratio %.2f; with post-write pauses "
                "%.1f s, ratio %.2f (status %u, %s)\n",
                size, static_cast<unsigned long long>(blocks), wall, lineTime, wall / lineTime, lineTime + pauses,
                wall / (lineTime + pauses), status, buffer == data ? "data equal" : "DATA DIFFER");
    return status == 0 && buffer == data ? 0 : 1;
}
