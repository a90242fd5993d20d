// Scenario parsing and the state description.
#include "scenario/Scenario.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

namespace zsim {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(Scenario, BuildsDevicesInDirectoryOrderWithTheirSettings) {
    const auto enclosure = parseScenario(R"(
# two expanders and a disk
entry foo
command-latency 250
device sg2 quenza
    sas-address 5000CCAB:0000ABCD   # separators allowed
    product 0x238
    revision 1
    board-name KX9 BOARD
    ip 172.16.0.5
    mac 02:00:00:AA:BB:CC
    dhcp on
    dhcp-address 172.16.0.77
    register 0x424000C0 0x40
    partition 0 0 0x100000
    partition 7 0x100000 0x80000
device sg0 disk
device sg1 ostrel
    page 0xFE01 01020304 05060708
    page-raw 0xFF10 00001 0FF
    no-page 0xFF01
)");
    EXPECT_EQ(enclosure->entries, (std::vector<std::string>{"foo", "sg2", "sg0", "sg1"}));
    EXPECT_EQ(enclosure->commandLatencyUs, 250u);
    ASSERT_EQ(enclosure->devices.size(), 3u);
    Device& quenza = *enclosure->devices[0];
    ASSERT_NE(quenza.expander, nullptr);
    EXPECT_EQ(quenza.identity.targetPortAddress, 0x5000CCAB0000ABCDull);
    Expander& q = *quenza.expander;
    EXPECT_EQ(q.space().readWord(0xC380002C), 0x02380100u);
    EXPECT_EQ(q.space().readWord(0x424000C0), 0x40u);
    const Bytes& ethernet = q.pages().at(0xFF27);
    EXPECT_EQ(Bytes(ethernet.begin() + 4, ethernet.begin() + 8), (Bytes{172, 16, 0, 5}));
    EXPECT_EQ(Bytes(ethernet.begin() + 28, ethernet.end()), (Bytes{0, 0, 0, 1}));
    const Bytes& mac = q.pages().at(0xFE05);
    EXPECT_EQ(Bytes(mac.begin() + 4, mac.begin() + 10), (Bytes{0x02, 0, 0, 0xAA, 0xBB, 0xCC}));
    const Bytes& board = q.pages().at(0xFF01);
    EXPECT_EQ(std::string(board.begin() + 12, board.begin() + 21), "KX9 BOARD");
    EXPECT_EQ(q.managementAddress(), "172.16.0.77");
    ASSERT_EQ(q.flashTable().size(), 2u);
    EXPECT_EQ(q.flashTable()[1].id, 7);
    EXPECT_EQ(q.flashTable()[1].offset, 0x100000u);

    EXPECT_EQ(enclosure->devices[1]->expander, nullptr);
    EXPECT_EQ(enclosure->devices[1]->identity.peripheralType, 0);

