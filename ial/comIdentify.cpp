// The serial instance list shared by both serial modules, and the chip identification and SAS address
// read through an instance's register operation.
#include "ial/comInstance.h"

#include <algorithm>
#include <iterator>
#include <cstdio>
#include <cstring>

LL_LIST* gComInstanceList = nullptr;

namespace {

constexpr ZELKOR_STATUS kFailure = 1;
constexpr ZELKOR_STATUS kUnknownExpander = 19;
constexpr ZELKOR_STATUS kBoardWordUnreadable = 25;

constexpr uint32_t kOstrelSignature = 0xC000002C;
constexpr uint32_t kQuenzaSignature = 0xC380002C;
constexpr uint32_t kOstrelMiscConfig = 0xC00000A0;
constexpr uint32_t kOstrelGpioDirection = 0x40100010;
constexpr uint32_t kOstrelGpioOut = 0x40100014;
constexpr uint32_t kOstrelBoardWord = 0x14000028;
constexpr uint32_t kSwitchBoard = 200;
constexpr uint16_t kProductTolvane36OrBrisko = 0x223;
constexpr uint32_t kQuenzaSasHigh = 0xC0000048;
constexpr uint32_t kQuenzaSasLow = 0xC000004C;
constexpr uint32_t kOstrelSasHigh = 0xB0000048;
constexpr uint32_t kOstrelSasLow = 0xB000004C;

template <size_t N> void copyText(char (&field)[N], const char* text) {
    std::strncpy(field, text, N - 1);
    field[N - 1] = '\0';
}

struct OstrelModel {
    uint16_t productId;
    const char* name;
};
constexpr OstrelModel kOstrelModels[] = {
    {0x220, "Tolvane24"}, {0x221, "Tolvane28"}, {0x224, "Tolvane12"},
    {0x225, "Tolvane16"}, {0x226, "Tolvane20"}, {0x227, "Tolvane20A"},
};

// Revision 2: which of bits 7 and 6 of the miscellaneous configuration sticks when set names the step,
// each tried on the value first read; neither sticking is the last step.
struct RevisionStep {
    uint32_t bit;
    const char* text;
    uint8_t code;
    uint8_t index;
};
constexpr RevisionStep kRevisionSteps[] = {{1u << 7, "B0/B1", 2, 2}, {1u << 6, "B2", 4, 3}};
constexpr RevisionStep kLastRevisionStep{0, "B3", 5, 4};

void setRevision(ZELKOR_EXPANDER& record, const RevisionStep& step) {
    copyText(record.revision, step.text);
    record.revisionCode = step.code;
    record.revisionIndex = step.index;
}

ZELKOR_STATUS probeOstrelRevision(const ComRegisterAccess& access, ZELKOR_EXPANDER& record) {
    uint32_t first = 0;
    if (access(kReadWord, kOstrelMiscConfig, 0, &first) != 0)
        return kFailure;
    for (const RevisionStep& step : kRevisionSteps) {
        uint32_t again = 0;
        if (access(kWriteWord, kOstrelMiscConfig, first | step.bit, nullptr) != 0 ||
            access(kReadWord, kOstrelMiscConfig, 0, &again) != 0)
            return kFailure;
        if ((again & step.bit) != 0) {
            setRevision(record, step);
            return 0;
        }
    }
    setRevision(record, kLastRevisionStep);
    return 0;
}

ZELKOR_STATUS clearBit8(COM_INSTANCE* instance, uint32_t address) {
    uint32_t word = 0;
    if (comReadWord(instance, address, &word) != 0)
        return kFailure;
    return comWriteWord(instance, address, word & ~0x100U) != 0 ? kFailure : 0;
}

} // namespace

bool comInstanceListed(const COM_INSTANCE* instance) {
    if (instance == nullptr || gComInstanceList == nullptr)
        return false;
    void* data = nullptr;
    ll_moveFirst(gComInstanceList);
    while (ll_get(gComInstanceList, &data, nullptr) == LL_SUCCESS) {
        if (data == instance)
            return true;
        ll_moveNext(gComInstanceList);
    }
    return false;
}

