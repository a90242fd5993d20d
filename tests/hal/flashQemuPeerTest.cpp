// QEMU's CFI AMD flash (the 8 MiB 16-bit part of its musicpal board, driven over the qtest protocol) as a
// peer of the simulator's NOR model: a test interface forwards the engine's window accesses to it, and the
// same identification, erase and program on both must leave the same flash and answer the same.
#include "hal/flash.h"
#include "osal/osalTime.h"
#include "tests/hal/flashFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t kQemuFlash = 0xFE000000;
constexpr uint32_t kFlashSize = 0x800000;
constexpr uint32_t kWindow = kOstrelWindow;

// One qemu-system-arm in qtest mode on pipes.
class Qemu {
  public:
    explicit Qemu(const std::string& image) {
        int in[2];
        int out[2];
        if (pipe(in) != 0 || pipe(out) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 2);
            close(in[1]);
            close(out[0]);
            const std::string drive = "if=pflash,file=" + image + ",format=raw";
            execlp("qemu-system-arm", "qemu-system-arm", "-M", "musicpal", "-qtest", "stdio", "-display",
                   "none", "-nodefaults", "-drive", drive.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        to_ = fdopen(in[1], "w");
        from_ = fdopen(out[0], "r");
    }
    ~Qemu() {
        if (to_ != nullptr)
            std::fclose(to_);
        if (from_ != nullptr)
            std::fclose(from_);
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool ok() const { return to_ != nullptr && from_ != nullptr && pid_ > 0; }

    // Sends one command and returns its answer line ("OK ..." or "FAIL ...").
    std::string ask(const std::string& command) {
        std::fprintf(to_, "%s\n", command.c_str());
        std::fflush(to_);
        char line[65536 * 2 + 64];
        while (std::fgets(line, sizeof line, from_) != nullptr) {
            if (std::strncmp(line, "OK", 2) == 0 || std::strncmp(line, "FAIL", 4) == 0) {
                std::string answer(line);
                while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r'))
                    answer.pop_back();
                return answer;
            }
        }
        return "FAIL eof";
    }
    uint64_t value(const std::string& command) {
        const std::string answer = ask(command);
        return answer.size() > 3 ? std::strtoull(answer.c_str() + 3, nullptr, 16) : ~0ull;
    }

  private:
    pid_t pid_ = -1;
    FILE* to_ = nullptr;
    FILE* from_ = nullptr;
};

Qemu* sQemu = nullptr;
int sAnswer = 0;

// The test interface: the bus word says 16 bits, the flash window goes to QEMU's flash. Single-byte and
// single-word reads step QEMU's clock first, so that its embedded operations end while they are polled.
ZELKOR_STATUS peerUpload(void*, ZELKOR_REGION* region, uint32_t offset, uint32_t size, FILE*,
                         uint8_t* buffer) {
    const uint32_t address = region->base + offset;
    if (address == zsim::kFlashBusRegister && size == 4) {
        const uint32_t word = 0x20000000;
        std::memcpy(buffer, &word, 4);
        return 0;
    }
    if (address < kWindow || address - kWindow + uint64_t{size} > kFlashSize)
        return 25;
    const uint32_t at = kQemuFlash + (address - kWindow);
    char command[64];
    if (size == 1) {
        sQemu->ask("clock_step 10000000");
        std::snprintf(command, sizeof command, "readb 0x%x", at);
        buffer[0] = static_cast<uint8_t>(sQemu->value(command));
        return 0;
    }
    std::snprintf(command, sizeof command, "read 0x%x 0x%x", at, size);
    const std::string answer = sQemu->ask(command);
    if (answer.size() < 5 + 2 * size)
        return 25;
    for (uint32_t i = 0; i < size; ++i)
        buffer[i] = static_cast<uint8_t>(std::strtoul(answer.substr(5 + 2 * i, 2).c_str(), nullptr, 16));
    return 0;
}

ZELKOR_STATUS peerDownload(void*, ZELKOR_REGION* region, uint32_t offset, uint32_t size, FILE*,
                           uint8_t* buffer) {
    const uint32_t address = region->base + offset;
    if (address < kWindow || address - kWindow + uint64_t{size} > kFlashSize || size > 2)
        return 24;
    char command[64];
    const uint32_t at = kQemuFlash + (address - kWindow);
    if (size == 1)
        std::snprintf(command, sizeof command, "writeb 0x%x 0x%x", at, buffer[0]);
    else
        std::snprintf(command, sizeof command, "writew 0x%x 0x%x", at, buffer[0] | (buffer[1] << 8));
    return sQemu->ask(command) == "OK" ? 0 : 24;
}

// The same operations, written once, against either side.
struct Outcome {
    uint32_t type = 0;
    uint32_t size = 0;
    uint32_t block = 0;
    ZELKOR_STATUS erase = 0;
    ZELKOR_STATUS program = 0;
    std::vector<uint8_t> image; // the two blocks worked on
};

const std::vector<uint8_t>& data() {
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b(0x40);
        for (size_t i = 0; i < b.size(); ++i)
            b[i] = static_cast<uint8_t>(0xC3 ^ (i * 29));
        return b;
    }();
    return bytes;
}

Outcome runOn(ZELKOR_INSTANCE* handle, const std::function<std::vector<uint8_t>()>& readBack) {
    Outcome o;
    gFlashInfo = FLASH_INFO{};
    flash_retriveFlashType(handle, kWindow, &o.type);
    o.size = flash_retrieveFlashSize();
    o.block = flash_retrieveBlockSize();
    o.erase = flash_performErasing(handle, kWindow, 0x20000, 0x10000, kAvail);
    flash_init(0x20010);
    o.program = flash_programBytes(data().data(), 0x20010, static_cast<uint32_t>(data().size()));
    o.image = readBack();
    return o;
}

std::string writeImage() {
    char path[] = "/tmp/zelkorpflashXXXXXX";
    const int fd = mkstemp(path);
    std::vector<uint8_t> bytes(kFlashSize);
    for (uint32_t i = 0; i < kFlashSize; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    close(fd);
    return n == static_cast<ssize_t>(bytes.size()) ? path : "";
}

class FlashQemuPeer : public FlashTest {};

TEST_F(FlashQemuPeer, IdentifyEraseAndProgramMatchTheModel) {
    if (std::system("command -v qemu-system-arm >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "qemu-system-arm is not installed (scripts/install-deps.sh installs it)";
    const std::string image = writeImage();
    ASSERT_FALSE(image.empty());
    Qemu qemu(image);
    ASSERT_TRUE(qemu.ok());
    sQemu = &qemu;
    ASSERT_EQ(qemu.ask("readb 0xfe000000").substr(0, 2), "OK");

    ZELKOR_INSTANCE peer{};
    peer.ialVectors.zelkor_ial_uploadRegion = peerUpload;
    peer.ialVectors.zelkor_ial_downloadRegion = peerDownload;
    peer.ialInstance = &sAnswer;
    const Outcome theirs = runOn(&peer, [&] {
        std::vector<uint8_t> out(0x20000);
        for (uint32_t at = 0; at < out.size(); at += 0x8000) {
            ZELKOR_REGION r{0, 0xC0, 0, 0, 0xFFFFFFFF, 0, 0, 0};
            peerUpload(nullptr, &r, kWindow + 0x20000 + at, 0x8000, nullptr, out.data() + at);
        }
        return out;
    });

    // The simulator's part of the same shape: AMD, strapped for words, 128 blocks of 64 KiB.
    zsim::NorPart part = *zsim::findNorPart("amd-x16-word");
    part.regions = {{0x10000, 128}};
    part.size = kFlashSize;
    gModel.expander->setFlashParts({{part, 0}});
    busWord(0x20000000);
    std::vector<uint8_t> bytes(kFlashSize);
    for (uint32_t i = 0; i < kFlashSize; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    gModel.expander->flash().write(0, bytes);
    const Outcome ours = runOn(&handle_, [&] {
        std::vector<uint8_t> out(0x20000);
        gModel.expander->flash().read(0x20000, out);
        return out;
    });
    std::remove(image.c_str());

    EXPECT_EQ(theirs.type, FLASH_TYPE_AMD_16BIT);
    EXPECT_EQ(theirs.size, kFlashSize);
    EXPECT_EQ(theirs.block, 0x10000u);
    EXPECT_EQ(theirs.erase, 0u);
    EXPECT_EQ(theirs.program, 0u);
    EXPECT_EQ(ours.type, theirs.type);
    EXPECT_EQ(ours.size, theirs.size);
    EXPECT_EQ(ours.block, theirs.block);
    EXPECT_EQ(ours.erase, theirs.erase);
    EXPECT_EQ(ours.program, theirs.program);
    EXPECT_EQ(ours.image, theirs.image);
    // The erased block is blank but for the bytes programmed; the next block kept its bytes.
    for (uint32_t i = 0; i < 0x20000; ++i) {
        const uint8_t want = i >= 0x10 && i < 0x50 ? data()[i - 0x10]
                             : i < 0x10000         ? 0xFF
                                                   : static_cast<uint8_t>((0x20000 + i) * 7 + 3);
        ASSERT_EQ(theirs.image[i], want) << "QEMU's flash at 0x" << std::hex << 0x20000 + i;
    }
    sQemu = nullptr;
}

// A program prefix at byte offsets 0x555/0x2AA/0x555 of a 16-bit part misses its unlock words: neither QEMU's
// part nor the model programs the word that follows.
TEST_F(FlashQemuPeer, BothIgnoreTheUnlockAtTheWrongWords) {
    if (std::system("command -v qemu-system-arm >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "qemu-system-arm is not installed (scripts/install-deps.sh installs it)";
    const std::string image = writeImage();
    ASSERT_FALSE(image.empty());
    Qemu qemu(image);
    ASSERT_TRUE(qemu.ok());
    sQemu = &qemu;
    const uint32_t target = 0x40000;
    const uint8_t before = static_cast<uint8_t>(target * 7 + 3);
    for (const auto& [at, value] :
         std::vector<std::pair<uint32_t, uint32_t>>{{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0xA0}}) {
        char command[64];
        std::snprintf(command, sizeof command, "writeb 0x%x 0x%x", kQemuFlash + at, value);
        ASSERT_EQ(qemu.ask(command), "OK");
    }
    char command[64];
    std::snprintf(command, sizeof command, "writew 0x%x 0x0", kQemuFlash + target);
    ASSERT_EQ(qemu.ask(command), "OK");
    qemu.ask("clock_step 100000000");
    std::snprintf(command, sizeof command, "readb 0x%x", kQemuFlash + target);
    EXPECT_EQ(qemu.value(command), before);
    std::remove(image.c_str());
    sQemu = nullptr;

    zsim::NorPart part = *zsim::findNorPart("amd-x16-word");
    part.regions = {{0x10000, 128}};
    part.size = kFlashSize;
    gModel.expander->setFlashParts({{part, 0}});
    gModel.expander->flash().write(target, std::vector<uint8_t>{before});
    for (const auto& [at, value] :
         std::vector<std::pair<uint32_t, uint8_t>>{{0x555, 0xAA}, {0x2AA, 0x55}, {0x555, 0xA0}})
        gModel.expander->writeMemory(kWindow + at, std::vector<uint8_t>{value});
    gModel.expander->writeMemory(kWindow + target, std::vector<uint8_t>{0, 0});
    std::vector<uint8_t> out;
    gModel.expander->readMemory(kWindow + target, 1, out);
    EXPECT_EQ(out[0], before);
}

} // namespace
