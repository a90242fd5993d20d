// Peppered documents generated from the form's grammar rather than mutated: random pages of random field
// types, lengths, offsets, nested containers of bit and byte fields and configuration groups, with values
// mostly valid for their fields. Whatever the engine accepts must write an image that walks by the format,
// read back (the same document describing its pages) without error, and that document read back must
// write the same image again. A failure names the seed and shows the document.
#include "xmlSupport.h"

#include "config/binaryToXml.h"
#include "config/engineState.h"
#include "config/mfgRegion.h"
#include "config/xmlParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace configtest;
using namespace robust;

std::string randomHex(Dice& d, size_t digits) {
    static const char kDigits[] = "0123456789ABCDEFabcdef";
    std::string text;
    for (size_t i = 0; i < digits; ++i)
        text += kDigits[d.below(22)];
    return text;
}

std::string randomText(Dice& d, size_t characters) {
    static const char kCharacters[] = "abcXYZ0189 -_.:;!?()[]{}=+*/#";
    std::string text;
    for (size_t i = 0; i < characters; ++i)
        text += kCharacters[d.below(sizeof kCharacters - 1)];
    // Blanks at the ends would be the document's layout, not the value.
    while (!text.empty() && text.back() == ' ')
        text.back() = 'x';
    while (!text.empty() && text.front() == ' ')
        text.front() = 'y';
    return text;
}

class Grammar {
  public:
    explicit Grammar(Dice& d) : d_(d) {}

    std::string document() {
        std::string pages;
        std::vector<uint32_t> ids;
        for (uint32_t n = 1 + d_.below(4); n > 0; --n) {
            uint32_t id = d_.below(0x10000);
            if (id == 0xFF0F) // the time-stamped page takes the clock, not its text
                id = 0xFF0E;
            if (!ids.empty() && d_.chance(5))
                id = d_.oneOf(ids) | (d_.chance(50) ? 0x10000u : 0u); // a colliding id now and then
            ids.push_back(id);
            pages += page(id);
        }
        return "<?xml version=\"1.0\"?>\n<MANUFACTURING xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
               "xsi:noNamespaceSchemaLocation=\"peppered.xsd\" SchemaVersion=\"1\" Product=\"Quenza\">\n" +
               pages + "</MANUFACTURING>\n";
    }

  private:
    std::string idText(uint32_t id) {
        char text[16];
        std::snprintf(text, sizeof text, d_.chance(50) ? "%04X" : "0x%04x", id);
        return text;
    }

    std::string page(uint32_t id) {
        std::string content;
        if (d_.chance(20)) {
            for (uint32_t n = 1 + d_.below(3); n > 0; --n) {
                content += "<CONFIGSET>";
                for (uint32_t k = 1 + d_.below(3); k > 0; --k)
                    content += field(0);
                content += "</CONFIGSET>";
            }
        } else {
            for (uint32_t k = 1 + d_.below(6); k > 0; --k)
                content += field(0);
        }
        return "  <PAGE NAME=\"page" + std::to_string(fieldCounter_++) + "\" ID=\"" + idText(id) + "\">" + content +
               "</PAGE>\n";
    }

    std::string attributes(const std::string& length, uint32_t offset) {
        std::string text = " NAME=\"f" + std::to_string(fieldCounter_++) + "\"";
        if (!length.empty())
            text += " LENGTH=\"" + length + "\"";
        if (offset != 0)
            text += " OFFSET=\"" + std::to_string(offset) + "\"";
        return text;
    }

    // A leaf of a byte-wide type with a value that mostly fits; inside a container at most room bytes
    // (0: a top-level field, any size) and no wide text.
    std::string leaf(uint32_t offset = 0, uint32_t room = 0) {
        static const char* kTypes[] = {"BYTE", "ByteArray", "ByteString", "WORD", "DWORD",
                                       "IPAddress", "CHAR", "CHAR_NULL_PAD", "UNICHARV"};
        std::string type = kTypes[d_.below(room == 0 || d_.chance(3) ? 9 : 8)];
        uint32_t width = type == "DWORD" ? 4 : type == "WORD" ? 2 : 1;
        if (room != 0 && width > room && !d_.chance(5)) {
            type = "BYTE";
            width = 1;
        }
        uint32_t count = d_.chance(30) ? 1 : 1 + d_.below(8);
        if (room != 0 && !d_.chance(5))
            count = 1 + d_.below(std::max<uint32_t>(room / width, 1));
        if (room == 0 && d_.chance(3))
            count = d_.oneOf(std::vector<uint32_t>{64, 300, 1000});
        std::string value;
        if (type == "IPAddress") {
            count = 4;
            value = std::to_string(d_.below(256)) + "." + std::to_string(d_.below(256)) + "." +
                    std::to_string(d_.below(256)) + "." + std::to_string(d_.below(256));
        } else if (type == "CHAR" || type == "CHAR_NULL_PAD" || type == "UNICHARV") {
            value = randomText(d_, d_.below(count + (d_.chance(5) ? 3 : 1)));
        } else {
            value = randomHex(d_, d_.below(2 * width * count + (d_.chance(5) ? 4 : 1)));
        }
        const std::string length = count == 1 && d_.chance(50) ? (d_.chance(50) ? "" : "0") : std::to_string(count);
        lastSize_ = width * count;
        return "<" + type + attributes(length, offset) + ">" + value + "</" + type + ">";
    }

