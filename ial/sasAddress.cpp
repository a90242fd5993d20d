// In-band reading of an expander's SAS address: from the family's SAS-address registers, or from
// INQUIRY VPD page 0x83 for chip type 1.
#include "ial/sasModule.h"

namespace ialsas {

// ---- SAS address ----

ZELKOR_STATUS fillAddressFromRegisters(SAS_INSTANCE* inst, const char* fn, uint32_t highAddress,
                                       uint32_t lowAddress) {
    if (inst == nullptr || inst->handle == nullptr) {
        say("**** ERROR **** PtrZelkor is NULL");
        return kInvalidArguments;
    }
    ZELKOR_INSTANCE* handle = inst->handle;
    Trace trace(handle, fn);
    uint32_t high = 0;
    uint32_t low = 0;
    LOG_INFO(handle, fn, "Reading %d bytes using 0x%x buffer ID at 0x%08x offset for SAS address High", 4,
             SAS_BUFFER_REGISTER, highAddress);
    ZELKOR_STATUS status = readWord(*inst, SAS_BUFFER_REGISTER, highAddress, &high);
    if (status != 0) {
        say("%s", kReadFailedNotice);
        LOG_ERROR(handle, fn,
                  "Unable to read %d bytes using 0x%x buffer ID at 0x%08x offset for SAS address High **** "
                  "FAILED ****",
                  4, SAS_BUFFER_REGISTER, highAddress);
        return status;
    }
    LOG_INFO(handle, fn, "SAS address High 0x%08x ", high);
    LOG_INFO(handle, fn, "Reading %d bytes using 0x%x buffer ID at 0x%08x offset for SAS address Low", 4,
             SAS_BUFFER_REGISTER, lowAddress);
    status = readWord(*inst, SAS_BUFFER_REGISTER, lowAddress, &low);
    if (status != 0) {
        say("%s", kReadFailedNotice);
        LOG_ERROR(handle, fn,
                  "Unable to read %d bytes using 0x%x buffer ID at 0x%08x offset for SAS address Low **** "
                  "FAILED ****",
                  4, SAS_BUFFER_REGISTER, lowAddress);
        return status;
    }
    LOG_INFO(handle, fn, "SAS address Low 0x%08x ", low);
    inst->expander.sasAddressHigh = high;
    inst->expander.sasAddressLow = low;
    return 0;
}

// Family Ostrel and Quenza: the address from the family's SAS-address registers.
ZELKOR_STATUS zelkor_ial_fillOstrelSpecificInfo(SAS_INSTANCE* inst) {
    return fillAddressFromRegisters(inst, "zelkor_ial_fillOstrelSpecificInfo", SAS_ADDRESS_HIGH_OSTREL,
                                    SAS_ADDRESS_LOW_OSTREL);
}

ZELKOR_STATUS zelkor_ial_fillGen3SpecificInfo(SAS_INSTANCE* inst) {
    return fillAddressFromRegisters(inst, "zelkor_ial_fillGen3SpecificInfo", SAS_ADDRESS_HIGH_QUENZA,
                                    SAS_ADDRESS_LOW_QUENZA);
}

// Chip type 1: the address from INQUIRY VPD page 0x83.
ZELKOR_STATUS zelkor_ial_fillPalxSpecificInfo(SAS_INSTANCE* inst) {
    const char* fn = "zelkor_ial_fillPalxSpecificInfo";
    if (inst == nullptr || inst->handle == nullptr) {
        say("**** ERROR **** PtrZelkor is NULL");
        return kInvalidArguments;
    }
    ZELKOR_INSTANCE* handle = inst->handle;
    Trace trace(handle, fn);
    LOG_INFO(handle, fn, "Reading VPD page");
    std::array<uint8_t, SAS_INQUIRY_REPLY_LENGTH> reply{};
    uint32_t received = 0;
    const ZELKOR_STATUS status =
        zelkor_ial_inquiryVpd(inst->device, VPD_DEVICE_IDENTIFICATION, reply.data(), &received);
    uint64_t address = 0;
    if (status != 0)
        LOG_ERROR(handle, fn, "Unable to read VPD page **** FAILED ****");
    else
        address = getSASAddress(reply.data(), received);
    inst->expander.sasAddressHigh = highHalf(address);
    inst->expander.sasAddressLow = lowHalf(address);
    LOG_INFO(handle, fn, "Sas Address %08x%08x", inst->expander.sasAddressHigh, inst->expander.sasAddressLow);
    return status;
}

ZELKOR_STATUS zelkor_ial_getExpanderSasAddress(SAS_INSTANCE& inst) {
    const char* fn = "zelkor_ial_getExpanderSasAddress";
    if (inst.handle == nullptr)
        return kInvalidArguments;
    Trace trace(inst.handle, fn);
    ZELKOR_STATUS status = kUnknownExpander;
    switch (inst.expander.type) {
    case ZELKOR_CHIP_OSTREL:
    case ZELKOR_CHIP_OSTREL_SWITCH:
        status = zelkor_ial_fillOstrelSpecificInfo(&inst);
        break;
    case ZELKOR_CHIP_QUENZA:
    case ZELKOR_CHIP_QUENZA_DAX:
        status = zelkor_ial_fillGen3SpecificInfo(&inst);
        break;
    case ZELKOR_CHIP_PALX:
        status = zelkor_ial_fillPalxSpecificInfo(&inst);
        break;
    default:
        break;
    }
    if (status != 0)
        LOG_ERROR(inst.handle, fn, "Filling Expander specific information **** FAILED ****");
    return status;
}

} // namespace ialsas
