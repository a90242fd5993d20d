#include "tests/support/testSupport.h"
#include "tests/support/libraryLists.h"

#include "core/zelkorInternal.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <unistd.h>

FakeModules gFake;

const char* const kBuiltInNames[7] = {"IAL-COM",  "IAL-CLI",    "IAL-TCP",   "IAL-SAS",
                                      "HAL-Palx", "HAL-Ostrel", "HAL-Quenza"};

LogCapture::LogCapture() {
    std::string pattern = testing::TempDir() + "zelkorlogXXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        ADD_FAILURE() << "no temporary directory";
        return;
    }
    dir_ = buffer.data();
    path_ = dir_ + "/core.log";
    LOG_CONFIG config{};
    std::strncpy(config.name, path_.c_str(), sizeof config.name - 1);
    config.truncate = 1;
    config.typeMask = 0xFFFFFFFFu;
    config.levelMask = 0xFF;
    open_ = zelkor_initLogger(&config) == 0;
    EXPECT_TRUE(open_) << path_;
}

LogCapture::~LogCapture() {
    if (open_)
        zelkor_closeLogger();
    if (!path_.empty())
        std::remove(path_.c_str());
    if (!dir_.empty())
        rmdir(dir_.c_str());
}

std::vector<std::string> LogCapture::lines() {
    if (open_) {
        zelkor_closeLogger();
        open_ = false;
    }
    static const std::regex stamp(R"(^\d+/\d+/\d\d \d\d:\d\d:\d\d : )");
    std::vector<std::string> result;
    std::ifstream in(path_);
    for (std::string line; std::getline(in, line);)
        result.push_back(std::regex_replace(line, stamp, ""));
    return result;
}

testing::AssertionResult containsInOrder(const std::vector<std::string>& lines,
                                         const std::vector<std::string>& wanted) {
    auto at = lines.begin();
    for (const std::string& line : wanted) {
        at = std::find(at, lines.end(), line);
        if (at == lines.end()) {
            testing::AssertionResult failure = testing::AssertionFailure();
            failure << "missing (in order): \"" << line << "\"\nlog:\n";
            for (const std::string& l : lines)
                failure << "  " << l << "\n";
            return failure;
        }
        ++at;
    }
    return testing::AssertionSuccess();
}

