// The hardware modules' XML conversions in-process: Palx's conversion of a peppered input that touches no
// device, the instance check, every intermediate document judged by xmllint, and the core's record of the
// engine's handle.
#include "config/xmlScratch.h"
#include "core/zelkorInternal.h"
#include "tests/hal/halFixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

namespace fs = std::filesystem;

std::string fixture(const std::string& name) {
    return std::string(XML_FIXTURES) + "/" + name;
}

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool schemaValid(const std::string& document, const std::string& schema) {
    std::string command = "xmllint --noout --nonet --schema '" + schema + "' '" + document + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

class ScratchCopy {
  public:
    ScratchCopy() {
        std::string pattern = ::testing::TempDir() + "hal_xml_XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        dir_ = mkdtemp(name.data()) != nullptr ? name.data() : ::testing::TempDir();
    }
    ~ScratchCopy() { fs::remove_all(dir_); }
    std::string file(const std::string& name) const { return dir_ + "/" + name; }
    const std::string& dir() const { return dir_; }

  private:
    std::string dir_;
};

class HalXmlTest : public HalTest {
  protected:
    void TearDown() override {
        pageengine::setScratchObserver(nullptr);
        gSharedVars.supportPath[0] = '\0';
        HalTest::TearDown();
    }
    ScratchCopy work;
};

TEST_F(HalXmlTest, PalxConvertsItsPepperedInputWithoutTouchingTheDevice) {
    use(kPalx);
    ASSERT_EQ(open(), 0u);
    const std::size_t callsAfterOpen = gModel.calls.size();
    const std::string image = work.file("palx.bin");
    FILE* out = std::fopen(image.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(op<HAL_XML2BIN_FUNCTION>("zelkor_hal_xml2bin")(hi_, fixture("palx_peppered.xml").c_str(), nullptr, out,
                                                             nullptr),
              0u);
    std::fclose(out);
    const std::vector<uint8_t> expected = {
        0xF9, 0x04, 0x10, 0x08, 0xFF, 0xFF, 0x00, 0x01, // region header
        0xF9, 0x1A, 0xFF, 0xFF, 0x0C, 0x00, 0x03, 0x0C, // page 0C03 of 8 data bytes, checksum 1A
        0xB0, 0xA0, 0x02, 0x01,                         // serial 0102A0B0
        0xEF, 0xBE,                                     // count BEEF
        0x7F, 0x80,                                     // small, other
    };
    EXPECT_EQ(readBytes(image), expected);

    FILE* in = std::fopen(image.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    const std::string back = work.file("back.xml");
    EXPECT_EQ(op<HAL_BIN2XML_FUNCTION>("zelkor_hal_bin2xml")(hi_, fixture("palx_peppered.xml").c_str(), back.c_str(),
                                                             in),
              1u);
    std::fclose(in);
    EXPECT_FALSE(fs::exists(back));
    EXPECT_EQ(gModel.calls.size(), callsAfterOpen);
}

TEST_F(HalXmlTest, AnInstanceTheModulesDoNotHoldIs4) {
    ZELKOR_HAL_INSTANCE* stranger = reinterpret_cast<ZELKOR_HAL_INSTANCE*>(&work);
    for (const FamilyCase* family : {&kOstrel, &kQuenza, &kPalx}) {
        SCOPED_TRACE(family->name);
        use(*family);
        EXPECT_EQ(op<HAL_XML2BIN_FUNCTION>("zelkor_hal_xml2bin")(stranger, "a.xml", nullptr, stdout, nullptr), 4u);
        EXPECT_EQ(op<HAL_BIN2XML_FUNCTION>("zelkor_hal_bin2xml")(stranger, "a.xml", "b.xml", stdin), 4u);
    }
}

// Copies every intermediate of a conversion before its scratch directory goes, and notes where that
// directory was and who could enter it.
std::string gKeepDir;
std::vector<std::pair<fs::path, fs::perms>> gScratchDirs;
void keepIntermediates(const std::string& directory) {
    gScratchDirs.emplace_back(directory, fs::status(directory).permissions());
    for (const auto& entry : fs::directory_iterator(directory))
        fs::copy_file(entry.path(), fs::path(gKeepDir) / entry.path().filename(),
                      fs::copy_options::overwrite_existing);
}

struct IntermediateCase {
    const FamilyCase* family;
    const char* user;
    const char* xsd;
    std::vector<std::string> stems; // the documents each direction makes
};

TEST_F(HalXmlTest, EveryIntermediateIsValid) {
    const IntermediateCase cases[] = {
        {&kOstrel, "ostrel_user.xml", "ostrel.xsd", {"peppered"}},
        {&kQuenza, "quenza_user.xml", "quenza.xsd", {"copy", "default", "complete", "peppered"}},
    };
    // The scratch directories go below TMPDIR, whatever the working directory.
    fs::create_directory(work.file("tmp"));
    const char* savedTmp = std::getenv("TMPDIR");
    const std::string restoreTmp = savedTmp != nullptr ? savedTmp : "";
    setenv("TMPDIR", (work.file("tmp") + "/").c_str(), 1);
    for (const IntermediateCase& c : cases) {
        SCOPED_TRACE(c.family->name);
        use(*c.family);
        handle_.xsdPath = gSharedVars.supportPath;
        std::snprintf(gSharedVars.supportPath, sizeof gSharedVars.supportPath, "%s", fixture(c.xsd).c_str());
        ASSERT_EQ(open(), 0u);
        for (int direction = 0; direction < 2; ++direction) {
            SCOPED_TRACE(direction == 0 ? "xml2bin" : "bin2xml");
            gKeepDir = work.file(std::string(c.family->name) + std::to_string(direction));
            fs::create_directory(gKeepDir);
            pageengine::setScratchObserver(keepIntermediates);
            const std::string image = work.file(std::string(c.family->name) + ".bin");
            if (direction == 0) {
                FILE* out = std::fopen(image.c_str(), "wb");
                ASSERT_EQ(op<HAL_XML2BIN_FUNCTION>("zelkor_hal_xml2bin")(hi_, fixture(c.user).c_str(),
                                                                         fixture(c.xsd).c_str(), out, nullptr),
                          0u);
                std::fclose(out);
            } else {
                FILE* in = std::fopen(image.c_str(), "rb");
                const std::string back = work.file(std::string(c.family->name) + "_back.xml");
                ASSERT_EQ(op<HAL_BIN2XML_FUNCTION>("zelkor_hal_bin2xml")(hi_, fixture(c.user).c_str(), back.c_str(),
                                                                         in),
                          0u);
                std::fclose(in);
                EXPECT_TRUE(schemaValid(back, fixture(c.xsd)));
            }
            pageengine::setScratchObserver(nullptr);
            std::vector<std::string> seen;
            for (const auto& entry : fs::directory_iterator(gKeepDir)) {
                const std::string name = entry.path().filename().string();
                const std::string document = entry.path().string();
                const bool peppered = name.rfind("peppered", 0) == 0;
                seen.push_back(name.substr(0, name.find_first_of("0123456789")));
                EXPECT_TRUE(schemaValid(document, peppered ? std::string(CONFIG_FIXTURES) + "/peppered.xsd"
                                                           : fixture(c.xsd)))
                    << name;
            }
            std::sort(seen.begin(), seen.end());
            std::vector<std::string> wanted = c.stems;
            if (direction == 1)
                wanted.erase(std::remove(wanted.begin(), wanted.end(), "copy"), wanted.end());
            std::sort(wanted.begin(), wanted.end());
            EXPECT_EQ(seen, wanted);
            ASSERT_EQ(gScratchDirs.size(), 1u);
            EXPECT_EQ(gScratchDirs[0].first.parent_path(), fs::path(work.file("tmp")));
            EXPECT_EQ(gScratchDirs[0].second, fs::perms::owner_all);
            EXPECT_FALSE(fs::exists(gScratchDirs[0].first));
            gScratchDirs.clear();
        }
        ASSERT_EQ(close(), 0u);
    }
    if (savedTmp != nullptr)
        setenv("TMPDIR", restoreTmp.c_str(), 1);
    else
        unsetenv("TMPDIR");
    EXPECT_TRUE(fs::is_empty(work.file("tmp")));
}

// The core records the handle of a conversion for the engine and forgets it when the handle closes.
TEST(XmlHandleRecord, ClearedWhenItsHandleCloses) {
    ZELKOR_INSTANCE* handle = nullptr;
    ASSERT_EQ(zelkor_open(ZELKOR_INTERFACE_OFFLINE_OSTREL, 0, &handle, nullptr, nullptr), 0u);
    testing::internal::CaptureStdout();
    EXPECT_NE(zelkor_xml2bin(handle, "absent.xml", nullptr, stdout, nullptr), 0u);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(gPtrZelkorHandleXml, handle);
    ASSERT_EQ(zelkor_close(handle), 0u);
    EXPECT_EQ(gPtrZelkorHandleXml, nullptr);
}

} // namespace
