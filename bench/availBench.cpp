// "get avail" across enclosures of 1, 8 and 64 expanders whose every SCSI command takes a fixed time: the
// commands Morvane sends per expander, the wall time of the whole run, and how that wall time compares with
// the time the commands alone must take (wall / (commands x latency); 1 would be no overhead at all).
#include "client/zsimClient.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

constexpr uint32_t kLatencyUs = 1000;

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void getAvail(benchmark::State& state) {
    const int expanders = static_cast<int>(state.range(0));
    char pattern[] = "/tmp/avail-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::string dir = pattern;
    {
        std::ofstream scenario(dir + "/enclosure.scn");
        scenario << "command-latency " << kLatencyUs << "\n";
        for (int i = 0; i < expanders; ++i)
            scenario << "device sg" << i << (i % 2 == 0 ? " quenza\n" : " ostrel\n");
    }
    const std::string command = "cd " + dir + " && " ZSIM_WITH_ENCLOSURE " --trace trace enclosure.scn -- " +
                                MORVANE_BINARY " -q -i get avail >/dev/null";
    double seconds = 0;
    size_t commands = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const int status = std::system(command.c_str());
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        if (status != 0) {
            state.SkipWithError("Morvane failed");
            break;
        }
        state.SetIterationTime(elapsed.count());
        seconds += elapsed.count();
        commands = 0;
        for (const zsim::client::TraceEntry& e : zsim::client::parseTrace(readFile(dir + "/trace")))
            commands += e.kind == "cmd" ? 1 : 0;
    }
    std::system(("rm -rf " + dir).c_str());
    const double wall = state.iterations() > 0 ? seconds / static_cast<double>(state.iterations()) : 0;
    state.counters["expanders"] = expanders;
    state.counters["commands"] = static_cast<double>(commands);
    state.counters["per_expander"] = static_cast<double>(commands) / expanders;
    state.counters["wall_ms"] = wall * 1000;
    state.counters["wall/(cmds*lat)"] =
        commands > 0 ? wall / (static_cast<double>(commands) * kLatencyUs * 1e-6) : 0;
}

BENCHMARK(getAvail)->Arg(1)->Arg(8)->Arg(64)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
