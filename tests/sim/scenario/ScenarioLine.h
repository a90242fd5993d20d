// One line of a scenario and the value parsers the scenario keys share.
#ifndef ZSIM_SCENARIO_LINE_H
#define ZSIM_SCENARIO_LINE_H

#include "scenario/Scenario.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zsim {

struct Line {
    const std::string& source;
    int number;
    std::string key;
    std::vector<std::string> args;
    std::string rest; // everything after the key, trimmed

    [[noreturn]] void fail(const std::string& message) const {
        throw ScenarioError(source + ":" + std::to_string(number) + ": " + message);
    }
    void expectArgs(size_t minimum, size_t maximum) const {
        if (args.size() < minimum || args.size() > maximum)
            fail("wrong number of values for '" + key + "'");
    }
    const std::string& arg(size_t i) const {
        if (i >= args.size())
            fail("missing value for '" + key + "'");
        return args[i];
    }
};

// A decimal or 0x hex number up to maximum.
uint64_t parseNumber(const Line& line, const std::string& text, uint64_t maximum = UINT64_MAX);
// The hex digits of the arguments from firstArg on (':' and '-' ignored) as bytes.
std::vector<uint8_t> parseHexBytes(const Line& line, size_t firstArg);
// Sixteen hex digits at most, optionally 0x-prefixed and split by ':'.
uint64_t parseSasAddress(const Line& line, const std::string& text);
bool parseOnOff(const Line& line, const std::string& text);
// Handles the keys of phys, route table and zone rows; false for any other key.
bool applyTopologyKey(const Line& line, Topology& topology);

} // namespace zsim

#endif
