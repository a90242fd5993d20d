// The page walk over manufacturing images, the naming from the board page, and the image byte checks, over
// images built here from the header layout.
#include "frontend/brannic.h"
#include "frontend/clparser.h"
#include "frontend/images.h"
#include "frontend/mfgPages.h"
#include "tests/frontend_periphery/mfgImages.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(MfgPageWalk, FindsTheAskedPageWithinTheBytesRead) {
    struct Case {
        const char* label;
        std::vector<uint8_t> image;
        size_t size; // bytes read; 0: the whole image
        PageWalk result;
    };
    std::vector<Case> cases;
    {
        MfgImage m;
        m.filler(10).page(PAGE_BOARD, boardData("RX4800")).end(0);
        cases.push_back({"found after another page", m.bytes(), 0, PageWalk::Found});
    }
    {
        MfgImage m;
        m.end(0).page(PAGE_BOARD, boardData("RX4800"));
        cases.push_back({"length 0 first", m.bytes(), 0, PageWalk::End});
    }
    {
        MfgImage m;
        m.filler(4).end(0xFFFF).page(PAGE_BOARD, boardData("RX4800"));
        cases.push_back({"length 0xFFFF before it", m.bytes(), 0, PageWalk::End});
    }
    {
        MfgImage m;
        m.page(PAGE_BOARD, boardData("RX4800"));
        m.bytes()[m.last() + 1] ^= 1;
        cases.push_back({"bad sum", m.bytes(), 0, PageWalk::Invalid});
    }
    {
        MfgImage m;
        m.page(PAGE_BOARD, boardData("RX4800"));
        m.bytes()[m.last()] &= 0xFE;
        cases.push_back({"valid bit clear", m.bytes(), 0, PageWalk::Invalid});
    }
    {
        MfgImage m;
        m.filler(65536 - 16 + 4).page(PAGE_BOARD, boardData("RX4800"));
        cases.push_back({"past 64 KiB", m.bytes(), MFG_WALK_LIMIT, PageWalk::Past});
    }
    {
        // The filler ends at 65532: the next header would reach 4 bytes past the read.
        MfgImage m;
        m.filler(65532 - 16).page(PAGE_BOARD, boardData("RX4800"));
        ASSERT_EQ(m.last(), 65532u);
        cases.push_back({"header at 65532", m.bytes(), MFG_WALK_LIMIT, PageWalk::Past});
    }
    {
        MfgImage m;
        m.page(PAGE_BOARD, std::vector<uint8_t>(12, 'A'));
        cases.push_back({"page shorter than its name", m.bytes(), 0, PageWalk::Invalid});
    }
    {
        MfgImage m;
        m.page(PAGE_BOARD, boardData("RX4800"));
        cases.push_back({"page cut by a small partition", m.bytes(), m.bytes().size() - 1, PageWalk::Invalid});
    }
    {
        MfgImage m;
        m.filler(4).page(PAGE_BOARD, boardData("RX4800"));
        cases.push_back({"partition ends inside a header", m.bytes(), m.last() + 7, PageWalk::Past});
    }
    {
        MfgImage m;
        m.filler(4).filler(8);
        cases.push_back({"none", m.bytes(), 0, PageWalk::Past});
    }
    {
        MfgImage m;
        m.page(PAGE_MFG_VERSION, std::vector<uint8_t>(55, 1));
        cases.push_back({"version page one byte short", m.bytes(), 0, PageWalk::Invalid});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        // Exactly the bytes read, so that the sanitizer sees any read past them.
        const size_t size = c.size != 0 ? c.size : c.image.size();
        std::vector<uint8_t> read(c.image.begin(), c.image.begin() + static_cast<long>(std::min(size, c.image.size())));
        const uint32_t id = std::string(c.label).find("version") != std::string::npos ? PAGE_MFG_VERSION : PAGE_BOARD;
        EXPECT_EQ(findMfgPage(read.data(), read.size(), id).result, c.result);
    }
}

