// The console persona on a pseudo-terminal in real time: the server thread, the product's commands and
// transfers over a tty, and a hang-up when the line drops.
#include "tests/console/comLine.h"

#include "console/ConsolePersona.h"
#include "console/ConsoleServer.h"
#include "ial/cliCommands.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint8_t> pattern(uint32_t size) {
    std::vector<uint8_t> data(size);
    for (uint32_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>((i * 31) ^ (i >> 8));
    return data;
}

TEST(ConsoleLine, CommandsAndTransfersOverAPty) {
    zsim::Expander expander(zsim::Family::Quenza);
    zsim::ConsolePersona persona(expander, zsim::ConsoleOptions{.echo = true});
    zsim::ConsoleServer server(persona);
    OpenComLine port(server.path());
    ASSERT_TRUE(port.ok());
    SerialLine& line = port.line();
    CliLink link{line, nullptr};

    EXPECT_EQ(cliRegisterAccess(link, 1, 0x20000000, 0xCAFEF00D, nullptr), 0);
    uint32_t value = 0;
    EXPECT_EQ(cliRegisterAccess(link, 0, 0x20000000, 0, &value), 0);
    EXPECT_EQ(value, 0xCAFEF00Du);

    const std::vector<uint8_t> data = pattern(65536);
    server.inspect([&](zsim::LineEndpoint&) { return expander.writeBuffer(0xE1, 0, data); });
    std::vector<uint8_t> buffer(65536);
    EXPECT_EQ(cli_ful_operation(link, 0xE1, 0, buffer.data(), 65536), 0u);
    EXPECT_EQ(buffer, data);

    const std::vector<uint8_t> small = pattern(200);
    EXPECT_EQ(cli_mdl_operation(link, 0x20002000, small.data(), 200), 0u);
    std::vector<uint8_t> stored;
    server.inspect([&](zsim::LineEndpoint&) { return expander.readMemory(0x20002000, 200, stored); });
    EXPECT_EQ(stored, small);
}

TEST(ConsoleLine, DroppedLineFailsTheTransfer) {
    zsim::Expander expander(zsim::Family::Quenza);
    zsim::ConsolePersona persona(expander);
    persona.addFault(zsim::ConsoleFault{.command = "mul", .kind = zsim::ConsoleFaultKind::Xmodem,
                                        .xmodem = zsim::XmodemPeerFault::DropLine, .at = 2});
    zsim::ConsoleServer server(persona);
    OpenComLine port(server.path());
    ASSERT_TRUE(port.ok());
    SerialLine& line = port.line();
    std::vector<uint8_t> buffer(1024);
    EXPECT_EQ(cli_mul_operation(CliLink{line, nullptr}, 0x20000000, buffer.data(), 1024), 1u);
}

} // namespace
