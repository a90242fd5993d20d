// A 16 MiB image downloaded in-band to an Ostrel partition, through the library in this process, against
// sg_write_buffer writing the same file in a process of its own (less its dry run), at a command latency of
// 0 and 1 ms; median of five runs each. Prints MiB/s of both, their ratio, and at 1 ms the library's wall
// time over the time its 256 commands must take.
#include "bench/underEnclosure.h"
#include "client/zsimClient.h"
#include "core/zelkor.h"
#include "ial/sasCommands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t kImageBytes = 16u << 20;
constexpr uint64_t kAddress = 0x5000CCAB0400B7F0ull;
constexpr int kRuns = 5;

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

double timedCommand(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", command.c_str());
        std::exit(1);
    }
    return seconds(start);
}

// Median seconds of one in-process download of the image, or a negative number on failure.
double libraryDownload(uint32_t latencyUs, const std::string& imagePath) {
    zsim::client::loadScenario(scenario(latencyUs));
    ZELKOR_INSTANCE* handle = nullptr;
    if (zelkor_open(
            ZELKOR_INTERFACE_SAS, kAddress, &handle, [](int32_t, int32_t) {}, nullptr) != 0)
        return -1;
    ZELKOR_REGION_LIST* list = nullptr;
    zelkor_getRegions(handle, &list);
    ZELKOR_REGION target{};
    for (ZELKOR_REGION_LIST* n = list; n != nullptr;) {
        if (n->region.kind == ZELKOR_REGION_PARTITION && n->region.regionId == 0x81)
            target = n->region;
        ZELKOR_REGION_LIST* next = n->next;
        std::free(n);
        n = next;
    }
    std::vector<double> runs;
    for (int i = 0; i < kRuns && target.regionId == 0x81; ++i) {
        FILE* image = std::fopen(imagePath.c_str(), "rb");
        // The simulator keeps the trace in memory; each run starts with an empty one, as a process does.
        zsim::client::clearTrace();
        const auto start = std::chrono::steady_clock::now();
        const ZELKOR_STATUS status = zelkor_downloadRegion(handle, &target, 0, kImageBytes, image, nullptr);
        runs.push_back(seconds(start));
        std::fclose(image);
        if (status != 0)
            return -1;
    }
    zelkor_close(handle);
    return runs.size() == kRuns ? median(runs) : -1;
}

// Median seconds of sg_write_buffer's download less its dry run, each a process of its own.
double peerDownload(uint32_t latencyUs, const std::string& dir, const std::string& imagePath) {
    const std::string scenarioPath = dir + "/enclosure-" + std::to_string(latencyUs) + ".scn";
    std::ofstream(scenarioPath) << scenario(latencyUs);
    const std::string base =
        std::string(ZSIM_WITH_ENCLOSURE) + " " + scenarioPath +
        " -- sg_write_buffer --id=0x81 --mode=2 --bpw=64k --length=16777216 --in=" + imagePath + " /dev/sg0";
    std::vector<double> runs;
    for (int i = 0; i < kRuns; ++i)
        runs.push_back(timedCommand(base + " >/dev/null 2>&1") -
                       timedCommand(base + " --dry-run >/dev/null 2>&1"));
    return median(runs);
}

} // namespace

int main(int argc, char** argv) {
    if (!runUnderEnclosure(argc, argv, "download-bench"))
        return 1;
    char pattern[] = "/tmp/download-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
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
    constexpr double kMiB = kImageBytes / double(1u << 20);
    for (uint32_t latencyUs : {0u, 1000u}) {
        const double ours = libraryDownload(latencyUs, imagePath);
        if (ours < 0) {
            std::fprintf(stderr, "library download failed\n");
            return 1;
        }
        const double theirs = peerDownload(latencyUs, dir, imagePath);
        std::printf("latency %4u us: library %8.1f MiB/s, sg_write_buffer %8.1f MiB/s, ratio %.2f", latencyUs,
                    kMiB / ours, kMiB / theirs, theirs / ours);
        if (latencyUs != 0)
            std::printf(", wall / (256 x 1 ms) %.3f", ours / (256 * latencyUs / 1e6));
        std::printf("\n");
    }
    std::system(("rm -rf " + dir).c_str());
    return 0;
}
