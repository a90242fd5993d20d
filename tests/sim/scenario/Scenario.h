// Scenario files: a small line-oriented text that describes an enclosure (see tests/sim/README.md), and
// the state file that records the enclosure's final contents.
#ifndef ZSIM_SCENARIO_H
#define ZSIM_SCENARIO_H

#include "scenario/Enclosure.h"

#include <memory>
#include <stdexcept>
#include <string>

namespace zsim {

class ScenarioError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Builds the enclosure a scenario text describes; throws ScenarioError naming the source and the line.
std::unique_ptr<Enclosure> parseScenario(const std::string& text, const std::string& source = "scenario");
std::unique_ptr<Enclosure> loadScenarioFile(const std::string& path);

// The final state of every device: pages, registers, written memory, flash and buffer contents, resets and
// erases (format in tests/sim/README.md).
std::string describeState(const Enclosure& enclosure);

// Shared text helpers.
std::string toHex(const uint8_t* bytes, size_t count);
std::string formatSasAddress(uint64_t address);

} // namespace zsim

#endif
