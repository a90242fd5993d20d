// Test support for the core library: a real log file read back, and fake interface and hardware
// modules that answer operation names like real ones and record every call they get.
#ifndef TESTS_SUPPORT_TEST_SUPPORT_H
#define TESTS_SUPPORT_TEST_SUPPORT_H

#include "core/lib.h"
#include "core/zelkor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

// Opens the library log in a fresh temporary directory with every type and level enabled.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Closes the log and returns its lines with the time stamps taken off.
    std::vector<std::string> lines();

  private:
    std::string dir_;
    std::string path_;
    bool open_ = false;
};

// True when the lines hold every wanted line, in this order (other lines may come between).
testing::AssertionResult containsInOrder(const std::vector<std::string>& lines,
                                         const std::vector<std::string>& wanted);
bool containsLine(const std::vector<std::string>& lines, const std::string& wanted);

template <typename T> std::string argumentText(T value) {
    if constexpr (std::is_pointer_v<T> || std::is_null_pointer_v<T>) {
        char text[32];
        std::snprintf(text, sizeof text, "%p", static_cast<const void*>(value));
        return text;
    } else {
        return std::to_string(static_cast<unsigned long long>(value));
    }
}

// "name(arg,arg,...)", pointers by address and numbers in decimal.
template <typename... Args> std::string describeCall(const char* name, Args... args) {
    std::string text = std::string(name) + "(";
    ((text += argumentText(args) + ","), ...);
    if constexpr (sizeof...(Args) > 0)
        text.pop_back();
    return text + ")";
}

// The operation names of recorded calls, without their arguments.
std::vector<std::string> callNames(const std::vector<std::string>& calls);

struct FakeModules {
    std::vector<std::string> calls;
    std::vector<std::string> ialQueries; // names asked of the fake interface module, in order
    std::vector<std::string> halQueries;
    std::set<std::string> missing;                // names the fakes do not answer
    std::map<std::string, ZELKOR_STATUS> results; // status per operation name, 0 when not given
    std::deque<ZELKOR_STATUS> ialOpenResults;     // taken one per interface open before results[]
    uint8_t ialMajor = 1;
    uint8_t ialMinor = 0;
    uint8_t halMajor = 1;
    uint8_t halMinor = 0;
    ZELKOR_EXPANDER_LIST expanders{};
    bool handOutList = true;
    bool halBuildsRegions = false; // the hardware open appends region nodes to the handle
    // What the listing hands out, allocated the way the interface modules allocate their lists: these
    // records when not empty, else one copy of `expanders`; a fresh list for the caller to free on every
    // listing. On interface code 0 it acts as the in-band module: one list kept and handed out again (with
    // heapExpanders empty, `expanders` itself).
    std::vector<ZELKOR_EXPANDER> heapExpanders;
    // The list kept for interface code 0 from heapExpanders. A successful open hands it to its caller, who
    // frees it; after a failed open it stays here, and releaseKeptList frees it.
    ZELKOR_EXPANDER_LIST* keptList = nullptr;
    void releaseKeptList();
    // When set, the hardware getRegions hands out a fresh copy of these region records (caller frees).
    bool handOutRegions = false;
    std::vector<std::array<uint32_t, 8>> regions;
    // With captureSetMorvValues (the value must then point at four real bytes): the value bytes of every
    // hardware setMorv call, in call order.
    bool captureSetMorvValues = false;
    std::vector<std::array<uint8_t, 4>> setMorvValues;
    // When set, answers every hardware uploadRegion (offset, length, buffer) instead of results[].
    std::function<ZELKOR_STATUS(uint32_t, uint32_t, uint8_t*)> uploadData;
    // Run right after a call of that operation name was recorded.
    std::map<std::string, std::function<void()>> onCall;
    ZELKOR_INSTANCE* halOpenHandle = nullptr;
    uint32_t ialOpenInterface = 0; // the interface code of the handle the interface was last opened on
    char ialToken = 0;
    char halToken = 0;

    ZELKOR_STATUS result(const std::string& name) const;
    void* ialInstance() { return &ialToken; }
    ZELKOR_HAL_INSTANCE* halInstance() { return reinterpret_cast<ZELKOR_HAL_INSTANCE*>(&halToken); }
};

extern FakeModules gFake;

ZELKOR_GENERIC_FUNCTION fakeIalQuery(const char* name);
ZELKOR_GENERIC_FUNCTION fakeHalQuery(const char* name);

// The registry entry of a registered module (fails the test when there is none).
LIB_ENTRY* registryEntry(const char* name);

// Builds the module registry as the first zelkor_open of a process does (interface code 8 is refused
// after it).
void buildModuleRegistry();

// While it lives, the named registry entries answer through the given query functions; the entries are
// put back as they were at its end. The registry must exist (the first zelkor_open of a process makes it).
class RegistryQuerySwap {
  public:
    explicit RegistryQuerySwap(const std::vector<std::pair<const char*, QUERY_SYMBOL_FUNCTION>>& queries);
    ~RegistryQuerySwap();
    RegistryQuerySwap(const RegistryQuerySwap&) = delete;
    RegistryQuerySwap& operator=(const RegistryQuerySwap&) = delete;

  private:
    std::vector<std::pair<LIB_ENTRY*, LIB_ENTRY>> saved_;
};

// Every built-in module's registry entry answers through the fakes for the duration of a test; the
// entries are put back as they were afterwards. The log is captured per test.
class FakeModuleTest : public testing::Test {
  protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Opens a handle through the fakes: interface 0 (SAS address) or 7 (a tty path); chip type as given.
    ZELKOR_INSTANCE* openHandle(uint32_t interface, uint32_t chipType);

    // A new log file; the previous one is closed first (one log is open at a time).
    void restartLog() {
        log_.reset();
        log_ = std::make_unique<LogCapture>();
    }

    std::unique_ptr<LogCapture> log_;

  private:
    std::optional<RegistryQuerySwap> swap_;
    ZELKOR_SHARED_VARS savedOptions_{};
};

extern const char* const kBuiltInNames[7];

#endif
