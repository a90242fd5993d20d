// The topology queries in-band at a command latency of 1 ms: the route table of one phy over 4096 entries,
// and the attached devices of an Ostrel whose 36 physical phys all see a drive. Prints the commands each
// query sends, its wall time (median of three runs) and the wall time over the time its commands must take
// (1 would be no overhead at all).
#include "bench/underEnclosure.h"
#include "tests/support/libraryLists.h"
#include "client/zsimClient.h"
#include "core/zelkor.h"
#include "ial/sasCommands.h"
#include "ial/zelkorIalSas.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t kLatencyUs = 1000;
constexpr uint64_t kAddress = 0x5000CCAB0400B7F0ull;
constexpr int kRuns = 3;

std::string routeScenario() {
    std::string s = "command-latency " + std::to_string(kLatencyUs) +
                    "\ndevice sg0 ostrel\n    sas-address 5000CCAB:0400B7F0\n    route-count 4096\n";
    for (uint32_t i = 0; i < 4096; ++i) {
        char line[80];
        std::snprintf(line, sizeof line, "    route %u 5000C500:%08X 0x%X\n", i, 0x1000 + i, i % 3 == 0 ? 0x200 : 0x1);
        s += line;
    }
    return s;
}

std::string devicesScenario() {
    std::string s = "command-latency " + std::to_string(kLatencyUs) +
                    "\ndevice sg0 ostrel\n    sas-address 5000CCAB:0400B7F0\n    phys 39\n";
    for (uint32_t p = 0; p < 36; ++p) {
        char line[96];
        std::snprintf(line, sizeof line, "    phy %u attached=5000C500:%08X type=end targets=ssp\n", p, 0x100 + p);
        s += line;
    }
    return s;
}

struct Result {
    double wall = -1;
    size_t commands = 0;
};

Result measure(const std::string& scenario, const std::function<uint32_t(ZELKOR_INSTANCE*)>& query) {
    Result result;
    std::vector<double> walls;
    for (int run = 0; run < kRuns; ++run) {
        zsim::client::loadScenario(scenario);
        ZELKOR_INSTANCE* handle = nullptr;
        if (zelkor_open(
                ZELKOR_INTERFACE_SAS, kAddress, &handle, [](int32_t, int32_t) {}, nullptr) != 0)
            return result;
        zsim::client::clearTrace();
        const auto start = std::chrono::steady_clock::now();
        const uint32_t status = query(handle);
        walls.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        result.commands = zsim::client::commands().size();
        zelkor_close(handle);
        while (gPtrExpList != nullptr) {
            ZELKOR_EXPANDER_LIST* next = gPtrExpList->next;
            std::free(gPtrExpList);
            gPtrExpList = next;
        }
        gExpanderType = 0xFF;
        if (status != 0) {
            std::fprintf(stderr, "query failed with %u\n", status);
            return result;
        }
    }
    std::sort(walls.begin(), walls.end());
    result.wall = walls[walls.size() / 2];
    return result;
}

void report(const char* name, const Result& r) {
    if (r.wall < 0) {
        std::printf("%-28s failed\n", name);
        return;
    }
    const double floor = static_cast<double>(r.commands) * kLatencyUs * 1e-6;
    std::printf("%-28s commands %6zu  wall %9.1f ms  wall/(cmds*lat) %.3f\n", name, r.commands, r.wall * 1000,
                floor > 0 ? r.wall / floor : 0);
}

} // namespace

int main(int argc, char** argv) {
    if (!runUnderEnclosure(argc, argv, "topology-bench"))
        return 1;
    report("getRouteTable, 4096 entries", measure(routeScenario(), [](ZELKOR_INSTANCE* handle) {
               ZELKOR_ROUTE_LIST* list = nullptr;
               const uint32_t status = zelkor_getRouteTable(handle, 5, &list);
               freeList(list);
               return status;
           }));
    report("getDevices, 36 drives", measure(devicesScenario(), [](ZELKOR_INSTANCE* handle) {
               ZELKOR_DEVICE_LIST* list = nullptr;
               const uint32_t status = zelkor_getDevices(handle, &list);
               freeList(list);
               return status;
           }));
    return 0;
}
