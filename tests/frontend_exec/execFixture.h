// Runs Morvane's entry in-process against the fake interface and hardware modules: the command line, the
// answers on standard input, and what comes back (status, standard output, what was asked of the expander).
#ifndef TESTS_FRONTEND_EXEC_EXEC_FIXTURE_H
#define TESTS_FRONTEND_EXEC_EXEC_FIXTURE_H

#include "frontend/brannic.h"
#include "tests/support/testSupport.h"

#include <array>
#include <string>
#include <vector>

// The addressed expander of most tests.
inline constexpr uint32_t kTargetHigh = 0x5000ABCD;
inline constexpr uint32_t kTargetLow = 0x00001234;
inline const std::string kTarget = "5000ABCD00001234";

ZELKOR_EXPANDER makeExpander(uint32_t type, const char* name, uint32_t high, uint32_t low,
                             const char* ip = "192.168.1.10", uint32_t dhcp = 0);

// A region record with the given index word (third word).
std::array<uint32_t, 8> makeRegion(uint32_t index);

// The banner as the parser prints it.
std::string banner();

// What init shows after a good open in quiet mode: the expander's name between its line feeds.
std::string opened(const char* name = "Vellor_36");

using Words = std::vector<std::string>;

// The options, the target's address and the command.
Words commandLine(const Words& options, const Words& command);
std::string describe(const Words& words);

struct RunResult {
    int status = -1;
    std::string out;
};

class ExecTest : public FakeModuleTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Fresh fakes (one addressed Quenza expander, three regions), front-end state and log, for the next case.
    void resetState();

    // Standard input holds exactly the input from now on.
    void feed(const std::string& input);

    // brannicMain with "Morvane" and the words; the input is what standard input holds.
    RunResult run(const std::vector<std::string>& words, const std::string& input = "");

    // What reached the expander through the hardware module, in order: "setMorv a.b.c.d selector n" and
    // "reset n".
    std::vector<std::string> deviceWrites() const;

    // The hardware module's progress event on every call of the operation.
    void progressOn(const std::string& operation);

    std::string inputPath_;
};

#endif