class BoardName : public testing::Test {
  protected:
    void SetUp() override {
        gInstance = MORV_INSTANCE{};
        node_ = ZELKOR_EXPANDER_LIST{};
        gInstance.expanderList = &node_;
        gInstance.interfaceCode = ZELKOR_INTERFACE_TCP;
    }
    void TearDown() override { gInstance = MORV_INSTANCE{}; }
    void expander(uint32_t type, const std::string& name) {
        node_.expander.type = type;
        std::memset(node_.expander.name, 'Z', sizeof node_.expander.name); // no terminator inside the field
        std::memcpy(node_.expander.name, name.data(), std::min(name.size(), sizeof node_.expander.name));
        if (name.size() < sizeof node_.expander.name)
            node_.expander.name[name.size()] = '\0';
    }
    ZELKOR_EXPANDER_LIST node_{};
};

TEST_F(BoardName, NamesTheExpanderFromTheBoardPageWithinItsField) {
    struct Case {
        uint32_t type;
        const char* board;
        std::string old;
        const char* expected;
    };
    const std::vector<Case> cases{
        {ZELKOR_CHIP_QUENZA, "RX480 0123456789", "Kestan_48", "RX480 (Kestan_48)"},
        {ZELKOR_CHIP_OSTREL, "BOARD", "Vellor", "BOARD (Vellor)"},
        {ZELKOR_CHIP_QUENZA_DAX, "ABCDEFGHIJKLMNOP", "Kestan_48_Dax_long_name", "ABCDEFGHIJKLMNOP (Kestan_48_D"},
        {ZELKOR_CHIP_QUENZA, "RX4800", std::string(30, 'Q'), "RX4800 (QQQQQQQQQQQQQQQQQQQQQ"},
        {ZELKOR_CHIP_OSTREL_SWITCH, "BX700 extra", "Vellor", "BX700"},
        {ZELKOR_CHIP_PALX, "PX", "Palx_1", "Palx_1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.board);
        expander(c.type, c.old);
        MfgImage m;
        m.page(PAGE_BOARD, boardData(c.board));
        populatePageData(PAGE_BOARD, static_cast<uint32_t>(m.last()), m.bytes().data());
        EXPECT_EQ(std::string(node_.expander.name, strnlen(node_.expander.name, 30)), c.expected);
        EXPECT_LT(strnlen(node_.expander.name, 30), 30u);
    }
}

TEST_F(BoardName, EnclosureIdAndUnknownNames) {
    expander(ZELKOR_CHIP_QUENZA, "Kestan_48");
    MfgImage m;
    m.page(PAGE_ENCLOSURE_ID, {0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55});
    populatePageData(PAGE_ENCLOSURE_ID, static_cast<uint32_t>(m.last()), m.bytes().data());
    EXPECT_EQ(node_.expander.enclosureIdHigh, 0x11223344u);
    EXPECT_EQ(node_.expander.enclosureIdLow, 0x55667788u);
    EXPECT_STREQ(node_.expander.name, "Kestan_48");

    nameUnknownExpander();
    EXPECT_STREQ(node_.expander.name, "Unknown (Kestan_48)");
    expander(ZELKOR_CHIP_OSTREL_SWITCH, "BX700");
    nameUnknownExpander();
    EXPECT_STREQ(node_.expander.name, "Unknown Switch");
    expander(ZELKOR_CHIP_OSTREL, std::string(30, 'V'));
    nameUnknownExpander();
    EXPECT_EQ(std::string(node_.expander.name), "Unknown (VVVVVVVVVVVVVVVVVVVV");

    // Read by id on the firmware console, the reply starts at the length field.
    gInstance.interfaceCode = ZELKOR_INTERFACE_CLI;
    expander(ZELKOR_CHIP_QUENZA, "Kestan_48");
    std::vector<uint8_t> reply{28, 0, 0x01, 0xFF};
    const std::vector<uint8_t> data = boardData("RX9");
    reply.insert(reply.end(), data.begin(), data.end());
    populatePageData(PAGE_BOARD, 0, reply.data());
    EXPECT_STREQ(node_.expander.name, "RX9 (Kestan_48)");
    EXPECT_EQ(calculatePageOffset(0xFF01), 0xFF010200u);
    EXPECT_EQ(isFulPossible(), 1u);
    gInstance.interfaceCode = ZELKOR_INTERFACE_TCP;
    EXPECT_EQ(isFulPossible(), 0u);
}

TEST(FwImage, SignatureAndWordSum) {
    std::vector<uint8_t> header(84, 0);
    const uint32_t words[3] = {0x7A3E91F4, 0x7A91E3F4, 0x7A91F4E3};
    std::memcpy(header.data() + 4, words, sizeof words);
    EXPECT_TRUE(hasFwSignature(header.data()));
    for (size_t at : {4u, 9u, 15u}) {
        std::vector<uint8_t> bad = header;
        bad[at] ^= 0x80;
        EXPECT_FALSE(hasFwSignature(bad.data())) << at;
    }
    const std::vector<uint8_t> sumZero{1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 9};
    EXPECT_EQ(sumOfWords(sumZero.data(), sumZero.size()), 0u) << "the trailing byte is not a word";
    const std::vector<uint8_t> wraps{0xFF, 0xFF, 0xFF, 0xFF, 2, 0, 0, 0};
    EXPECT_EQ(sumOfWords(wraps.data(), wraps.size()), 1u);
}

TEST(FwImage, ReadBackComparisonSkipsTheBytesTheExpanderRewrites) {
    struct Case {
        uint32_t mode;
        uint32_t chip;
        size_t differsAt;
        bool equal;
    };
    const std::vector<Case> cases{
        {0, ZELKOR_CHIP_QUENZA, 28, true}, {0, ZELKOR_CHIP_QUENZA, 32, true}, {0, ZELKOR_CHIP_QUENZA, 27, false},
        {0, ZELKOR_CHIP_QUENZA, 33, false}, {0, ZELKOR_CHIP_OSTREL, 30, true}, {0, ZELKOR_CHIP_PALX, 38, true},
        {0, ZELKOR_CHIP_PALX, 42, true},    {0, ZELKOR_CHIP_PALX, 30, false},  {1, ZELKOR_CHIP_QUENZA, 30, false},
        {3, ZELKOR_CHIP_PALX, 40, false},   {0, 0, 30, false},                 {0, ZELKOR_CHIP_QUENZA, 99, false},
    };
    std::vector<uint8_t> file(100);
    for (size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<uint8_t>(i * 7);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.mode) + std::string(" chip ") + std::to_string(c.chip) + std::string(" at ") + std::to_string(c.differsAt));
        std::vector<uint8_t> data = file;
        data[c.differsAt] ^= 0x01;
        EXPECT_EQ(imageBytesMatch(file.data(), data.data(), data.size(), c.mode, c.chip), c.equal);
    }
}

