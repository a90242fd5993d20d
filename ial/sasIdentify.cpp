// In-band identification of one expander: the firmware signature, then the family's device signature,
// revision, product and board name.
#include "ial/sasModule.h"

#include "core/firmwareImage.h"

#include <cstdio>

namespace ialsas {

// ---- identification ----

// Firmware signature: sets the current expander type (0 when none is recognised).
ZELKOR_STATUS getSignature(SAS_INSTANCE& inst) {
    const char* fn = "getSignature";
    ZELKOR_INSTANCE* handle = inst.handle;
    Trace trace(handle, fn);
    gExpanderType = 0;
    LOG_INFO(handle, fn, "Reading Firmware Signature");
    uint32_t word = 0;
    readWord(inst, SAS_BUFFER_SIGNATURE, kSignatureOffset, &word);
    if (word == FW_SIGNATURE_QUENZA[0]) {
        gExpanderType = ZELKOR_CHIP_QUENZA;
    } else if (word == FW_SIGNATURE_OSTREL[0]) {
        gExpanderType = ZELKOR_CHIP_OSTREL;
    } else {
        readWord(inst, SAS_BUFFER_SIGNATURE_TYPE1, kSignatureOffset, &word);
        if (word != FW_SIGNATURE_PALX[0]) {
            LOG_ERROR(handle, fn, "Valid Firmware Signature Not Found");
            return kFailure;
        }
        gExpanderType = ZELKOR_CHIP_PALX;
        setText(inst.expander.name, "Kerrin - Unknown no of phys....");
        setText(inst.expander.revision, "Unknown Revision");
    }
    LOG_INFO(handle, fn, "Valid Firmware Signature Found");
    return 0;
}

// Names used for the board when the manufacturer page gives none.
struct BoardNameFallback {
    const char* headerFailed;
    const char* dataFailed;
};

BoardNameFallback boardFallback(uint32_t type, bool quenzaRules) {
    if (type == ZELKOR_CHIP_OSTREL_SWITCH)
        return {"Unknown Switch", "Unknown Switch"};
    if (quenzaRules && isQuenzaType(type))
        return {"Unknown", "Unknown "};
    return {"Unknown", "Unknown"};
}

// Board name from the manufacturer page 0xFF01, then the display name built from it. 0, or 6 when the
// page buffer could not be allocated.
ZELKOR_STATUS fillBoardName(SAS_INSTANCE& inst, const char* fn, bool quenzaRules) {
    ZELKOR_INSTANCE* handle = inst.handle;
    ZELKOR_EXPANDER& e = inst.expander;
    const BoardNameFallback fallback = boardFallback(e.type, quenzaRules);
    char board[kBoardNameSize + 1] = {};
    ZELKOR_STATUS result = 0;
    // The flag describes the device being identified only.
    gFillIpAddrFlag = 0;

    LOG_INFO(handle, fn, "Reading Report Manufacturer Configuration Page header");
    std::array<uint8_t, kPageHeaderSize> header{};
    bool headerRead = readWhole(inst, SAS_BUFFER_CONFIG_PAGE, header.data(), header.size(),
                                MFG_PAGE_MANUFACTURER_CONFIG, 1) == 0;
    const uint32_t length = header[0] | (header[1] << 8);
    if (quenzaRules && (header[2] != 0x01 || header[3] != 0xFF))
        headerRead = false;
    // A page too short to hold the board name is no manufacturer page.
    if (!headerRead || length < kBoardNameAt + kBoardNameSize) {
        gFillIpAddrFlag = 0;
        LOG_ERROR(handle, fn, "Unable to read report manufacture page Header **** FAILED ****");
        setText(board, fallback.headerFailed);
    } else {
        LOG_INFO(handle, fn, "Reading Report Manufacturer Configuration Page data");
        HeapBytes page(static_cast<uint8_t*>(std::calloc(length, 1)));
        if (!page) {
            LOG_ERROR(handle, fn,
                      "Memory allocation for reading Report Manufacturer Configuration Page data **** FAILED "
                      "****");
            result = kNoMemory;
            setText(board, fallback.dataFailed);
        } else if (readWhole(inst, SAS_BUFFER_CONFIG_PAGE, page.get(), length, MFG_PAGE_MANUFACTURER_CONFIG,
                             1) != 0) {
            LOG_ERROR(handle, fn, "Unable to read report manufacture page data **** FAILED ****");
            setText(board, fallback.dataFailed);
        } else {
            // At most 16 bytes, cut at the first blank (or NUL).
            const uint8_t* name = page.get() + kBoardNameAt;
            size_t n = 0;
            while (n < kBoardNameSize && name[n] != ' ' && name[n] != '\0')
                ++n;
            std::memcpy(board, name, n);
            board[n] = '\0';
            gFillIpAddrFlag = 1;
        }
    }

    if (e.type == ZELKOR_CHIP_OSTREL_SWITCH) {
        setText(e.name, board);
    } else {
        char model[sizeof e.name + 1] = {};
        std::memcpy(model, e.name, sizeof e.name);
        char combined[sizeof board + sizeof model + 4];
        std::snprintf(combined, sizeof combined, "%s (%s)", board, model);
        setText(e.name, combined);
    }
    return result;
}

struct OstrelModel {
    uint16_t productId;
    const char* name;
    uint32_t type;
};

constexpr std::array<OstrelModel, 8> kOstrelModels{{
    {0x211, "Kerrin28", ZELKOR_CHIP_PALX},
    {0x213, "Kerrin36", ZELKOR_CHIP_PALX},
    {0x220, "Tolvane24", ZELKOR_CHIP_OSTREL},
    {0x221, "Tolvane28", ZELKOR_CHIP_OSTREL},
    {0x224, "Tolvane12", ZELKOR_CHIP_OSTREL},
    {0x225, "Tolvane16", ZELKOR_CHIP_OSTREL},
    {0x226, "Tolvane20", ZELKOR_CHIP_OSTREL},
    {0x227, "Tolvane20A", ZELKOR_CHIP_OSTREL},
}};
constexpr uint16_t kProductTolvane36OrSwitch = 0x223;

// Revision probe of family Ostrel revision 2: which of bits 7 and 6 of MISC_CONFIG_REG stick when set.
// 7 or 6 for the bit that stuck, 0 for neither, -1 when a register access failed. The register is left
// as written.
int probeMiscConfig(const SAS_INSTANCE& inst, const char* fn) {
    ZELKOR_INSTANCE* handle = inst.handle;
    constexpr uint32_t kBytes = 4;
    uint32_t value = 0;
    auto readFailed = [&](const char* notice, const char* text) {
        say("%s", notice);
        LOG_ERROR(handle, fn, text, kBytes, MISC_CONFIG_REG, SAS_BUFFER_REGISTER);
        return -1;
    };
    constexpr const char* kReadFailed =
        "Reading %d bytes of MISC_CONFIG_REG at 0x%08x offset using 0x%x buffer ID **** FAILED ****";
    if (readWord(inst, SAS_BUFFER_REGISTER, MISC_CONFIG_REG, &value) != 0)
        return readFailed(
            kReadFailedNotice,
            "Unable to read %d bytes of data at 0x%08x offset using 0x%x Buffer ID **** FAILED ****");
    value |= 0x80;
    if (writeRegister(inst, MISC_CONFIG_REG, value) != 0) {
        LOG_ERROR(
            handle, fn,
            "Unable to Write 0x%x data of %d bytes at 0x%08x offset using 0x%x Buffer ID **** FAILED ****",
            value, kBytes, MISC_CONFIG_REG, SAS_BUFFER_REGISTER);
        return -1;
    }
    if (readWord(inst, SAS_BUFFER_REGISTER, MISC_CONFIG_REG, &value) != 0)
        return readFailed(kReadFailedNotice, kReadFailed);
    if (value & 0x80)
        return 7;
    if (readWord(inst, SAS_BUFFER_REGISTER, MISC_CONFIG_REG, &value) != 0)
        return readFailed(kReadFailedNotice, kReadFailed);
    value |= 0x40;
    if (writeRegister(inst, MISC_CONFIG_REG, value) != 0) {
        LOG_ERROR(
            handle, fn,
            "Writing %d bytes of MISC_CONFIG_REG at 0x%08x offset using 0x%x buffer ID **** FAILED ****",
            kBytes, MISC_CONFIG_REG, SAS_BUFFER_REGISTER);
        return -1;
    }
    if (readWord(inst, SAS_BUFFER_REGISTER, MISC_CONFIG_REG, &value) != 0)
        return readFailed("\n **** OSAL SAS Device Read data FAILED", kReadFailed);
    return (value & 0x40) ? 6 : 0;
}

// Reads the device-signature register; logs as both family identifications do.
ZELKOR_STATUS readDeviceSignature(const SAS_INSTANCE& inst, const char* fn, uint32_t address,
                                  uint32_t* value) {
    ZELKOR_INSTANCE* handle = inst.handle;
    LOG_INFO(handle, fn, "Reading %d bytes of DEVICE_SIGNATURE_ADDRESS at 0x%08x offset using 0x%x buffer ID",
             4, address, SAS_BUFFER_MEMORY);
    const ZELKOR_STATUS status = readWord(inst, SAS_BUFFER_MEMORY, address, value);
    if (status != 0) {
        LOG_ERROR(handle, fn,
                  "Unable to read %d bytes of data at 0x%08x offset using 0x%x Buffer ID **** FAILED ****", 4,
                  address, SAS_BUFFER_MEMORY);
        return status;
    }
    LOG_INFO(handle, fn, "DeviceSignatureAddress(0x%08x) value is 0x%08x", address, *value);
    return 0;
}

// The argument checks of both family identifications; true when the step must end with *result.
bool refusesIdentification(const SAS_INSTANCE* inst, ZELKOR_STATUS* result) {
    if (inst == nullptr || inst->handle == nullptr) {
        say("**** ERROR **** PtrZelkor is NULL");
        *result = kInvalidArguments;
        return true;
    }
    if (inst->handle->progress == nullptr) {
        say("**** ERROR **** Invalid arguments");
        *result = kInvalidArguments;
        return true;
    }
    return false;
}

ZELKOR_STATUS zelkor_ial_getExpanderIDAndRevision(SAS_INSTANCE* inst) {
    const char* fn = "zelkor_ial_getExpanderIDAndRevision";
    ZELKOR_STATUS refused = 0;
    if (refusesIdentification(inst, &refused))
        return refused;
    ZELKOR_INSTANCE* handle = inst->handle;
    ZELKOR_EXPANDER& e = inst->expander;
    Trace trace(handle, fn);
    uint32_t signature = 0;
    if (const ZELKOR_STATUS status = readDeviceSignature(*inst, fn, DEVICE_SIGNATURE_ADDRESS, &signature))
        return status;

    const auto revisionBits = static_cast<uint8_t>(signature >> 8);
    e.revisionCode = revisionBits;
    bool decided = true;
    switch (revisionBits) {
    case 0:
    case 1:
        setText(e.revision, revisionBits == 0 ? "A0" : "A1");
        e.revisionIndex = revisionBits;
        break;
    case 2:
        switch (probeMiscConfig(*inst, fn)) {
        case 7:
            setText(e.revision, "B0/B1");
            e.revisionIndex = 2;
            e.revisionCode = 2;
            break;
        case 6:
            setText(e.revision, "B2");
            e.revisionIndex = 3;
            e.revisionCode = 4;
            break;
        case 0:
            setText(e.revision, "B3");
            e.revisionIndex = 4;
            e.revisionCode = 5;
            break;
        default:
            decided = false;
            break;
        }
        break;
    default:
        setText(e.revision, "Unknown Revision");
        break;
    }
    if (decided)
        LOG_INFO(handle, fn, "Expander Revision is %s ", e.revision);

    e.productId = static_cast<uint16_t>(signature >> 16);
    ZELKOR_STATUS status = 0;
    if (e.productId == kProductTolvane36OrSwitch) {
        uint32_t model = 0;
        if (readWord(*inst, SAS_BUFFER_REGISTER, SWITCH_MODEL_REG, &model) != 0) {
            say("%s", kReadFailedNotice);
            status = kSwitchUnreadable;
        } else if ((model & 0xFFFF) == kSwitchModel) {
            setText(e.name, "Brisko16");
            e.type = ZELKOR_CHIP_OSTREL_SWITCH;
        } else {
            setText(e.name, "Tolvane36");
            e.type = ZELKOR_CHIP_OSTREL;
        }
    } else {
        status = kUnknownExpander;
        setText(e.name, "Unknown Expander");
        for (const OstrelModel& m : kOstrelModels)
            if (m.productId == e.productId) {
                setText(e.name, m.name);
                e.type = m.type;
                status = 0;
                break;
            }
    }

    if (e.type == ZELKOR_CHIP_OSTREL || e.type == ZELKOR_CHIP_OSTREL_SWITCH)
        status = fillBoardName(*inst, fn, false);
    LOG_INFO(handle, fn, "Expander type is %s ", e.name);
    return status;
}

ZELKOR_STATUS zelkor_ial_getExpanderIDAndRevisionQuenza(SAS_INSTANCE* inst) {
    const char* fn = "zelkor_ial_getExpanderIDAndRevisionGen3";
    ZELKOR_STATUS refused = 0;
    if (refusesIdentification(inst, &refused))
        return refused;
    ZELKOR_INSTANCE* handle = inst->handle;
    ZELKOR_EXPANDER& e = inst->expander;
    Trace trace(handle, fn);
    uint32_t signature = 0;
    if (const ZELKOR_STATUS status =
            readDeviceSignature(*inst, fn, DEVICE_SIGNATURE_ADDRESS_QUENZA, &signature))
        return status;
    e.productId = static_cast<uint16_t>(signature >> 16);
    e.revisionCode = static_cast<uint8_t>(signature >> 8);
    productIDAndRevDecode(&e);
    LOG_INFO(handle, fn, "Device found is %s ", e.familyName != nullptr ? e.familyName : "");
    ZELKOR_STATUS status = 0;
    if (isFamilyType(e.type))
        status = fillBoardName(*inst, fn, true);
    LOG_INFO(handle, fn, "Expander Type is %s ", e.name);
    return status;
}

ZELKOR_STATUS getIDAndRevision(SAS_INSTANCE& inst) {
    const char* fn = "getIDAndRevision";
    ZELKOR_INSTANCE* handle = inst.handle;
    Trace trace(handle, fn);
    switch (gExpanderType) {
    case ZELKOR_CHIP_OSTREL:
        LOG_INFO(handle, fn, "Reading Id and Revision of theExpander");
        return zelkor_ial_getExpanderIDAndRevision(&inst);
    case ZELKOR_CHIP_QUENZA:
    case ZELKOR_CHIP_QUENZA_DAX:
        LOG_INFO(handle, fn, "Reading Id and Revision of the Expander");
        return zelkor_ial_getExpanderIDAndRevisionQuenza(&inst);
    default:
        LOG_ERROR(handle, fn, "Reading Expander Id and Revision **** FAILED ****");
        return kFailure;
    }
}

} // namespace ialsas
