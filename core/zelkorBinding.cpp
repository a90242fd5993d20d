// Binding of a handle's interface and hardware slots to the modules' operations, by name.
#include "core/lib.h"
#include "core/zelkorCore.h"
#include "core/zelkorInternal.h"

using namespace zelkorcore;

namespace {

// Binds slots one name at a time, in the order asked; the first name the module cannot resolve is
// logged and ends the binding (later names are not asked for).
class Binder {
  public:
    Binder(LIB_ENTRY* entry, const char* function) : entry_(entry), function_(function) {}

    template <typename Slot> void operator()(const char* name, Slot& slot, bool wanted = true) {
        if (failed_ || !wanted)
            return;
        ZELKOR_GENERIC_FUNCTION function = nullptr;
        if (libQuerySym(entry_, name, &function) != LIB_SUCCESS) {
            LOG_FAILURE(function_, "Querying %s symbol **** FAILED ****", name);
            failed_ = true;
            return;
        }
        slot = reinterpret_cast<Slot>(function);
    }
    bool ok() const { return !failed_; }

  private:
    LIB_ENTRY* entry_;
    const char* function_;
    bool failed_ = false;
};

#define SLOT(vectors, name) #name, (vectors).name

} // namespace

ZELKOR_STATUS mapIalVectors(ZELKOR_INSTANCE* handle) {
    IAL_VECTORS& v = handle->ialVectors;
    Binder bind(handle->ialEntry, "mapIalVectors");
    bind(SLOT(v, zelkor_ial_open));
    bind(SLOT(v, zelkor_ial_close));
    bind(SLOT(v, zelkor_ial_version));
    bind(SLOT(v, zelkor_ial_getExpanders));
    bind(SLOT(v, zelkor_ial_downloadRegion));
    bind(SLOT(v, zelkor_ial_downloadRamdebug), handle->interface == ZELKOR_INTERFACE_RAMDEBUG);
    bind(SLOT(v, zelkor_ial_uploadRegion));
    bind(SLOT(v, zelkor_ial_eraseRegion));
    return bind.ok() ? 0 : kIalNotMapped;
}

ZELKOR_STATUS mapHalVectors(ZELKOR_INSTANCE* handle, uint32_t chipType) {
    HAL_VECTORS& v = handle->halVectors;
    const bool palx = chipType == ZELKOR_CHIP_PALX;
    const bool quenza = chipType == ZELKOR_CHIP_QUENZA || chipType == ZELKOR_CHIP_QUENZA_DAX;
    Binder bind(handle->halEntry, "mapHalVectors");
    bind(SLOT(v, zelkor_hal_open));
    bind(SLOT(v, zelkor_hal_close));
    bind(SLOT(v, zelkor_hal_version));
    bind(SLOT(v, zelkor_hal_getRegions));
    bind(SLOT(v, zelkor_hal_getRegionVersion));
    bind(SLOT(v, zelkor_hal_getDevices));
    bind(SLOT(v, zelkor_hal_getPhy));
    bind(SLOT(v, zelkor_hal_getPhys));
    bind(SLOT(v, zelkor_hal_getPorts));
    bind(SLOT(v, zelkor_hal_getRouteTable));
    bind(SLOT(v, zelkor_hal_getZonePermissions));
    bind(SLOT(v, zelkor_hal_setMorv), !palx);
    bind(SLOT(v, zelkor_hal_setSmartCli), !palx);
    bind(SLOT(v, zelkor_hal_downloadRamdebug), quenza && handle->interface == ZELKOR_INTERFACE_RAMDEBUG);
    bind(SLOT(v, zelkor_hal_resetExpander));
    bind(SLOT(v, zelkor_hal_resetPhy));
    bind(SLOT(v, zelkor_hal_xml2bin));
    bind(SLOT(v, zelkor_hal_bin2xml));
    bind(SLOT(v, zelkor_hal_testPhy));
    bind(SLOT(v, zelkor_hal_bootRecordValidation), palx);
    bind(SLOT(v, zelkor_hal_fwExpanderValidation));
    bind(SLOT(v, zelkor_hal_fwChecksumValidation));
    bind(SLOT(v, zelkor_hal_mfgChecksumValidation));
    bind(SLOT(v, zelkor_hal_getFwVersion));
    bind(SLOT(v, zelkor_hal_fwImageValidation));
    bind(SLOT(v, zelkor_hal_mfgImageValidation));
    bind(SLOT(v, zelkor_hal_getRegionChecksum));
    bind(SLOT(v, zelkor_hal_downloadRegion));
    bind(SLOT(v, zelkor_hal_uploadRegion));
    bind(SLOT(v, zelkor_hal_eraseRegion));
    return bind.ok() ? 0 : kHalNotMapped;
}