bool comEnsureInstanceList() {
    if (gComInstanceList == nullptr)
        gComInstanceList = ll_new();
    return gComInstanceList != nullptr;
}

bool comAddInstance(COM_INSTANCE* instance) {
    return comEnsureInstanceList() && ll_add(gComInstanceList, instance, 0, LL_AT_TAIL) == LL_SUCCESS;
}

bool comRemoveInstance(COM_INSTANCE* instance) {
    return comInstanceListed(instance) && ll_remove(gComInstanceList, LL_AT_CURSOR) == LL_SUCCESS;
}

ZELKOR_STATUS comReadWord(COM_INSTANCE* instance, uint32_t address, uint32_t* word) {
    if (instance == nullptr || instance->registerOp == nullptr)
        return kFailure;
    return instance->registerOp(instance->port, kReadWord, address, 0, word, instance->expander.revisionCode);
}

ZELKOR_STATUS comWriteWord(COM_INSTANCE* instance, uint32_t address, uint32_t word) {
    if (instance == nullptr || instance->registerOp == nullptr)
        return kFailure;
    return instance->registerOp(instance->port, kWriteWord, address, word, nullptr,
                                instance->expander.revisionCode);
}

ZELKOR_STATUS comIdentifyOstrel(const ComOstrelProbe& probe, ZELKOR_EXPANDER& record) {
    uint32_t signature = 0;
    if (probe.access(kReadWord, kOstrelSignature, 0, &signature) != 0) {
        probe.log(ZELKOR_LOG_ERROR, "Reading Device Signature **** FAILED ****");
        return kFailure;
    }
    char line[64];
    std::snprintf(line, sizeof line, "Device Signature is 0x%08x", signature);
    probe.log(ZELKOR_LOG_INFO, line);

    const uint8_t revision = static_cast<uint8_t>(signature >> 8);
    // Later accesses carry the revision code read here.
    record.revisionCode = revision;
    if (revision == 0 || revision == 1) {
        copyText(record.revision, revision == 0 ? "A0" : "A1");
        record.revisionIndex = revision;
    } else if (revision == 2) {
        if (probeOstrelRevision(probe.access, record) != 0) {
            std::snprintf(line, sizeof line, "%s **** FAILED ****", probe.revisionFailure);
            probe.log(ZELKOR_LOG_ERROR, line);
            return kFailure;
        }
    } else {
        copyText(record.revision, "Unknown Revision");
    }

    record.productId = static_cast<uint16_t>(signature >> 16);
    record.type = ZELKOR_CHIP_OSTREL;
    record.familyName = "Ostrel";
    if (record.productId == kProductTolvane36OrBrisko) {
        uint32_t board = 0;
        if (const ZELKOR_STATUS status = probe.readBoard(&board); status != 0)
            return status;
        const bool isSwitch = board == kSwitchBoard;
        copyText(record.name, isSwitch ? "Brisko16" : "Tolvane36");
        record.type = isSwitch ? ZELKOR_CHIP_OSTREL_SWITCH : ZELKOR_CHIP_OSTREL;
        return 0;
    }
    const auto* model = std::find_if(std::begin(kOstrelModels), std::end(kOstrelModels),
                                     [&](const OstrelModel& m) { return m.productId == record.productId; });
    if (model == std::end(kOstrelModels)) {
        copyText(record.name, "Unknown Expander");
        return kUnknownExpander;
    }
    copyText(record.name, model->name);
    return 0;
}

