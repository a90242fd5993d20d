// The hardware modules' XML conversions through the library, on an offline expander of each family:
// hostile user documents to images (Ostrel's direct road, Quenza's default, complete and peppered road,
// Dax under Quenza) and hostile images back to XML with the family's valid template. The checks hold for
// any input: a documented status, never success for a document that is not XML, an image that walks by
// the format whenever the conversion succeeded, a well-formed document whenever one was written back, and
// no intermediate file left behind. A failure names the seed and shows the input.
#include "xmlSupport.h"

#include "core/zelkorInternal.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace configtest;
using namespace robust;
namespace fs = std::filesystem;

struct Family {
    const char* name;
    uint32_t interfaceCode;
    const char* user;
    const char* xsd;
    bool xsdInOptionBlock; // else also given as the third argument
    uint32_t seedBase;
};

void PrintTo(const Family& f, std::ostream* os) {
    *os << f.name;
}

const Family kFamilies[] = {
    {"Ostrel", ZELKOR_INTERFACE_OFFLINE_OSTREL, "ostrel_user.xml", "ostrel.xsd", false, 0x05700000u},
    {"Quenza", ZELKOR_INTERFACE_OFFLINE_QUENZA, "quenza_user.xml", "quenza.xsd", true, 0x0E300000u},
    {"Dax", ZELKOR_INTERFACE_OFFLINE_QUENZA, "dax_user.xml", "dax.xsd", true, 0x0DA00000u},
};

std::string xmlFixture(const std::string& name) {
    return std::string(XML_FIXTURES) + "/" + name;
}

class HalConversionRobustness : public testing::TestWithParam<Family> {
  protected:
    void SetUp() override {
        const Family& f = GetParam();
        pageengine::resetEngineState();
        pageengine::clearEngineSwitches();
        // Intermediates go below a directory of the test's own, which must be empty at the end.
        savedTmp_ = std::getenv("TMPDIR") != nullptr ? std::optional<std::string>(std::getenv("TMPDIR")) : std::nullopt;
        fs::create_directory(dir.file("tmp"));
        setenv("TMPDIR", dir.file("tmp").c_str(), 1);
        xsd = dir.file(f.xsd);
        writeText(xsd, readText(xmlFixture(f.xsd)));
        userText = readText(xmlFixture(f.user));
        std::memset(gSharedVars.supportPath, 0, sizeof gSharedVars.supportPath);
        // Ostrel takes the option block's XSD before its third argument; both name the same file here.
        std::snprintf(gSharedVars.supportPath, sizeof gSharedVars.supportPath, "%s", xsd.c_str());
        testing::internal::CaptureStdout();
        const ZELKOR_STATUS opened = zelkor_open(f.interfaceCode, 0, &handle, nullptr, nullptr);
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(opened, 0u);
    }
    void TearDown() override {
        if (handle != nullptr) {
            EXPECT_EQ(zelkor_close(handle), 0u);
        }
        std::memset(gSharedVars.supportPath, 0, sizeof gSharedVars.supportPath);
        if (savedTmp_)
            setenv("TMPDIR", savedTmp_->c_str(), 1);
        else
            unsetenv("TMPDIR");
        pageengine::resetEngineState();
    }

    ZELKOR_STATUS toImage(const std::string& user, const std::string& image) {
        FILE* out = std::fopen(image.c_str(), "wb");
        EXPECT_NE(out, nullptr);
        testing::internal::CaptureStdout();
        const ZELKOR_STATUS status =
            zelkor_xml2bin(handle, user.c_str(), GetParam().xsdInOptionBlock ? nullptr : xsd.c_str(), out, nullptr);
        testing::internal::GetCapturedStdout();
        std::fclose(out);
        return status;
    }
    ZELKOR_STATUS toXml(const std::string& image, const std::string& output) {
        FILE* in = std::fopen(image.c_str(), "rb");
        EXPECT_NE(in, nullptr);
        const std::string user = dir.file("template.xml");
        writeText(user, userText);
        testing::internal::CaptureStdout();
        const ZELKOR_STATUS status = zelkor_bin2xml(handle, user.c_str(), output.c_str(), in);
        testing::internal::GetCapturedStdout();
        std::fclose(in);
        return status;
    }
    void expectNoIntermediates() {
        EXPECT_TRUE(fs::is_empty(dir.file("tmp"))) << "an intermediate outlived its conversion";
        fs::remove_all(dir.file("tmp"));
        fs::create_directory(dir.file("tmp"));
    }

    ScratchDir dir;
    std::string xsd;
    std::string userText;
    ZELKOR_INSTANCE* handle = nullptr;

  private:
    std::optional<std::string> savedTmp_;
};

TEST_P(HalConversionRobustness, HostileDocumentsToImages) {
    const Family& f = GetParam();
    int converted = 0;
    for (int i = 0; i < 150 && !HasFailure(); ++i) {
        const uint32_t seed = f.seedBase + static_cast<uint32_t>(i);
        Dice d(seed);
        const std::string text = hostileXml(d, userText);
        const std::string user = dir.file("user.xml"), image = dir.file("image.bin");
        writeText(user, text);
        SCOPED_TRACE("seed " + hexNumber(seed) + ", document:\n" + shown(text));
        const ZELKOR_STATUS status = toImage(user, image);
        EXPECT_TRUE(statusIn(status, {0, 1, 6, 36, 37, 38, 39, 40, 41, 49, 53, 54, 55, 58})) << "status " << status;
        if (!wellFormed(text)) {
            EXPECT_NE(status, 0u) << "a document that is not XML";
        }
        expectNoIntermediates();
        if (status != 0)
            continue;
        ++converted;
        const std::vector<uint8_t> bytes = readBytes(image);
        EXPECT_FALSE(walkImageIndependently(bytes).empty());
    }
    EXPECT_GT(converted, 15);
}

TEST_P(HalConversionRobustness, HostileImagesToXml) {
    const Family& f = GetParam();
    const std::string image = dir.file("valid.bin");
    const std::string user = dir.file("user.xml");
    writeText(user, userText);
    ASSERT_EQ(toImage(user, image), 0u);
    const std::string valid = readText(image);
    std::vector<std::string> outputs;
    int converted = 0;
    for (int i = 0; i < 150 && !HasFailure(); ++i) {
        const uint32_t seed = f.seedBase + 0x8000u + static_cast<uint32_t>(i);
        Dice d(seed);
        std::string bytes = d.chance(5) ? d.text(d.below(100)) : mutateImage(d, valid);
        const std::string hostile = dir.file("hostile.bin"), output = dir.file("out_" + std::to_string(i) + ".xml");
        writeText(hostile, bytes);
        SCOPED_TRACE("seed " + hexNumber(seed) + ", image:\n" + shown(bytes));
        pageengine::resetEngineState();
        const ZELKOR_STATUS status = toXml(hostile, output);
        EXPECT_TRUE(statusIn(status, {0, 1, 6, 36, 37, 38, 39, 40, 41, 43})) << "status " << status;
        expectNoIntermediates();
        if (!fs::exists(output)) {
            EXPECT_NE(status, 0u);
            continue;
        }
        converted += status == 0 ? 1 : 0;
        EXPECT_TRUE(wellFormed(readText(output))) << shown(readText(output));
        outputs.push_back(output);
    }
    EXPECT_GT(converted, 15);
    for (const std::string& refused : xmllintRefuses(outputs))
        ADD_FAILURE() << "written by the library, not XML for xmllint:\n" << shown(readText(refused));
}

INSTANTIATE_TEST_SUITE_P(Families, HalConversionRobustness, testing::ValuesIn(kFamilies),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
