// Ostrel hardware module (chip types 2 and 3): operations are reached only through the query function.
#include "core/modules.h"
#include "hal/zelkorHalCommon.h"
#include "hal/zelkorHalRegions.h"

namespace {

const HalFamily kOstrel{
    .module = "zelkor_hal_OSTREL",
    .logType = ZELKOR_LOG_OSTREL,
    .staticRows = gOstrelRegions,
    .designatedRows = gDesignatedRegions,
    .readsFlash = true,
    .progressAfterRows = false,
    .headerRow = 1, // the whole flash
    .flashBase = OSTREL_FLASH_BASE,
    .flashBytes = OSTREL_QUENZA_FLASH_SIZE + 1,
    .flashTableSize = 136,
    .partitionsByEntryId = true,
    .lenientHeaderOnDebugPort = false,
    .signature = {0x5EA1D0C3u, 0x5ED0A1C3u, 0x5ED0C3A1u},
    .ethernetPageId = MFG_PAGE_ETHERNET_OSTREL,
    .miscControl = 0x40900018u,
    .smartCliMergesBit = true,
    .chipResetRegister = 0xC0000200u,
    .chipResetKey = 0x05ED0C31u,
    .watchdogRegister = 0x40800000u,
    .watchdogRegisterDebugPort = 0x40800000u,
    .watchdogWord = 0xC02DC6C0u,
    .armControl = 0x40F00000u,
    .miscSetAfterWatchdog = 0x1000u,
    .watchdogDelayDebugPortMs = 0,
    .announcesRegionLookup = true,
    .allocationFailed = "Unable to allocate %d bytes of Memory **** FAILED ****",
    .rowsFailed = "Initialization of Ostrel Region List **** FAILED ****",
    .populateFailed = "Unable to populate the region List **** FAILED ****",
    .designatedFailed = "Memory allocation **** FAILED ****",
    .headerRead = "Reading the Firmware header ",
    .headerReadFailed = "Reading the Firmware header **** FAILED ****",
    .dynamicRegionsFailed = nullptr,
    .headerValidating = "Validating the Firmware header ",
    .headerForeign = "Validating the Firmware header **** FAILED ****",
    .tableRead = "Reading the Flash table information",
    .tableReadFailed = "Reading the Flash table information **** FAILED ****",
    .updatingRegions = "Updating the region list ",
    .updatingRegionsFailed = "Updating the region list **** FAILED ****",
    .flashBlank = "Flash is blank",
    .removeFailed = "Unable to remove the HAL instance from the List **** FAILED ****",
    .copyFailed = "Unable to allocate memory of %d bytes for ZELKOR_REGION_LIST**** FAILED ****",
    .copyDone = "Region List Populated successfully.",
    .chipResetAnnounce = "Writing %d bytes at 0x%08x offset",
    .chipResetFailed = "Writing %d bytes at 0x%08x offset **** FAILED ****",
    .chipResetTextsNameKey = false,
    .regionOps = &kOstrelRegionData,
    .xmlRoute = &kOstrelXmlRoute,
};

using Ops = HalOps<kOstrel>;
using RegionOps = HalRegionOps<kOstrel>;

const HalOperation kOperations[] = {
    {"zelkor_hal_open", halGeneric(Ops::open)},
    {"zelkor_hal_close", halGeneric(Ops::close)},
    {"zelkor_hal_version", halGeneric(halVersion)},
    {"zelkor_hal_getRegions", halGeneric(Ops::getRegions)},
    {"zelkor_hal_getRegionVersion", halGeneric(RegionOps::regionVersion)},
    HAL_NOT_BUILT(kOstrel, zelkor_hal_getDevices),
    HAL_NOT_BUILT(kOstrel, zelkor_hal_getPhy),
    HAL_NOT_BUILT(kOstrel, zelkor_hal_getPhys),
    HAL_NOT_BUILT(kOstrel, zelkor_hal_getPorts),
    HAL_NOT_BUILT(kOstrel, zelkor_hal_getRouteTable),
    HAL_NOT_BUILT(kOstrel, zelkor_hal_getZonePermissions),
    {"zelkor_hal_setMorv", halGeneric(Ops::setMorv)},
    {"zelkor_hal_setSmartCli", halGeneric(Ops::setSmartCli)},
    {"zelkor_hal_resetExpander", halGeneric(Ops::resetExpander)},
    HAL_NOT_BUILT(kOstrel, zelkor_hal_resetPhy),
    {"zelkor_hal_xml2bin", halGeneric(Ops::xml2bin)},
    {"zelkor_hal_bin2xml", halGeneric(Ops::bin2xml)},
    HAL_FIXED(kOstrel, zelkor_hal_testPhy, HAL_FAILURE),
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

extern "C" ZELKOR_GENERIC_FUNCTION hal_ostrel_query_symbol(const char* name) {
    return halLookup(kOperations, name);
}