ZELKOR_STATUS getOstrelIDAndRevision(COM_INSTANCE* instance) {
    if (instance == nullptr)
        return kFailure;
    const ComOstrelProbe probe{
        [instance](uint32_t operation, uint32_t address, uint32_t data, uint32_t* value) -> int32_t {
            if (instance->registerOp == nullptr)
                return static_cast<int32_t>(kFailure);
            return static_cast<int32_t>(instance->registerOp(instance->port, operation, address, data, value,
                                                             instance->expander.revisionCode));
        },
        // The board word is read once the GPIO bit 8 driving its strap is cleared.
        [instance](uint32_t* board) -> ZELKOR_STATUS {
            if (clearBit8(instance, kOstrelGpioDirection) != 0 || clearBit8(instance, kOstrelGpioOut) != 0)
                return kFailure;
            uint32_t word = 0;
            if (comReadWord(instance, kOstrelBoardWord, &word) != 0)
                return kBoardWordUnreadable;
            *board = word & 0xFFFF;
            return 0;
        },
        [instance](uint32_t level, const char* text) { comLog(instance, "getOstrelIDAndRevision", level, "%s", text); },
        "Identifying the Ostrel revision"};
    return comIdentifyOstrel(probe, instance->expander);
}

ZELKOR_STATUS getQuenzaIDAndRevision(COM_INSTANCE* instance) {
    constexpr const char* fn = "getQuenzaIDAndRevision";
    if (instance == nullptr)
        return kFailure;
    ZELKOR_EXPANDER& record = instance->expander;
    uint32_t signature = 0;
    if (comReadWord(instance, kQuenzaSignature, &signature) != 0) {
        comLog(instance, fn, ZELKOR_LOG_ERROR, "Reading Device Signature **** FAILED ****");
        return kFailure;
    }
    comLog(instance, fn, ZELKOR_LOG_INFO, "Device Signature is 0x%08x", signature);
    record.revisionCode = static_cast<uint8_t>(signature >> 8);
    record.productId = static_cast<uint16_t>(signature >> 16);
    record.type = 0;
    productIDAndRevDecode(&record);
    if (record.type != ZELKOR_CHIP_QUENZA && record.type != ZELKOR_CHIP_QUENZA_DAX) {
        // A product id of another family (or none known) is no family Quenza chip.
        record.type = 0;
        return kUnknownExpander;
    }
    return 0;
}

ZELKOR_STATUS getExpanderSASAddress(COM_INSTANCE* instance) {
    constexpr const char* fn = "getExpanderSASAddress";
    if (instance == nullptr)
        return kFailure;
    ZELKOR_EXPANDER& record = instance->expander;
    const bool quenza = record.type == ZELKOR_CHIP_QUENZA || record.type == ZELKOR_CHIP_QUENZA_DAX;
    const bool ramDebugBusy =
        instance->handle != nullptr && instance->handle->options != nullptr && instance->handle->options->ramDebugBusy;
    uint32_t high = 0;
    uint32_t low = 0;
    const uint32_t addresses[2] = {quenza ? kQuenzaSasHigh : kOstrelSasHigh, quenza ? kQuenzaSasLow : kOstrelSasLow};
    uint32_t* words[2] = {&high, &low};
    for (int i = 0; i < 2; ++i) {
        if (ramDebugBusy && instance->port != nullptr) {
            osal_serialPortEmptyBuffer(instance->port, kSerialFlushOutput);
            osal_serialPortEmptyBuffer(instance->port, kSerialFlushInput);
        }
        if (comReadWord(instance, addresses[i], words[i]) != 0) {
            comLog(instance, fn, ZELKOR_LOG_ERROR, "Reading the SAS address **** FAILED ****");
            return kFailure;
        }
    }
    if (!quenza)
        record.type = record.type == ZELKOR_CHIP_OSTREL_SWITCH ? ZELKOR_CHIP_OSTREL_SWITCH : ZELKOR_CHIP_OSTREL;
    record.sasAddressHigh = high;
    record.sasAddressLow = low;
    comLog(instance, fn, ZELKOR_LOG_INFO, "Expander SAS Address is 0x%08x:%08x", high, low);
    return 0;
}