    Expander& o = *enclosure->devices[2]->expander;
    EXPECT_EQ(o.pages().at(0xFE01), (Bytes{0x0C, 0x00, 0x01, 0xFE, 1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(o.pages().at(0xFF10), (Bytes{0x00, 0x00, 0x10, 0xFF}));
    EXPECT_EQ(o.pages().count(0xFF01), 0u);
}

TEST(Scenario, FirmwareKeysShapeTheFlashHeader) {
    const auto enclosure = parseScenario("device sg0 ostrel\n firmware quenza\n firmware-version 4.1.2.0\n"
                                         " firmware-identity 200\n flash 0x200 DEADBEEF\n"
                                         "device sg1 quenza\n firmware blank\n"
                                         "device sg2 ostrel\n firmware 1,2,3\n");
    Expander& first = *enclosure->devices[0]->expander;
    EXPECT_EQ(first.space().readWord(0x14000004), 0x7A3E91F4u);
    EXPECT_EQ(first.space().readWord(0x14000024), 0x04010200u);
    EXPECT_EQ(first.space().readWord(0x14000028), 200u);
    EXPECT_EQ(first.space().readWord(0x14000200), 0xEFBEADDEu);
    EXPECT_TRUE(first.flashTable().empty()); // not the family's own header
    EXPECT_TRUE(enclosure->devices[1]->expander->flash().runs().empty());
    EXPECT_EQ(enclosure->devices[2]->expander->space().readWord(0x1400000C), 3u);
}

TEST(Scenario, FileKeysLoadTheFlashAndBuffers) {
    char path[] = "/tmp/zsim-scenario-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const Bytes bytes = {1, 2, 3, 4, 5};
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), 5);
    ::close(fd);
    const std::string file(path);
    const auto enclosure = parseScenario("device sg0 ostrel\n flash-file 0x200000 " + file +
                                         "\n buffer-file 0xE3 0x10 " + file + "\n");
    std::remove(path);
    Expander& e = *enclosure->devices[0]->expander;
    EXPECT_EQ(e.space().readWord(0x14200000), 0x04030201u);
    Bytes out;
    ASSERT_EQ(e.readBuffer(0xE3, 0x10, 5, out), Outcome::Ok);
    EXPECT_EQ(out, bytes);
    EXPECT_THROW(parseScenario("device sg0 ostrel\n flash-file 0 /nonexistent/image\n"), ScenarioError);
    EXPECT_THROW(
        parseScenario("device sg0 ostrel\n flash-file 0x3FFFFFE " + std::string("/etc/hostname") + "\n"),
        ScenarioError);
}

TEST(Scenario, BufferSizeSetsTheCapacityADescriptorReports) {
    const auto enclosure = parseScenario("device sg0 quenza\n buffer-size 0xEA 0x20\n buffer 0xEA 0x1C AABBCCDD\n");
    Expander& e = *enclosure->devices[0]->expander;
    uint32_t capacity = 0;
    ASSERT_EQ(e.bufferCapacity(0xEA, capacity), Outcome::Ok);
    EXPECT_EQ(capacity, 0x20u);
    ASSERT_EQ(e.bufferCapacity(0xE7, capacity), Outcome::Ok);
    EXPECT_EQ(capacity, 0x10000u) << "the others keep 64 KiB";
    Bytes out;
    ASSERT_EQ(e.readBuffer(0xEA, 0x1C, 8, out), Outcome::Ok);
    EXPECT_EQ(out, (Bytes{0xAA, 0xBB, 0xCC, 0xDD}));
    EXPECT_THROW(parseScenario("device sg0 quenza\n buffer-size 0xE8 16\n"), ScenarioError);
    EXPECT_THROW(parseScenario("device sg0 quenza\n buffer-size 0xEA 0x1000000\n"), ScenarioError);
    EXPECT_THROW(parseScenario("device sg0 quenza\n buffer-size 0xEA 4\n buffer 0xEA 2 AABBCC\n"), ScenarioError);
}

TEST(Scenario, ErrorsNameTheLine) {
    struct Case {
        const char* text;
        const char* message;
    };
    for (const Case& c :
         {Case{"device sg0 ostrel\n ip 300.1.1.1\n", "test:2: malformed value"},
          Case{"ip 1.2.3.4\n", "test:1: 'ip' outside a device block"},
          Case{"device sg0 toaster\n", "test:1: unknown device kind"},
          Case{"device sg0 ostrel\ndevice sg0 quenza\n", "test:2: device sg0 declared twice"},
          Case{"device sg0 disk\n board-name X\n", "test:2: 'board-name' applies only to expanders"},
          Case{"device sg0 ostrel\n fault read-buffer:0xE6 short\n", "test:2: fault 'short' needs a value"},
          Case{"device sg0 ostrel\n fault write-buffer sideways\n", "test:2: unknown fault kind"},
          Case{"device sg0 ostrel\n page 0xFF10 ABC\n", "test:2: odd number of hex digits"},
          Case{"device sg0 ostrel\n flash 0x3FFFFFF 0102\n", "test:2: flash bytes beyond"},
          Case{"sysfs maybe\n", "test:1: sysfs is present, absent or unreadable"},
          Case{"command-latency\n", "test:1: wrong number of values for 'command-latency'"},
          Case{"command-latency 20000000\n", "test:1: value out of range"},
          Case{"device sg0 ostrel\n phy 3 colour=red\n", "test:2: unknown phy field 'colour'"},
          Case{"device sg0 ostrel\n phy 3 targets=ssp,usb\n", "test:2: targets are sata"},
          Case{"device sg0 ostrel\n phy 256\n", "test:2: value out of range"},
          Case{"device sg0 ostrel\n phy-raw 3 1 2 3\n", "test:2: wrong number of values for 'phy-raw'"},
          Case{"device sg0 ostrel\n zone-row 256 0 0 0 0 0 0 0 0\n", "test:2: value out of range"},
          Case{"device sg0 disk\n phys 3\n", "test:2: 'phys' applies only to expanders"}}) {
        try {
            parseScenario(c.text, "test");
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const ScenarioError& error) {
            EXPECT_EQ(std::string(error.what()).rfind(c.message, 0), 0u) << error.what();
        }
    }
}

// Phy resets are counted per phy while the reset bit clears again; a stuck phy keeps it.
TEST(State, CountsPhyResets) {
    const auto enclosure = parseScenario("device sg0 ostrel\n phys 11\n phy 4 reset=stuck\n");
    Expander& e = *enclosure->devices[0]->expander;
    EXPECT_EQ(describeState(*enclosure).find("phy-resets"), std::string::npos);
    for (uint32_t phy : {3u, 3u, 4u}) {
        const uint32_t reg = 0xC0040718u + (phy << 12);
        e.space().writeWord(reg, 2);
        EXPECT_EQ(e.space().readWord(reg), phy == 4 ? 2u : 0u) << phy;
    }
    e.space().writeWord(0xC0043718u, 1); // without the reset bit: no reset
    EXPECT_NE(describeState(*enclosure).find("phy-resets 3=2 4=1\n"), std::string::npos);
}

TEST(State, DescribesPagesRegistersFlashResetsAndErases) {
    const auto enclosure = parseScenario("device sg0 quenza\n fault any busy count=0\ndevice sg1 disk\n");
    Expander& q = *enclosure->devices[0]->expander;
    q.space().writeWord(0x20000000, 0x11223344);
    q.space().writeWord(0x42000000, 0x802DC6C0);
    ASSERT_EQ(q.writeBuffer(0xE1, 0x10, Bytes{0xAB}), Outcome::Ok);
    ASSERT_EQ(q.writeBuffer(0x82, 0, Bytes(12, 0xFF)), Outcome::Ok);
    const std::string state = describeState(*enclosure);
    for (const char* line :
         {"device sg0 quenza\n", "page 0xFF27 200027FF0A00000A",
          "register 0xC380002C 0x02300000 device-signature\n", "memory 0x20000000 44332211\n",
          "flash 0x00000004 F4913E7A", "buffer 0xE1 0x00000010 AB\n", "resets chip=0 watchdog=1\n",
          "erases 0x82\n", "fault-struck 0\n", "device sg1 disk\nend\n"})
        EXPECT_NE(state.find(line), std::string::npos) << line << "\n" << state;
    EXPECT_EQ(state.find("arm stops"), std::string::npos) << "no line while the ARM was left alone";
    q.space().writeWord(0x43C00000, 0);
    q.space().writeWord(0x43C00000, 1);
    q.space().writeWord(0x43C00000, 0);
    const std::string after = describeState(*enclosure);
    for (const char* line : {"arm stops=2 starts=1\n", "register 0x2C000004 0x00000000 flash-control\n"})
        EXPECT_NE(after.find(line), std::string::npos) << line << "\n" << after;
}

} // namespace
} // namespace zsim
