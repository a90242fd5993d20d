// Helpers shared by the page engine tests: fixture paths, a fresh engine per test, the library log
// captured into a file, and a page walker written independently of the product's.
#ifndef TESTS_CONFIG_TEST_SUPPORT_H
#define TESTS_CONFIG_TEST_SUPPORT_H

#include "config/engineState.h"
#include "config/mfgRegion.h"
#include "config/pageRecords.h"
#include "config/xmlParser.h"
#include "core/zelkor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace configtest {

// A leaf node of a type as the field walk prepares it before its value is converted.
inline pageengine::PAGE_DATA_NODE field(pageengine::FieldType type, uint32_t count, const char* name = "f") {
    const pageengine::DataTypeInfo& info = pageengine::dataTypeInfo(type);
    pageengine::PAGE_DATA_NODE node;
    node.type = type;
    node.width = info.width;
    node.writeMode = info.writeMode;
    node.count = count;
    node.name = name;
    return node;
}

inline std::string fixture(const std::string& name) {
    return std::string(CONFIG_FIXTURES) + "/" + name;
}

// Every test starts and ends with the engine as a new process has it.
class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        pageengine::resetEngineState();
        pageengine::clearEngineSwitches();
    }
    void TearDown() override {
        pageengine::resetEngineState();
        pageengine::clearEngineSwitches();
        pageengine::setTimestampClock(nullptr);
    }
};

// Opens the library log on a file of its own for the lifetime of the object.
class LogCapture {
  public:
    LogCapture()
        : path_(::testing::TempDir() + "config_log_" + std::to_string(getpid()) + "_" +
                std::to_string(counter()++) + ".txt") {
        LOG_CONFIG config{};
        path_.copy(config.name, sizeof config.name - 1);
        config.truncate = 1;
        config.typeMask = 0xFFFFFFFFu;
        config.levelMask = 0xFF;
        EXPECT_EQ(zelkor_initLogger(&config), 0u);
    }
    ~LogCapture() {
        zelkor_closeLogger();
        std::remove(path_.c_str());
    }
    // The log so far; closes the log.
    std::string text() {
        zelkor_closeLogger();
        std::ifstream in(path_);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }

  private:
    static int& counter() {
        static int value = 0;
        return value;
    }
    std::string path_;
};

// One engine line as the log shows it, after the time stamp.
inline std::string engineLogLine(const std::string& message, const char* level = "ERROR",
                                 const char* function = "zelkor_hal_xml2bin") {
    return std::string(level) + " : zelkor_hal_GEN3::" + function + " : " + message + "\n";
}

inline std::vector<uint8_t> readWholeFile(FILE* file) {
    std::vector<uint8_t> bytes;
    std::rewind(file);
    int c;
    while ((c = std::fgetc(file)) != EOF)
        bytes.push_back(static_cast<uint8_t>(c));
    return bytes;
}

struct WalkedPage {
    uint16_t id;
    std::vector<uint8_t> data;
};

// Checks an image the engine wrote against the format: the fixed region header, and for every page the
// flags byte, the two erased bytes, a length of at least 4 that is a multiple of 4 and fits, and the
// 8-bit sum from the length field on. The image must end right after its last page.
inline std::vector<WalkedPage> walkImageIndependently(const std::vector<uint8_t>& image) {
    std::vector<WalkedPage> pages;
    const std::vector<uint8_t> regionHeader = {0xF9, 0x04, 0x10, 0x08, 0xFF, 0xFF, 0x00, 0x01};
    if (image.size() < 8 || !std::equal(regionHeader.begin(), regionHeader.end(), image.begin())) {
        ADD_FAILURE() << "region header wrong";
        return pages;
    }
    std::size_t p = 8;
    while (p < image.size()) {
        if (p + 8 > image.size()) {
            ADD_FAILURE() << "page header cut at " << p;
            break;
        }
        unsigned length = image[p + 4] | (image[p + 5] << 8);
        unsigned id = image[p + 6] | (image[p + 7] << 8);
        EXPECT_EQ(image[p], 0xF9) << "flags of page " << std::hex << id;
        EXPECT_EQ(image[p + 2], 0xFF);
        EXPECT_EQ(image[p + 3], 0xFF);
        EXPECT_EQ(length % 4, 0u) << "length of page " << std::hex << id;
        if (length < 4 || p + 4 + length > image.size()) {
            ADD_FAILURE() << "page at " << p << " runs past the image";
            break;
        }
        unsigned sum = 0;
        for (std::size_t i = p + 4; i < p + 4 + length; ++i)
            sum += image[i];
        EXPECT_EQ(sum & 0xFF, image[p + 1]) << "checksum of page " << std::hex << id;
        pages.push_back({static_cast<uint16_t>(id),
                         std::vector<uint8_t>(image.begin() + static_cast<std::ptrdiff_t>(p + 8),
                                              image.begin() + static_cast<std::ptrdiff_t>(p + 4 + length))});
        p += 4 + length;
    }
    EXPECT_EQ(p, image.size());
    return pages;
}

struct Conversion {
    ZELKOR_STATUS parseStatus = 0;
    ZELKOR_STATUS writeStatus = 0;
    std::string output;
    std::vector<uint8_t> image;
};

// Parses a peppered fixture and writes its image, capturing what the engine prints.
inline Conversion convertFixture(const std::string& name, const char* rootCheckSwitch = nullptr) {
    Conversion result;
    ::testing::internal::CaptureStdout();
    result.parseStatus =
        pageengine::zelkor_ParseXmlFile(nullptr, fixture(name).c_str(), rootCheckSwitch, nullptr);
    if (result.parseStatus == 0) {
        FILE* file = std::tmpfile();
        result.writeStatus = pageengine::zelkor_CreateBinaryFile(nullptr, file);
        result.image = readWholeFile(file);
        std::fclose(file);
    }
    result.output = ::testing::internal::GetCapturedStdout();
    return result;
}

} // namespace configtest

#endif
