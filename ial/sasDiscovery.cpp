// The in-band module's open, expander listing, close and version: the scan over the host's SCSI-generic
// devices, the selection of the addressed expander and the module's expander list.
#include "ial/sasModule.h"

#include <cstdio>
#include <vector>

namespace ialsas {

// A new list node holding the record's identity and settings (not its cached page).
ZELKOR_EXPANDER_LIST* copyExpAttributes(const ZELKOR_INSTANCE* handle, const ZELKOR_EXPANDER& e) {
    Trace trace(handle, "copyExpAttributes");
    auto* node = static_cast<ZELKOR_EXPANDER_LIST*>(std::calloc(1, sizeof(ZELKOR_EXPANDER_LIST)));
    if (node == nullptr)
        return nullptr;
    ZELKOR_EXPANDER& n = node->expander;
    n.sasAddressLow = e.sasAddressLow;
    n.sasAddressHigh = e.sasAddressHigh;
    n.type = e.type;
    n.productId = e.productId;
    n.revisionCode = e.revisionCode;
    n.revisionIndex = e.revisionIndex;
    std::memcpy(n.name, e.name, sizeof n.name);
    std::memcpy(n.revision, e.revision, sizeof n.revision);
    std::memcpy(n.ipAddress, e.ipAddress, sizeof n.ipAddress);
    std::memcpy(n.subnetMask, e.subnetMask, sizeof n.subnetMask);
    std::memcpy(n.gateway, e.gateway, sizeof n.gateway);
    std::memcpy(n.macAddress, e.macAddress, sizeof n.macAddress);
    n.dhcp = e.dhcp;
    node->next = nullptr;
    return node;
}

// ---- open, list, close, version ----

// What one scan over the device directory does with an identified expander.
struct ScanTexts {
    const char* function;
    const char* giveUp;
    bool listing;
};

// Opens device N, identifies it and reads its SAS address. True with the device held in the instance;
// false with nothing held. *giveUp is set when too many devices failed to open.
bool identifyDevice(SAS_INSTANCE& inst, int number, const ScanTexts& texts, int* openFailures, bool* giveUp) {
    ZELKOR_INSTANCE* handle = inst.handle;
    const char* fn = texts.function;
    LOG_INFO(handle, fn, texts.listing ? "Opening the SCSI device %d " : "Opening the SCSI device %d",
             number);
    const OsalSasDevice device = osal_sasDeviceOpen(number);
    if (device == OSAL_SAS_NO_DEVICE) {
        // The listing's scan names only the devices it opens and identifies.
        if (!texts.listing)
            LOG_ERROR(handle, fn, "Attached device %d may not be ENCLOSURE type", number + 1);
        if (++*openFailures > 4096) {
            LOG_ERROR(handle, fn, "%s", texts.giveUp);
            *giveUp = true;
        }
        return false;
    }
    inst.device = device;
    // Nothing of the previous device may carry over.
    std::memset(&inst.expander, 0, sizeof inst.expander);
    bool identified = getSignature(inst) == 0;
    if (identified) {
        LOG_INFO(handle, fn, "Reading Id and Revision of SCSI device %d", number + 1);
        identified = getIDAndRevision(inst) == 0;
    }
    if (!identified) {
        if (!texts.listing)
            LOG_ERROR(handle, fn, "Reading Expander Id and Revision for SCSI device %d **** FAILED ****",
                      number + 1);
        closeDevice(inst);
        return false;
    }
    if (isFamilyType(inst.expander.type))
        gExpanderType = inst.expander.type;
    if (!texts.listing)
        LOG_INFO(handle, fn, "Reading Expander SAS address for SCSI device %d", number + 1);
    if (zelkor_ial_getExpanderSasAddress(inst) != 0) {
        if (!texts.listing)
            LOG_ERROR(handle, fn, "Reading Expander SAS address for SCSI device %d **** FAILED ****",
                      number + 1);
        closeDevice(inst);
        return false;
    }
    return true;
}

const char* openFamilyWord(uint32_t type) {
    switch (type) {
    case ZELKOR_CHIP_OSTREL:
        return "Ostrel";
    case ZELKOR_CHIP_OSTREL_SWITCH:
        return "Switch";
    case ZELKOR_CHIP_QUENZA:
        return "Quenza";
    case ZELKOR_CHIP_QUENZA_DAX:
        return "Dax";
    default:
        return "Palx";
    }
}

const char* listingFamilyWord(uint32_t type) {
    switch (type) {
    case ZELKOR_CHIP_OSTREL:
        return "OSTREL";
    case ZELKOR_CHIP_OSTREL_SWITCH:
        return "SWITCH";
    case ZELKOR_CHIP_QUENZA:
        return "GEN3";
    default:
        return "";
    }
}

// The scan of the open: finds the expander with the given address and keeps its device open.
ZELKOR_STATUS selectExpander(SAS_INSTANCE& inst, uint32_t high, uint32_t low) {
    const char* fn = "zelkor_ial_open";
    ZELKOR_INSTANCE* handle = inst.handle;
    LOG_INFO(handle, fn, "Detecting the total number of SCSI devices attached to the Host");
    const int count = osal_numScsiDevices();
    if (count < 0) {
        LOG_ERROR(handle, fn, "Host machine is unable to detect any attached SCSI device. **** FAILED ****");
        return kNoScsiDevices;
    }
    LOG_INFO(handle, fn, "Host machine has detected %d attached SCSI devices\n", count);

    const ScanTexts texts{fn, "Unable to communicate over interface **** FAILED ****", false};
    std::vector<int> numbers;
    bool selected = false;
    if (osal_scsiDeviceNumbers(&numbers) == 0) {
        int openFailures = count;
        bool giveUp = false;
        for (int number : numbers) {
            if (!identifyDevice(inst, number, texts, &openFailures, &giveUp)) {
                if (giveUp)
                    break;
                continue;
            }
            LOG_INFO(handle, fn, "Comparing SAS address specified by user with that of Expander");
            if (cmpSasAddress(handle, inst.expander.sasAddressHigh, inst.expander.sasAddressLow, high, low) ==
                1) {
                selected = true;
                break;
            }
            LOG_ERROR(handle, fn,
                      "Comparison of SAS address specified by user with that of Expander **** FAILED ****");
            closeDevice(inst);
        }
    }

    if (!selected) {
        LOG_ERROR(handle, fn, "Sas address %08x%08x is not attached to the HOST machine **** FAILED ****",
                  high, low);
        if (gFlagDeviceErrorDisplayOpen == 1) {
            say("\n SCSI device is not ENCLOSURE  type");
            say(" \n Sas address %08x%08x is not attached to the HOST machine **** FAILED ****", high, low);
        }
        ++gFlagDeviceErrorDisplayOpen;
        return kNotAttached;
    }

    LOG_INFO(handle, fn, "%s Device with SAS address %08x%08x is attached to the HOST machine",
             openFamilyWord(inst.expander.type), high, low);
    LOG_INFO(handle, fn, "Reading IP Address of %08x%08x device", high, low);
    readIpSettings(inst);
    if (gPtrExpList == nullptr) {
        gPtrExpList = copyExpAttributes(handle, inst.expander);
        if (gPtrExpList == nullptr) {
            LOG_ERROR(handle, fn,
                      "Unable to allocate memory for creating the list of expanders **** FAILED ****");
            closeDevice(inst);
            return kNoMemory;
        }
    }
    return 0;
}

ZELKOR_STATUS sasOpen(ZELKOR_INSTANCE* handle, uint64_t sasAddress, void** out) {
    const char* fn = "zelkor_ial_open";
    if (gSasInstanceList == nullptr) {
        gSasInstanceList = ll_new();
        if (gSasInstanceList == nullptr)
            return kNoMemory;
    }
    if (out != nullptr)
        *out = nullptr;
    if (handle == nullptr || out == nullptr)
        return kInvalidArguments;
    Trace trace(handle, fn);
    handle->designatedRegions = 1;

    auto* inst = static_cast<SAS_INSTANCE*>(std::calloc(1, sizeof(SAS_INSTANCE)));
    if (inst == nullptr) {
        LOG_ERROR(handle, fn, "Unable to allocate Memory for IAL SAS instance **** FAILED ****");
        return kNoMemory;
    }
    inst->handle = handle;
    inst->device = OSAL_SAS_NO_DEVICE;
    if (ll_add(gSasInstanceList, inst, sizeof *inst, LL_AT_TAIL) != LL_SUCCESS) {
        LOG_ERROR(handle, fn,
                  "Unable to allocate Memory for adding the SAS instance to IAL list **** FAILED ****");
        std::free(inst);
        return kNoMemory;
    }

    if (sasAddress == 0 && handle->options != nullptr && handle->options->availWithoutAddress == 1) {
        LOG_INFO(handle, fn, "User has not provided SAS address");
        *out = inst;
        return 0;
    }
    const ZELKOR_STATUS status = selectExpander(*inst, highHalf(sasAddress), lowHalf(sasAddress));
    if (status != 0) {
        closeDevice(*inst);
        releaseInstance(inst);
        return status;
    }
    *out = inst;
    return 0;
}

ZELKOR_STATUS sasGetExpanders(void* instance, ZELKOR_EXPANDER_LIST** out) {
    const char* fn = "zelkor_ial_getExpanders";
    SAS_INSTANCE* inst = listedInstance(instance);
    if (inst == nullptr)
        return kInvalidInstance;
    if (inst->handle == nullptr) {
        say("**** ERROR **** ptrZelkor is NULL");
        return kInvalidInstance;
    }
    if (out == nullptr)
        return kInvalidArguments;
    ZELKOR_INSTANCE* handle = inst->handle;
    Trace trace(handle, fn);
    *out = nullptr;
    if (gPtrExpList != nullptr) {
        *out = gPtrExpList;
        LOG_INFO(handle, fn, "Expander list is already created.");
        return 0;
    }

    LOG_INFO(handle, fn, "Detecting the total number of SCSI devices attached to the Host");
    const int count = osal_numScsiDevices();
    if (count <= 0) {
        LOG_ERROR(handle, fn, "Host machine is unable to detect any attached SCSI devices. **** FAILED ****");
        if (gFlagDeviceErrorDisplayList == 1)
            say("\n ****Host machine is unable to detect any attached SCSI device****");
        ++gFlagDeviceErrorDisplayList;
        return kNoScsiDevices;
    }
    LOG_INFO(handle, fn, "Host machine has detected %d attached SCSI devices\n", count);
    std::vector<int> numbers;
    if (osal_scsiDeviceNumbers(&numbers) != 0)
        return kNotAttached;

    // A device held from before would be lost by the scan.
    closeDevice(*inst);
    const ScanTexts texts{fn, "Opening the interface for communicating **** FAILED ****", true};
    int openFailures = count;
    bool giveUp = false;
    ZELKOR_EXPANDER_LIST* tail = nullptr;
    OsalSasDevice keptDevice = OSAL_SAS_NO_DEVICE;
    ZELKOR_EXPANDER keptRecord{};
    uint32_t keptType = gExpanderType;
    for (int number : numbers) {
        if (!identifyDevice(*inst, number, texts, &openFailures, &giveUp)) {
            if (giveUp)
                break;
            continue;
        }
        LOG_INFO(handle, fn, "Reading IP Address of Expander");
        readIpSettings(*inst);
        ZELKOR_EXPANDER_LIST* node = copyExpAttributes(handle, inst->expander);
        if (node == nullptr) {
            LOG_ERROR(handle, fn,
                      "Unable to create list of expanders due to insufficient memory **** FAILED ***");
            closeDevice(*inst);
            break;
        }
        if (tail == nullptr)
            gPtrExpList = node;
        else
            tail->next = node;
        tail = node;
        LOG_INFO(handle, fn, "Found %s Device and its Sas address %08x%08x",
                 listingFamilyWord(inst->expander.type), inst->expander.sasAddressHigh,
                 inst->expander.sasAddressLow);
        if (keptDevice == OSAL_SAS_NO_DEVICE) {
            // The first expander listed is the one later commands talk to.
            keptDevice = inst->device;
            keptRecord = inst->expander;
            keptType = gExpanderType;
            inst->device = OSAL_SAS_NO_DEVICE;
        } else {
            closeDevice(*inst);
        }
    }

    if (gPtrExpList == nullptr) {
        LOG_ERROR(handle, fn, "Unable to find a Expanders **** FAILED ****");
        return kNoExpanders;
    }
    *out = gPtrExpList;
    inst->device = keptDevice;
    inst->expander = keptRecord;
    gExpanderType = keptType;
    return 0;
}

ZELKOR_STATUS sasClose(void* instance) {
    const char* fn = "zelkor_ial_close";
    if (instance == nullptr)
        return kInvalidInstance;
    SAS_INSTANCE* inst = listedInstance(instance);
    if (inst == nullptr)
        return 0;
    if (inst->handle == nullptr)
        return kInvalidInstance;
    ZELKOR_INSTANCE* handle = inst->handle;
    Trace trace(handle, fn);
    ZELKOR_STATUS status = 0;
    if (inst->device == OSAL_SAS_NO_DEVICE) {
        LOG_ERROR(handle, fn, "Invalid SAS device handle **** FAILED ****");
        status = kFailure;
    }
    closeDevice(*inst);
    if (!releaseInstance(inst)) {
        LOG_ERROR(handle, fn, "Unable to remove the Sas instance");
        status = kFailure;
    }
    return status;
}

ZELKOR_STATUS sasVersion(uint8_t* major, uint8_t* minor) {
    if (major == nullptr || minor == nullptr)
        return kInvalidArguments;
    *major = 1;
    *minor = 0;
    return 0;
}

} // namespace ialsas
