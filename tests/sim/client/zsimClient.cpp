#include "client/zsimClient.h"

#include "preload/zsimControl.h"

#include <cstdlib>
#include <dlfcn.h>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace zsim::client {

namespace {

template <typename F> F control(const char* name) {
    void* symbol = dlsym(RTLD_DEFAULT, name);
    if (symbol == nullptr)
        throw std::runtime_error(std::string("the simulator is not preloaded (") + name + " missing)");
    return reinterpret_cast<F>(symbol);
}

std::string takeText(char* text) {
    std::unique_ptr<char, decltype(&std::free)> owner(text, &std::free);
    return text != nullptr ? std::string(text) : std::string();
}

} // namespace

bool active() {
    return dlsym(RTLD_DEFAULT, "zsim_loadScenario") != nullptr;
}

void loadScenario(const std::string& text) {
    if (control<decltype(&zsim_loadScenario)>("zsim_loadScenario")(text.c_str()) != 0)
        throw std::runtime_error(control<decltype(&zsim_lastError)>("zsim_lastError")());
}

std::string traceText() {
    return takeText(control<decltype(&zsim_trace)>("zsim_trace")());
}
std::string stateText() {
    return takeText(control<decltype(&zsim_state)>("zsim_state")());
}
void clearTrace() {
    control<decltype(&zsim_clearTrace)>("zsim_clearTrace")();
}

std::vector<std::string> serialLineRecord() {
    std::vector<std::string> lines;
    std::istringstream in(takeText(control<decltype(&zsim_serialLineRecord)>("zsim_serialLineRecord")()));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}
void clearSerialLineRecord() {
    control<decltype(&zsim_serialLineClearRecord)>("zsim_serialLineClearRecord")();
}
bool serialLineFrame(unsigned long long device, LineFrame* frame) {
    LineFrame found;
    if (control<decltype(&zsim_serialLineFrame)>("zsim_serialLineFrame")(device, &found.dataBits, &found.parity,
                                                                           &found.stopBits) != 0)
        return false;
    if (frame != nullptr)
        *frame = found;
    return true;
}
void denySerialOpen(const std::string& path) {
    control<decltype(&zsim_serialDenyOpen)>("zsim_serialDenyOpen")(path.empty() ? nullptr : path.c_str());
}

const std::string& TraceEntry::at(const std::string& key) const {
    const auto found = fields.find(key);
    if (found == fields.end())
        throw std::runtime_error("trace entry " + kind + " has no field " + key);
    return found->second;
}

long long TraceEntry::number(const std::string& key) const {
    return std::stoll(at(key), nullptr, 0);
}

std::vector<uint8_t> TraceEntry::bytes(const std::string& key) const {
    return fromHex(at(key));
}

std::vector<TraceEntry> parseTrace(const std::string& text) {
    std::vector<TraceEntry> entries;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        TraceEntry entry;
        if (!(words >> entry.kind))
            continue;
        for (std::string word; words >> word;) {
            const auto equals = word.find('=');
            if (equals != std::string::npos)
                entry.fields[word.substr(0, equals)] = word.substr(equals + 1);
        }
        // An empty value ("sense=") leaves the key with an empty string.
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<TraceEntry> trace() {
    return parseTrace(traceText());
}

std::vector<TraceEntry> commands() {
    std::vector<TraceEntry> result;
    for (TraceEntry& entry : trace())
        if (entry.kind == "cmd")
            result.push_back(std::move(entry));
    return result;
}

std::vector<uint8_t> fromHex(const std::string& hex) {
    if (hex.size() % 2 != 0)
        throw std::runtime_error("odd hex text: " + hex);
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::vector<std::string> stateLines(const std::string& state, const std::string& device,
                                    const std::string& prefix) {
    std::vector<std::string> lines;
    std::istringstream in(state);
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("device ", 0) == 0)
            inside = line.rfind("device " + device + " ", 0) == 0;
        else if (inside && line.rfind(prefix, 0) == 0)
            lines.push_back(line);
    }
    return lines;
}

} // namespace zsim::client