    std::string bit(uint32_t offset, uint32_t room = 32) {
        uint32_t count = d_.chance(80) ? 1 + d_.below(8) : 1 + d_.below(32);
        if (!d_.chance(5))
            count = 1 + d_.below(std::max<uint32_t>(std::min(count, room), 1));
        const uint64_t limit = count >= 32 ? 0xFFFFFFFFull : (1ull << count) - 1;
        const uint64_t value = d_.chance(95) ? d_.word() % (limit + 1) : limit + 1;
        char text[24];
        std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(value));
        lastSize_ = count;
        return "<BIT" + attributes(std::to_string(count), offset) + ">" + text + "</BIT>";
    }

    std::string field(uint32_t level, uint32_t room = 0) {
        const bool nested = room != 0;
        if (level >= 3 || d_.chance(65) || (nested && room < 2))
            // A bare bit field only at the top, where it is an error: containers that mix bit and byte
            // fields have no layout of their own.
            return !nested && d_.chance(2) ? bit(0) : leaf(0, room);
        static const char* kContainers[] = {"BYTE", "WORD", "DWORD"};
        uint32_t which = d_.below(3);
        uint32_t width = which == 0 ? 1 : which == 1 ? 2 : 4;
        uint32_t count = d_.chance(60) ? 1 : 1 + d_.below(4);
        while (nested && width * count > room && count > 1)
            --count;
        while (nested && width * count > room && which > 0) {
            --which;
            width /= 2;
        }
        const std::string type = kContainers[which];
        const uint32_t bytes = width * count;
        std::string children;
        uint32_t position = 0;
        if (d_.chance(55)) {
            // Bit fields in the first element, mostly in order and in its room.
            const uint32_t bits = 8 * width;
            for (uint32_t n = 1 + d_.below(4); n > 0 && position < bits; --n) {
                const uint32_t offset = d_.chance(80) ? 0 : position + d_.below(3);
                children += bit(offset, bits - std::min(bits, std::max(offset, position)));
                position = std::max(offset, position) + lastSize_;
            }
        } else {
            for (uint32_t n = 1 + d_.below(3); n > 0 && position < bytes; --n) {
                const uint32_t offset = d_.chance(85) || position == 0 ? 0 : position + d_.below(2);
                const uint32_t at = std::max(offset, position);
                if (at >= bytes)
                    break;
                children += level < 2 && d_.chance(20) ? field(level + 1, bytes - at) : leaf(offset, bytes - at);
                position = at + lastSize_;
            }
        }
        const std::string length = count == 1 && d_.chance(50) ? "" : std::to_string(count);
        lastSize_ = bytes;
        return "<" + type + attributes(length, 0) + ">" + children + "</" + type + ">";
    }

    Dice& d_;
    int fieldCounter_ = 0;
    uint32_t lastSize_ = 0; // bits of the last bit field, bytes of the last other field
};

class PepperedGrammar : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        pageengine::setTimestampClock(fixedClock);
    }
    ScratchDir dir;

    // Parse and write; the image when both succeed.
    ZELKOR_STATUS toImage(const std::string& path, std::vector<uint8_t>& image) {
        pageengine::resetEngineState();
        ZELKOR_STATUS status = pageengine::zelkor_ParseXmlFile(nullptr, path.c_str(), nullptr, nullptr);
        if (status != 0)
            return status;
        FILE* file = std::tmpfile();
        status = pageengine::zelkor_CreateBinaryFile(nullptr, file);
        image = readWholeFile(file);
        std::fclose(file);
        return status;
    }
};

TEST_F(PepperedGrammar, AcceptedDocumentsGoThereAndBackToTheSameImage) {
    int accepted = 0;
    for (int i = 0; i < 500 && !HasFailure(); ++i) {
        const uint32_t seed = 0x6A3A0000u + static_cast<uint32_t>(i);
        Dice d(seed);
        Grammar grammar(d);
        const std::string text = grammar.document();
        const std::string path = dir.file("generated.xml");
        writeText(path, text);
        SCOPED_TRACE("seed " + hexNumber(seed) + ", document:\n" + text);

        testing::internal::CaptureStdout();
        std::vector<uint8_t> first;
        const ZELKOR_STATUS there = toImage(path, first);
        ZELKOR_STATUS back = 1, again = 1;
        std::vector<uint8_t> second;
        const std::string image = dir.file("generated.bin"), output = dir.file("back.xml");
        if (there == 0) {
            writeText(image, std::string(first.begin(), first.end()));
            pageengine::resetEngineState();
            pageengine::ConversionCarry& carry = pageengine::conversionCarry();
            carry = {};
            carry.gStrSchemaFilename = "peppered.xsd";
            carry.gStrSchemaVersion = "1";
            carry.gStrProductName = "Quenza";
            back = imageToXml(path, output, image, path);
            if (back == 0)
                again = toImage(output, second);
        }
        testing::internal::GetCapturedStdout();

        ASSERT_TRUE(statusIn(there, {0, 38, 39, 40})) << "status " << there;
        if (there != 0)
            continue;
        ++accepted;
        ASSERT_EQ(walkImageIndependently(first).size(), pageengine::engineState().gXMLPagelist.size());
        ASSERT_EQ(back, 0u) << "an image the engine wrote does not read back";
        ASSERT_EQ(again, 0u) << "the document read back does not parse:\n" << readText(output);
        if (second != first) {
            size_t at = 0;
            while (at < std::min(first.size(), second.size()) && first[at] == second[at])
                ++at;
            ADD_FAILURE() << "the image read back differs from byte " << at << " on (of " << first.size() << " and "
                          << second.size() << "); read back:\n"
                          << readText(output);
        }
    }
    EXPECT_GT(accepted, 100);
}

} // namespace
