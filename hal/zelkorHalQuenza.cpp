// Quenza hardware module (chip types 4 and 5): operations are reached only through the query function.
#include "core/modules.h"
#include "hal/zelkorHalCommon.h"
#include "hal/zelkorHalRegions.h"

namespace {

const HalFamily kQuenza{
    .module = "zelkor_hal_GEN3",
    .logType = ZELKOR_LOG_QUENZA,
    .staticRows = gQuenzaRegions,
    .designatedRows = gDesignatedRegionsQuenza,
    .readsFlash = true,
    .progressAfterRows = false,
    .headerRow = 2, // the firmware partition
    .flashBase = QUENZA_FLASH_BASE,
    .flashBytes = OSTREL_QUENZA_FLASH_SIZE + 1,
    .flashTableSize = 424,
    .partitionsByEntryId = false,
    .lenientHeaderOnDebugPort = true,
    .signature = {0x7A3E91F4u, 0x7A91E3F4u, 0x7A91F4E3u},
    .ethernetPageId = MFG_PAGE_ETHERNET_QUENZA,
    .miscControl = 0x42400018u,
    .smartCliMergesBit = false,
    .chipResetRegister = 0xC3800200u,
    .chipResetKey = 0x07A91F48u,
    .watchdogRegister = 0x42000000u,
    .watchdogRegisterDebugPort = 0x42000004u,
    .watchdogWord = 0x802DC6C0u,
    .armControl = 0x43C00000u,
    .miscSetAfterWatchdog = 0,
    .watchdogDelayDebugPortMs = 5000,
    .announcesRegionLookup = true,
    .allocationFailed = "Unable to allocate %d bytes of Memory **** FAILED ****",
    .rowsFailed = "Unable to Initialize Region List **** FAILED ****",
    .populateFailed = "Unable to populate the region List  **** FAILED ****",
    .designatedFailed = "Unable to allocate memory **** FAILED ****",
    .headerRead = "Reading %d bytes at 0x%08x offset",
    .headerReadFailed = "Reading %d bytes at 0x%08x offset **** FAILED ****",
    .dynamicRegionsFailed = "Error loading Dynamic regions",
    .headerValidating = nullptr,
    .headerForeign = "Invalid FW Header",
    .tableRead = "Reading %d bytes at 0x%08x offset",
    .tableReadFailed = "Reading %d bytes at 0x%08x offset **** FAILED ****",
    .updatingRegions = nullptr,
    .updatingRegionsFailed = nullptr,
    .flashBlank = "Flash is BLANK",
    .removeFailed = "Unable to remove the HAL instance from the List **** FAILED ****",
    .copyFailed = "Unable to allocate memory of %d bytes for ZELKOR_REGION_LIST**** FAILED ****",
    .copyDone = "Region List Populated successfully.",
    .chipResetAnnounce = "Writing %d bytes at 0x%08x offset",
    .chipResetFailed = "Writing %d bytes at 0x%08x offset **** FAILED ****",
    .chipResetTextsNameKey = false,
    .regionOps = &kQuenzaRegionData,
    .xmlRoute = &kQuenzaXmlRoute,
};

using Ops = HalOps<kQuenza>;
using RegionOps = HalRegionOps<kQuenza>;

// The expander type of the last open (4 or 5), for the topology operations.
uint32_t sExpType = 0;

ZELKOR_STATUS quenzaOpen(ZELKOR_INSTANCE* handle, ZELKOR_HAL_INSTANCE** out, uint32_t chipType) {
    sExpType = chipType;
    return halOpen(kQuenza, handle, out);
}

const HalOperation kOperations[] = {
    {"zelkor_hal_open", halGeneric(quenzaOpen)},
    {"zelkor_hal_close", halGeneric(Ops::close)},
    {"zelkor_hal_version", halGeneric(halVersion)},
    {"zelkor_hal_getRegions", halGeneric(Ops::getRegions)},
    {"zelkor_hal_getRegionVersion", halGeneric(RegionOps::regionVersion)},
    HAL_NOT_BUILT(kQuenza, zelkor_hal_getDevices),
    HAL_NOT_BUILT(kQuenza, zelkor_hal_getPhy),
    HAL_NOT_BUILT(kQuenza, zelkor_hal_getPhys),
    HAL_NOT_BUILT(kQuenza, zelkor_hal_getPorts),
    HAL_NOT_BUILT(kQuenza, zelkor_hal_getRouteTable),
    HAL_NOT_BUILT(kQuenza, zelkor_hal_getZonePermissions),
    {"zelkor_hal_setMorv", halGeneric(Ops::setMorv)},
    {"zelkor_hal_setSmartCli", halGeneric(Ops::setSmartCli)},
    {"zelkor_hal_downloadRamdebug", halGeneric(RegionOps::ramdebug)},
    {"zelkor_hal_resetExpander", halGeneric(Ops::resetExpander)},
    HAL_NOT_BUILT(kQuenza, zelkor_hal_resetPhy),
    {"zelkor_hal_xml2bin", halGeneric(Ops::xml2bin)},
    {"zelkor_hal_bin2xml", halGeneric(Ops::bin2xml)},
    HAL_FIXED(kQuenza, zelkor_hal_testPhy, HAL_FAILURE),
    {"zelkor_hal_fwExpanderValidation", halGeneric(RegionOps::fwExpander)},
    {"zelkor_hal_fwChecksumValidation", halGeneric(RegionOps::fwChecksum)},
    {"zelkor_hal_getFwVersion", halGeneric(RegionOps::fwVersion)},
    {"zelkor_hal_fwImageValidation", halGeneric(RegionOps::fwImage)},
    {"zelkor_hal_mfgImageValidation", halGeneric(RegionOps::mfgImage)},
    {"zelkor_hal_mfgChecksumValidation", halGeneric(RegionOps::mfgChecksum)},
    {"zelkor_hal_getRegionChecksum", halGeneric(RegionOps::regionChecksum)},
    {"zelkor_hal_downloadRegion", halGeneric(RegionOps::download)},
    {"zelkor_hal_uploadRegion", halGeneric(RegionOps::upload)},
    {"zelkor_hal_eraseRegion", halGeneric(RegionOps::erase)},
};

} // namespace

extern "C" ZELKOR_GENERIC_FUNCTION hal_quenza_query_symbol(const char* name) {
    return halLookup(kOperations, name);
}