bool containsLine(const std::vector<std::string>& lines, const std::string& wanted) {
    return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

std::vector<std::string> callNames(const std::vector<std::string>& calls) {
    std::vector<std::string> names;
    for (const std::string& call : calls)
        names.push_back(call.substr(0, call.find('(')));
    return names;
}

void FakeModules::releaseKeptList() {
    freeList(keptList);
    keptList = nullptr;
}

ZELKOR_STATUS FakeModules::result(const std::string& name) const {
    auto found = results.find(name);
    return found != results.end() ? found->second : 0;
}

namespace {

// Records one call and runs the test's hook for that operation, if any.
void record(const char* name, std::string call) {
    gFake.calls.push_back(std::move(call));
    auto hook = gFake.onCall.find(name);
    if (hook != gFake.onCall.end() && hook->second)
        hook->second();
}

// A compile-time text, so that one template makes a recording fake per operation name.
template <size_t N> struct FixedText {
    char text[N];
    constexpr FixedText(const char (&source)[N]) { std::copy_n(source, N, text); }
};

template <FixedText Name, typename Slot> struct RecordingFake;
template <FixedText Name, typename... Args> struct RecordingFake<Name, ZELKOR_STATUS (*)(Args...)> {
    static ZELKOR_STATUS call(Args... args) {
        record(Name.text, describeCall(Name.text, args...));
        return gFake.result(Name.text);
    }
};

template <typename F> ZELKOR_GENERIC_FUNCTION generic(F function) {
    return reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(function);
}

#define RECORDING(vectors, slot)                                                                             \
    { #slot, generic(&RecordingFake <#slot, decltype(vectors::slot)>::call) }

// Records the read; a test's uploadData fills the caller's buffer.
ZELKOR_STATUS fakeHalUploadRegion(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* region, uint32_t offset, uint32_t length,
                                  FILE* file, uint8_t* buffer) {
    record("zelkor_hal_uploadRegion",
           describeCall("zelkor_hal_uploadRegion", hi, region, offset, length, file, buffer));
    if (gFake.uploadData)
        return gFake.uploadData(offset, length, buffer);
    return gFake.result("zelkor_hal_uploadRegion");
}

bool isOpenResult(ZELKOR_STATUS status) {
    return status == 0 || status == 26 || status == 32 || status == 57;
}

ZELKOR_STATUS fakeIalOpen(ZELKOR_INSTANCE* handle, uint64_t target, void** instance) {
    record("zelkor_ial_open", describeCall("zelkor_ial_open", handle, target, instance));
    gFake.ialOpenInterface = handle->interface;
    ZELKOR_STATUS status = gFake.result("zelkor_ial_open");
    if (!gFake.ialOpenResults.empty()) {
        status = gFake.ialOpenResults.front();
        gFake.ialOpenResults.pop_front();
    }
    if (isOpenResult(status))
        *instance = gFake.ialInstance();
    return status;
}

ZELKOR_STATUS answerVersion(const char* name, uint8_t major, uint8_t minor, uint8_t* outMajor,
                            uint8_t* outMinor) {
    record(name, std::string(name) + "()");
    *outMajor = major;
    *outMinor = minor;
    return gFake.result(name);
}

ZELKOR_STATUS fakeIalVersion(uint8_t* major, uint8_t* minor) {
    return answerVersion("zelkor_ial_version", gFake.ialMajor, gFake.ialMinor, major, minor);
}

ZELKOR_STATUS fakeHalVersion(uint8_t* major, uint8_t* minor) {
    return answerVersion("zelkor_hal_version", gFake.halMajor, gFake.halMinor, major, minor);
}

ZELKOR_STATUS fakeIalGetExpanders(void* instance, ZELKOR_EXPANDER_LIST** list) {
    record("zelkor_ial_getExpanders", describeCall("zelkor_ial_getExpanders", instance, list));
    if (!gFake.handOutList)
        return gFake.result("zelkor_ial_getExpanders");
    const bool inBand = gFake.ialOpenInterface == 0;
    if (inBand && gFake.heapExpanders.empty()) {
        *list = &gFake.expanders;
        return gFake.result("zelkor_ial_getExpanders");
    }
    // A failed listing hands out nothing that someone would have to free.
    if (gFake.result("zelkor_ial_getExpanders") != 0)
        return gFake.result("zelkor_ial_getExpanders");
    if (inBand && gFake.keptList != nullptr) {
        *list = gFake.keptList;
        return 0;
    }
    ZELKOR_EXPANDER_LIST** tail = list;
    *tail = nullptr;
    const std::vector<ZELKOR_EXPANDER> records =
        gFake.heapExpanders.empty() ? std::vector<ZELKOR_EXPANDER>{gFake.expanders.expander} : gFake.heapExpanders;
    for (const ZELKOR_EXPANDER& record : records) {
        auto* node = static_cast<ZELKOR_EXPANDER_LIST*>(std::calloc(1, sizeof(ZELKOR_EXPANDER_LIST)));
        node->expander = record;
        *tail = node;
        tail = &node->next;
    }
    if (inBand)
        gFake.keptList = *list;
    return 0;
}

ZELKOR_STATUS fakeHalGetRegions(ZELKOR_HAL_INSTANCE* instance, ZELKOR_REGION_LIST** list) {
    record("zelkor_hal_getRegions", describeCall("zelkor_hal_getRegions", instance, list));
    if (gFake.handOutRegions) {
        ZELKOR_REGION_LIST** tail = list;
        *tail = nullptr;
        for (const auto& words : gFake.regions) {
            auto* node = static_cast<ZELKOR_REGION_LIST*>(std::calloc(1, sizeof(ZELKOR_REGION_LIST)));
            static_assert(sizeof node->region == sizeof(uint32_t) * 8);
            std::memcpy(&node->region, words.data(), sizeof node->region);
            *tail = node;
            tail = &node->next;
        }
    }
    return gFake.result("zelkor_hal_getRegions");
}

ZELKOR_STATUS fakeHalSetMorv(ZELKOR_HAL_INSTANCE* instance, uint8_t* value, uint8_t selector) {
    if (gFake.captureSetMorvValues && value != nullptr)
        gFake.setMorvValues.push_back({value[0], value[1], value[2], value[3]});
    record("zelkor_hal_setMorv", describeCall("zelkor_hal_setMorv", instance, value, selector));
    return gFake.result("zelkor_hal_setMorv");
}

ZELKOR_STATUS fakeHalOpen(ZELKOR_INSTANCE* handle, ZELKOR_HAL_INSTANCE** instance, uint32_t chipType) {
    gFake.halOpenHandle = handle;
    record("zelkor_hal_open", describeCall("zelkor_hal_open", handle, instance, chipType));
    const ZELKOR_STATUS status = gFake.result("zelkor_hal_open");
    if (!isOpenResult(status))
        return status;
    *instance = gFake.halInstance();
    if (gFake.halBuildsRegions) {
        // Two nodes, allocated the way the hardware modules allocate them.
        for (int i = 0; i < 2; ++i) {
            auto* node = static_cast<ZELKOR_REGION_LIST*>(std::calloc(1, sizeof(ZELKOR_REGION_LIST)));
            node->next = handle->regions;
            handle->regions = node;
        }
    }
    return status;
}

using OperationTable = std::map<std::string, ZELKOR_GENERIC_FUNCTION>;

const OperationTable& ialOperations() {
    static const OperationTable table = {
        {"zelkor_ial_open", generic(fakeIalOpen)},
        RECORDING(IAL_VECTORS, zelkor_ial_close),
        {"zelkor_ial_version", generic(fakeIalVersion)},
        {"zelkor_ial_getExpanders", generic(fakeIalGetExpanders)},
        RECORDING(IAL_VECTORS, zelkor_ial_downloadRegion),
        RECORDING(IAL_VECTORS, zelkor_ial_downloadRamdebug),
        RECORDING(IAL_VECTORS, zelkor_ial_uploadRegion),
        RECORDING(IAL_VECTORS, zelkor_ial_eraseRegion),
    };
    return table;
}

const OperationTable& halOperations() {
    static const OperationTable table = {
        {"zelkor_hal_open", generic(fakeHalOpen)},
        RECORDING(HAL_VECTORS, zelkor_hal_close),
        {"zelkor_hal_version", generic(fakeHalVersion)},
        {"zelkor_hal_getRegions", generic(fakeHalGetRegions)},
        RECORDING(HAL_VECTORS, zelkor_hal_getRegionVersion),
        RECORDING(HAL_VECTORS, zelkor_hal_getDevices),
        RECORDING(HAL_VECTORS, zelkor_hal_getPhys),
        RECORDING(HAL_VECTORS, zelkor_hal_getPhy),
        RECORDING(HAL_VECTORS, zelkor_hal_getPorts),
        RECORDING(HAL_VECTORS, zelkor_hal_getRouteTable),
        RECORDING(HAL_VECTORS, zelkor_hal_getZonePermissions),
        {"zelkor_hal_setMorv", generic(fakeHalSetMorv)},
        RECORDING(HAL_VECTORS, zelkor_hal_setSmartCli),
        RECORDING(HAL_VECTORS, zelkor_hal_resetExpander),
        RECORDING(HAL_VECTORS, zelkor_hal_resetPhy),
        RECORDING(HAL_VECTORS, zelkor_hal_xml2bin),
        RECORDING(HAL_VECTORS, zelkor_hal_bin2xml),
        RECORDING(HAL_VECTORS, zelkor_hal_testPhy),
        RECORDING(HAL_VECTORS, zelkor_hal_bootRecordValidation),
        RECORDING(HAL_VECTORS, zelkor_hal_fwExpanderValidation),
        RECORDING(HAL_VECTORS, zelkor_hal_fwChecksumValidation),
        RECORDING(HAL_VECTORS, zelkor_hal_getFwVersion),
        RECORDING(HAL_VECTORS, zelkor_hal_fwImageValidation),
        RECORDING(HAL_VECTORS, zelkor_hal_mfgImageValidation),
        RECORDING(HAL_VECTORS, zelkor_hal_mfgChecksumValidation),
        RECORDING(HAL_VECTORS, zelkor_hal_getRegionChecksum),
        RECORDING(HAL_VECTORS, zelkor_hal_downloadRegion),
        RECORDING(HAL_VECTORS, zelkor_hal_downloadRamdebug),
        {"zelkor_hal_uploadRegion", generic(&fakeHalUploadRegion)},
        RECORDING(HAL_VECTORS, zelkor_hal_eraseRegion),
    };
    return table;
}

ZELKOR_GENERIC_FUNCTION answer(const OperationTable& table, std::vector<std::string>& asked,
                               const char* name) {
    asked.emplace_back(name);
    if (gFake.missing.count(name) != 0)
        return nullptr;
    auto found = table.find(name);
    return found != table.end() ? found->second : nullptr;
}

} // namespace

ZELKOR_GENERIC_FUNCTION fakeIalQuery(const char* name) {
    return answer(ialOperations(), gFake.ialQueries, name);
}

ZELKOR_GENERIC_FUNCTION fakeHalQuery(const char* name) {
    return answer(halOperations(), gFake.halQueries, name);
}

LIB_ENTRY* registryEntry(const char* name) {
    LIB_ENTRY* entry = nullptr;
    EXPECT_EQ(findLibEntry(LIB_FIND_BY_NAME, name, nullptr, &entry), LIB_SUCCESS) << name;
    return entry;
}

RegistryQuerySwap::RegistryQuerySwap(
    const std::vector<std::pair<const char*, QUERY_SYMBOL_FUNCTION>>& queries) {
    for (const auto& [name, query] : queries) {
        LIB_ENTRY* entry = registryEntry(name);
        if (entry == nullptr)
            continue;
        saved_.emplace_back(entry, *entry);
        entry->querySymbol = query;
    }
}

RegistryQuerySwap::~RegistryQuerySwap() {
    for (auto& [entry, copy] : saved_)
        *entry = copy;
}

void buildModuleRegistry() {
    ZELKOR_INSTANCE* handle = nullptr;
    ASSERT_EQ(zelkor_open(8, 0, &handle, nullptr, nullptr), 5u);
}

void FakeModuleTest::SetUpTestSuite() { buildModuleRegistry(); }

void FakeModuleTest::SetUp() {
    gFake = FakeModules{};
    gFake.expanders.expander.type = ZELKOR_CHIP_OSTREL;
    savedOptions_ = gSharedVars;
    std::vector<std::pair<const char*, QUERY_SYMBOL_FUNCTION>> queries;
    for (const char* name : kBuiltInNames)
        queries.emplace_back(name, name[0] == 'I' ? fakeIalQuery : fakeHalQuery);
    swap_.emplace(queries);
    restartLog();
}

void FakeModuleTest::TearDown() {
    log_.reset();
    swap_.reset();
    gSharedVars = savedOptions_;
}

ZELKOR_INSTANCE* FakeModuleTest::openHandle(uint32_t interface, uint32_t chipType) {
    static char ttyPath[] = "/dev/ttyFAKE0";
    gFake.expanders.expander.type = chipType;
    const uint64_t target = interface == 0 ? 0x5000ABCD00001234ull : reinterpret_cast<uintptr_t>(ttyPath);
    ZELKOR_INSTANCE* handle = nullptr;
    EXPECT_EQ(zelkor_open(interface, target, &handle, nullptr, nullptr), 0u);
    gFake.calls.clear();
    return handle;
}