TEST(FwImage, VersionPageLinesShowNamesWithinTheirFields) {
    std::vector<uint8_t> d(56, 0);
    d[0] = 7;
    d[1] = 12;
    d[4] = 1, d[5] = 2, d[6] = 30, d[7] = 4;
    d[8] = 5, d[9] = 6, d[10] = 8, d[11] = 9;
    std::memcpy(d.data() + 16, "Kestan 48 Board\0junk", 20);
    std::memset(d.data() + 36, 'P', 20); // no zero byte: exactly its 20 characters
    EXPECT_EQ(mfgVersionLines(d.data()), "\n\tProduct Id            :\t07\n\tPlatform Id           :\t12\n"
                                         "\tFW Version            :\t01.02.30.04\n"
                                         "\tMFG Version           :\t05.06\n"
                                         "\tPlatform Version      :\t08.09\n"
                                         "\tProduct Name          :\tKestan 48 Board\n"
                                         "\tPlatform Name         :\tPPPPPPPPPPPPPPPPPPPP\n");
}

TEST(FwImage, CompareReadsTheFileFromItsStart) {
    gInstance = MORV_INSTANCE{};
    FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const std::string content = "0123456789abcdef";
    std::fwrite(content.data(), 1, content.size(), file);
    // Where a library check left it: at the end.
    ASSERT_EQ(std::fseek(file, 0, SEEK_END), 0);
    const auto* data = reinterpret_cast<const uint8_t*>(content.data());
    EXPECT_EQ(compareDownloadedDataWithFileData(file, 16, data, 1), 0u);
    std::string other = content;
    other[15] = 'X';
    EXPECT_EQ(compareDownloadedDataWithFileData(file, 16, reinterpret_cast<const uint8_t*>(other.data()), 1), 1u);
    EXPECT_EQ(compareDownloadedDataWithFileData(file, 17, data, 1), 1u) << "the file holds fewer bytes";
    EXPECT_EQ(compareDownloadedDataWithFileData(file, 0, nullptr, 1), 0u);
    std::fclose(file);
}

} // namespace
