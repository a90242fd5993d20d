// A 16 MiB image downloaded in-band to an Ostrel partition by the library against sg_write_buffer writing
// the same file, at a command latency of 0 and 1 ms, each side in fresh processes under the simulated
// enclosure, median of five runs. Two comparisons, each of like with like:
//   whole process: a process that opens the library, downloads once and closes, against one
//     sg_write_buffer process, both timed from start to exit;
//   transfer alone: the library's download call in a fresh process (its first, cold download), against
//     sg_write_buffer less its dry run.
// Prints the seconds of both sides and their ratio (sg_write_buffer over the library: above 1 the library
// is faster), and at 1 ms the library's transfer over the time its 256 commands must take.
#include "client/zsimClient.h"
#include "core/zelkor.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t kImageBytes = 16u << 20;
constexpr uint32_t kCommands = kImageBytes / (64u << 10); // one WRITE BUFFER per 64 KiB on both sides
constexpr uint64_t kAddress = 0x5000CCAB0400B7F0ull;
constexpr uint32_t kTargetRegionId = 0x81;
constexpr int kRuns = 5;
constexpr const char* kChildMode = "--download-once";

std::string scenario(uint32_t latencyUs) {
    return "command-latency " + std::to_string(latencyUs) +
           "\ndevice sg0 ostrel\n    sas-address 5000CCAB:0400B7F0\n"
           "    partition 0 0 0x1000000\n    partition 1 0x1000000 0x1000000\n";
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double seconds(const std::chrono::steady_clock::time_point& start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs the command to its exit: wall seconds, and the first line it printed.
double timedCommand(const std::string& command, std::string* firstLine = nullptr) {
    const auto start = std::chrono::steady_clock::now();
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        std::fprintf(stderr, "cannot start: %s\n", command.c_str());
        std::exit(1);
    }
    char line[256] = {};
    const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
    while (std::fgetc(pipe) != EOF) {
    }
    const int status = pclose(pipe);
    const double elapsed = seconds(start);
    if (status != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
    if (firstLine != nullptr)
        *firstLine = got ? line : "";
    return elapsed;
}

// The child: under the enclosure, opens the library, downloads the image once into partition 0x81 and
// closes. Prints the seconds of the download call alone; 0 on success.
int downloadOnce(const char* imagePath) {
    if (!zsim::client::active()) {
        std::fprintf(stderr, "%s runs only under the simulated enclosure\n", kChildMode);
        return 1;
    }
    ZELKOR_INSTANCE* handle = nullptr;
    if (zelkor_open(
            ZELKOR_INTERFACE_SAS, kAddress, &handle, [](int32_t, int32_t) {}, nullptr) != 0)
        return 1;
    ZELKOR_REGION_LIST* list = nullptr;
    zelkor_getRegions(handle, &list);
    ZELKOR_REGION target{};
    for (ZELKOR_REGION_LIST* n = list; n != nullptr;) {
        if (n->region.kind == ZELKOR_REGION_PARTITION && n->region.regionId == kTargetRegionId)
            target = n->region;
        ZELKOR_REGION_LIST* next = n->next;
        std::free(n);
        n = next;
    }
    FILE* image = std::fopen(imagePath, "rb");
    if (target.regionId != kTargetRegionId || image == nullptr)
        return 1;
    const auto start = std::chrono::steady_clock::now();
    const ZELKOR_STATUS status = zelkor_downloadRegion(handle, &target, 0, kImageBytes, image, nullptr);
    const double transfer = seconds(start);
    std::fclose(image);
    zelkor_close(handle);
    if (status != 0)
        return 1;
    std::printf("%.6f\n", transfer);
    return 0;
}

struct Sides {
    double library;
    double peer;
};

// Medians of both comparisons at one latency.
struct Result {
    Sides whole;
    Sides transfer;
};

Result measure(uint32_t latencyUs, const std::string& self, const std::string& dir,
               const std::string& imagePath) {
    const std::string scenarioPath = dir + "/enclosure-" + std::to_string(latencyUs) + ".scn";
    std::ofstream(scenarioPath) << scenario(latencyUs);
    const std::string enclosure = std::string(ZSIM_WITH_ENCLOSURE) + " " + scenarioPath + " -- ";
    const std::string ours = enclosure + self + " " + kChildMode + " " + imagePath + " 2>/dev/null";
    const std::string theirs =
        enclosure + "sg_write_buffer --id=0x81 --mode=2 --bpw=64k --length=" + std::to_string(kImageBytes) +
        " --in=" + imagePath + " /dev/sg0";
    std::vector<double> oursWhole, oursTransfer, theirsWhole, theirsTransfer;
    for (int i = 0; i < kRuns; ++i) {
        std::string line;
        oursWhole.push_back(timedCommand(ours, &line));
        oursTransfer.push_back(std::strtod(line.c_str(), nullptr));
        const double whole = timedCommand(theirs + " >/dev/null 2>&1");
        theirsWhole.push_back(whole);
        theirsTransfer.push_back(whole - timedCommand(theirs + " --dry-run >/dev/null 2>&1"));
    }
    return {{median(oursWhole), median(theirsWhole)}, {median(oursTransfer), median(theirsTransfer)}};
}

std::string selfPath() {
    char path[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], kChildMode) == 0)
        return downloadOnce(argv[2]);
    const std::string self = selfPath();
    char pattern[] = "/tmp/download-bench-XXXXXX";
    if (self.empty() || mkdtemp(pattern) == nullptr)
        return 1;
    const std::string dir = pattern;
    const std::string imagePath = dir + "/image.bin";
    {
        std::mt19937 rng(16);
        std::vector<char> image(kImageBytes);
        for (char& c : image)
            c = static_cast<char>(rng());
        std::ofstream(imagePath, std::ios::binary)
            .write(image.data(), static_cast<std::streamsize>(image.size()));
    }
    std::printf("16 MiB in-band download, median of %d fresh processes per side; ratio = sg_write_buffer / "
                "library (above 1: the library is faster)\n",
                kRuns);
    for (uint32_t latencyUs : {0u, 1000u}) {
        const Result r = measure(latencyUs, self, dir, imagePath);
        std::printf(
            "latency %4u us, whole process (open, one download, exit): library %.3f s, sg_write_buffer "
            "%.3f s, ratio %.2f\n",
            latencyUs, r.whole.library, r.whole.peer, r.whole.peer / r.whole.library);
        std::printf("latency %4u us, transfer alone (library: its first download call; sg_write_buffer: less "
                    "its dry run): library %.3f s, sg_write_buffer %.3f s, ratio %.2f",
                    latencyUs, r.transfer.library, r.transfer.peer, r.transfer.peer / r.transfer.library);
        if (latencyUs != 0)
            std::printf(", library transfer / (%u x 1 ms) %.3f", kCommands,
                        r.transfer.library / (kCommands * latencyUs / 1e6));
        std::printf("\n");
    }
    std::system(("rm -rf " + dir).c_str());
    return 0;
}
