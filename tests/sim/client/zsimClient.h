// Test-side access to the preloaded simulator: load a scenario, read the trace and the state, and run a
// test binary under the preload.
#ifndef ZSIM_CLIENT_H
#define ZSIM_CLIENT_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zsim::client {

// True when libzsim.so is loaded into this process.
bool active();

// Replaces the simulated enclosure; throws std::runtime_error with the parser's message on a bad scenario.
void loadScenario(const std::string& text);

std::string traceText();
std::string stateText();
void clearTrace();

// One line of the trace: its kind (cmd, open, close, ioctl, sleep) and its key=value fields.
struct TraceEntry {
    std::string kind;
    std::map<std::string, std::string> fields;

    const std::string& at(const std::string& key) const;
    long long number(const std::string& key) const;
    std::vector<uint8_t> bytes(const std::string& key) const;
};

std::vector<TraceEntry> parseTrace(const std::string& text);
std::vector<TraceEntry> trace();
// Only the SCSI commands.
std::vector<TraceEntry> commands();

std::vector<uint8_t> fromHex(const std::string& hex);

// Lines of the state text that begin with the prefix, e.g. "page 0xFF10", for the given device.
std::vector<std::string> stateLines(const std::string& state, const std::string& device,
                                    const std::string& prefix);

// Serial lines: every tcsetattr as the program asked for it (lines of zsim_serialLineRecord), the frame
// last set on a terminal (false when none), and the one path whose open fails with EACCES ("" for none).
std::vector<std::string> serialLineRecord();
void clearSerialLineRecord();
struct LineFrame {
    int dataBits = 8;
    int parity = 0;
    int stopBits = 1;
};
bool serialLineFrame(unsigned long long device, LineFrame* frame);
void denySerialOpen(const std::string& path);

} // namespace zsim::client

#endif
