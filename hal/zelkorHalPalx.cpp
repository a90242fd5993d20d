// Palx hardware module (chip type 1): operations are reached only through the query function.
#include "core/modules.h"
#include "hal/zelkorHalCommon.h"
#include "hal/zelkorHalRegions.h"

namespace {

// Palx keeps its regions in a fixed table and has neither Ethernet settings nor a watchdog reset.
const HalFamily kPalx{
    .module = "zelkor_hal_PALX",
    .logType = ZELKOR_LOG_PALX,
    .staticRows = gPalxRegions,
    .designatedRows = {},
    .readsFlash = false,
    .progressAfterRows = true,
    .headerRow = 1,
    .flashBase = PALX_FLASH_BASE,
    .flashBytes = PALX_FLASH_SIZE,
    .flashTableSize = 0,
    .partitionsByEntryId = false,
    .lenientHeaderOnDebugPort = false,
    .signature = {0x5AEAA55Au, 0xA55AEAA5u, 0x5AA55AEAu},
    .ethernetPageId = 0,
    .miscControl = 0,
    .smartCliMergesBit = false,
    .chipResetRegister = 0xC0000200u,
    .chipResetKey = 0x50414C58u, // "PALX"
    .watchdogRegister = 0,
    .watchdogRegisterDebugPort = 0,
    .watchdogWord = 0,
    .armControl = 0x40F00000u,
    .miscSetAfterWatchdog = 0,
    .watchdogDelayDebugPortMs = 0,
    .announcesRegionLookup = false,
    .allocationFailed = "Unable to allocate Memory **** FAILED ****",
    .rowsFailed = nullptr,
    .populateFailed = "Unable to populate the region List **** FAILED ****",
    .designatedFailed = nullptr,
    .headerRead = nullptr,
    .headerReadFailed = nullptr,
    .dynamicRegionsFailed = nullptr,
    .headerValidating = nullptr,
    .headerForeign = nullptr,
    .tableRead = nullptr,
    .tableReadFailed = nullptr,
    .updatingRegions = nullptr,
    .updatingRegionsFailed = nullptr,
    .flashBlank = nullptr,
    .removeFailed = "Unable to remove the HAL instance form the List **** FAILED ****",
    .copyFailed = "Unable to allocate memory **** FAILED ****",
    .copyDone = nullptr,
    .chipResetAnnounce = "Writing 0x%08x at 0x%08x at offset. This Reset's the Expander",
    .chipResetFailed = "Unable to write 0x%08x data at 0x%08x offset **** FAILED ****",
    .chipResetTextsNameKey = true,
    .regionOps = &kPalxRegionData,
    .xmlRoute = &kPalxXmlRoute,
};

using Ops = HalOps<kPalx>;
using RegionOps = HalRegionOps<kPalx>;

const HalOperation kOperations[] = {
    {"zelkor_hal_open", halGeneric(Ops::open)},
    {"zelkor_hal_close", halGeneric(Ops::close)},
    {"zelkor_hal_version", halGeneric(halVersion)},
    {"zelkor_hal_getRegions", halGeneric(Ops::getRegions)},
    {"zelkor_hal_getRegionVersion", halGeneric(RegionOps::regionVersion)},
    HAL_NOT_BUILT(kPalx, zelkor_hal_getDevices),
    HAL_NOT_BUILT(kPalx, zelkor_hal_getPhy),
    HAL_NOT_BUILT(kPalx, zelkor_hal_getPhys),
    HAL_NOT_BUILT(kPalx, zelkor_hal_getPorts),
    HAL_NOT_BUILT(kPalx, zelkor_hal_getRouteTable),
    HAL_FIXED(kPalx, zelkor_hal_getZonePermissions, HAL_UNSUPPORTED_EXPANDER),
    {"zelkor_hal_resetExpander", halGeneric(Ops::resetExpander)},
    HAL_NOT_BUILT(kPalx, zelkor_hal_resetPhy),
    {"zelkor_hal_xml2bin", halGeneric(Ops::xml2bin)},
    {"zelkor_hal_bin2xml", halGeneric(Ops::bin2xml)},
    HAL_FIXED(kPalx, zelkor_hal_testPhy, HAL_FAILURE),
    {"zelkor_hal_bootRecordValidation", halGeneric(RegionOps::bootRecord)},
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

extern "C" ZELKOR_GENERIC_FUNCTION hal_palx_query_symbol(const char* name) {
    return halLookup(kOperations, name);
}
