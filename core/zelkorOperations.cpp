// The zelkor_ operations on an open handle: each checks its handle and the slot it needs and forwards to
// the bound module operation.
#include "core/zelkorCore.h"
#include "core/zelkorInternal.h"
#include "core/zelkorVersion.h"

#include <cstdio>

using namespace zelkorcore;

namespace {

// How one public operation checks its handle and slot, and what it answers when they fail.
struct OperationRule {
    const char* name;                       // the operation, also the log function name
    const char* slot;                       // the slot's operation name
    ZELKOR_STATUS notFound;                 // the handle is not listed
    ZELKOR_STATUS notMapped;                // the slot is empty
    ZELKOR_STATUS nullHandle = 0;           // non-zero: a null handle is refused with this code
    const char* nullHandleNotice = nullptr; // also printed on standard output for a null handle
    const char* notFoundLine = nullptr;     // logged after the not-found line
    bool silentUnmapped = false;            // an empty slot logs nothing
    const char* unmappedSuffix = "";        // appended to the not-mapped line
    const char* failurePrefix = "";         // put before the slot name in the failure line
    bool recordXmlHandle = false;           // the handle becomes the page engine's handle
};

// The checks of one call, with its entry and exit traces around.
class Operation {
  public:
    explicit Operation(const OperationRule& rule) : rule_(rule), trace_(rule.name) {}

    // True (after the failure line) when a null handle is refused outright.
    bool refusesNullHandle(const ZELKOR_INSTANCE* handle) const {
        if (handle != nullptr || rule_.nullHandle == 0)
            return false;
        fail("Handle is NULL **** FAILED ****");
        if (rule_.nullHandleNotice != nullptr) {
            std::printf("%s\n", rule_.nullHandleNotice);
            std::fflush(stdout);
        }
        return true;
    }

    ZELKOR_INSTANCE* find(ZELKOR_INSTANCE* handle) const {
        ZELKOR_INSTANCE* listed = getZelkorInstance(handle);
        if (listed == nullptr && rule_.notFoundLine != nullptr)
            fail(rule_.notFoundLine);
        if (listed != nullptr && rule_.recordXmlHandle)
            gPtrZelkorHandleXml = listed;
        return listed;
    }

    // Calls the slot with the arguments unchanged; an empty slot answers the not-mapped code.
    template <typename Slot, typename... Args> ZELKOR_STATUS call(Slot slot, Args... args) const {
        if (slot == nullptr && rule_.silentUnmapped)
            return rule_.notMapped;
        ZELKOR_STATUS status = rule_.notMapped;
        if (slot == nullptr)
            LOG_FAILURE(rule_.name, "%s is not Mapped **** FAILED ****%s", rule_.slot, rule_.unmappedSuffix);
        else
            status = slot(args...);
        if (status != 0)
            LOG_FAILURE(rule_.name, "%s%s **** FAILED ****", rule_.failurePrefix, rule_.slot);
        return status;
    }

    void fail(const char* text) const { LOG_FAILURE(rule_.name, "%s", text); }
    const OperationRule& rule() const { return rule_; }

  private:
    const OperationRule& rule_;
    Trace trace_;
};

// The common shape: refuse a null handle where the rule says so, find the handle, call its hardware
// slot with the hardware instance in place of the handle.
template <auto Slot, typename... Args>
ZELKOR_STATUS callHardware(const OperationRule& rule, ZELKOR_INSTANCE* handle, Args... args) {
    Operation op(rule);
    if (op.refusesNullHandle(handle))
        return rule.nullHandle;
    ZELKOR_INSTANCE* listed = op.find(handle);
    if (listed == nullptr)
        return rule.notFound;
    return op.call(listed->halVectors.*Slot, listed->halInstance, args...);
}

// Operations whose out-argument the core itself needs: a null one is refused with 5.
bool refusesNull(const Operation& op, const void* pointer) {
    if (pointer != nullptr)
        return false;
    op.fail("Invalid Arguments **** FAILED ****");
    return true;
}

void reportProgress(const ZELKOR_INSTANCE* handle) {
    if (handle->progress != nullptr && (handle->options == nullptr || handle->options->noProgress != 1))
        handle->progress(1, 0);
}

// Rules of the operations, as their callers see them.
constexpr OperationRule rule(const char* name, const char* slot, ZELKOR_STATUS notFound,
                             ZELKOR_STATUS notMapped) {
    return OperationRule{.name = name, .slot = slot, .notFound = notFound, .notMapped = notMapped};
}
constexpr OperationRule kGetRegions = rule("zelkor_getRegions", "zelkor_hal_getRegions", 4, 2);
constexpr OperationRule kGetRegionVersion{.name = "zelkor_getRegionVersion",
                                          .slot = "zelkor_hal_getRegionVersion",
                                          .notFound = 1,
                                          .notMapped = 4,
                                          .silentUnmapped = true};
constexpr OperationRule kGetDevices = rule("zelkor_getDevices", "zelkor_hal_getDevices", 4, 2);
constexpr OperationRule kGetPhys = rule("zelkor_getPhys", "zelkor_hal_getPhys", 4, 2);
constexpr OperationRule kGetPhy = rule("zelkor_getPhy", "zelkor_hal_getPhy", 4, 2);
constexpr OperationRule kGetPorts = rule("zelkor_getPorts", "zelkor_hal_getPorts", 4, 2);
constexpr OperationRule kGetRouteTable = rule("zelkor_getRouteTable", "zelkor_hal_getRouteTable", 4, 2);
constexpr OperationRule kGetZonePermissions =
    rule("zelkor_getZonePermissions", "zelkor_hal_getZonePermissions", 4, 2);
constexpr OperationRule kSetMorv{
    .name = "zelkor_setMorv", .slot = "zelkor_hal_setMorv", .notFound = 4, .notMapped = 2, .nullHandle = 4};
constexpr OperationRule kSetSmartCli{.name = "zelkor_setSmartCli",
                                     .slot = "zelkor_hal_setSmartCli",
                                     .notFound = 4,
                                     .notMapped = 2,
                                     .nullHandle = 4};
constexpr OperationRule kResetExpander{.name = "zelkor_resetExpander",
                                       .slot = "zelkor_hal_resetExpander",
                                       .notFound = 4,
                                       .notMapped = 2,
                                       .nullHandle = 4};
constexpr OperationRule kResetPhy{.name = "zelkor_resetPhy",
                                  .slot = "zelkor_hal_resetPhy",
                                  .notFound = 4,
                                  .notMapped = 2,
                                  .unmappedSuffix = " "};
constexpr OperationRule kTestPhy = rule("zelkor_testPhy", "zelkor_hal_testPhy", 4, 2);
constexpr OperationRule kEraseRegion = rule("zelkor_eraseRegion", "zelkor_hal_eraseRegion", 4, 2);
constexpr OperationRule kUploadRegion = rule("zelkor_uploadRegion", "zelkor_hal_uploadRegion", 4, 2);
constexpr OperationRule kDownloadRegion = rule("zelkor_downloadRegion", "zelkor_hal_downloadRegion", 4, 2);
constexpr OperationRule kDownloadRamdebug{.name = "zelkor_downloadRamdebug",
                                          .slot = "zelkor_hal_downloadRamdebug",
                                          .notFound = 4,
                                          .notMapped = 2,
                                          .nullHandle = 5,
                                          .notFoundLine = "Zelkor Instance Handle is NULL **** FAILED ****",
                                          .silentUnmapped = true};
constexpr OperationRule kGetRegionChecksum =
    rule("zelkor_getRegionChecksum", "zelkor_hal_getRegionChecksum", 1, 2);
constexpr OperationRule kGetFwVersion = rule("zelkor_getFwVersion", "zelkor_hal_getFwVersion", 1, 2);
constexpr OperationRule kFwChecksumValidation =
    rule("zelkor_fwChecksumValidation", "zelkor_hal_fwChecksumValidation", 1, 2);
constexpr OperationRule kFwExpanderValidation =
    rule("zelkor_fwExpanderValidation", "zelkor_hal_fwExpanderValidation", 1, 2);
constexpr OperationRule kFwImageValidation =
    rule("zelkor_fwImageValidation", "zelkor_hal_fwImageValidation", 1, 2);
constexpr OperationRule kMfgImageValidation =
    rule("zelkor_mfgImageValidation", "zelkor_hal_mfgImageValidation", 1, 2);
constexpr OperationRule kMfgChecksumValidation =
    rule("zelkor_mfgChecksumValidation", "zelkor_hal_mfgChecksumValidation", 1, 2);
constexpr OperationRule kBootRecordValidation =
    rule("zelkor_bootRecordValidation", "zelkor_hal_bootRecordValidation", 1, 2);
constexpr OperationRule kXml2bin{.name = "zelkor_xml2bin",
                                 .slot = "zelkor_hal_xml2bin",
                                 .notFound = 1,
                                 .notMapped = 2,
                                 .nullHandle = 5,
                                 .nullHandleNotice = "zelkor_xml2bin: invalid handle",
                                 .recordXmlHandle = true};
constexpr OperationRule kBin2xml{.name = "zelkor_bin2xml",
                                 .slot = "zelkor_hal_bin2xml",
                                 .notFound = 1,
                                 .notMapped = 2,
                                 .nullHandle = 5,
                                 .nullHandleNotice = "zelkor_bin2xml: invalid handle",
                                 .recordXmlHandle = true};
constexpr OperationRule kReadFlashRegionData =
    rule("zelkor_readFlashRegionData", "zelkor_hal_uploadRegion", 4, 2);
constexpr OperationRule kReadManufacturingPage =
    rule("zelkor_readManufacturingPage", "zelkor_hal_uploadRegion", 4, 2);
constexpr OperationRule kGetExpanders{.name = "zelkor_getExpanders",
                                      .slot = "zelkor_ial_getExpanders",
                                      .notFound = 4,
                                      .notMapped = 2,
                                      .failurePrefix = " "};
constexpr OperationRule kTestRegion = rule("zelkor_testRegion", "", 4, 2);

} // namespace

extern "C" ZELKOR_STATUS zelkor_version(uint8_t* major, uint8_t* minor) {
    Trace trace("zelkor_version");
    if (major == nullptr || minor == nullptr) {
        LOG_FAILURE("zelkor_version", "Invalid Arguments **** FAILED ****");
        return kInvalidArgument;
    }
    *major = ZELKOR_VERSION_MAJOR;
    *minor = ZELKOR_VERSION_MINOR;
    return 0;
}

extern "C" ZELKOR_STATUS zelkor_getExpanders(ZELKOR_INSTANCE* handle, ZELKOR_EXPANDER_LIST** expanders) {
    Operation op(kGetExpanders);
    ZELKOR_INSTANCE* listed = op.find(handle);
    if (listed == nullptr)
        return kGetExpanders.notFound;
    if (refusesNull(op, expanders))
        return kInvalidArgument;
    return op.call(listed->ialVectors.zelkor_ial_getExpanders, listed->ialInstance, expanders);
}

extern "C" ZELKOR_STATUS zelkor_getRegions(ZELKOR_INSTANCE* handle, ZELKOR_REGION_LIST** regions) {
    return callHardware<&HAL_VECTORS::zelkor_hal_getRegions>(kGetRegions, handle, regions);
}

extern "C" ZELKOR_STATUS zelkor_getRegionVersion(ZELKOR_INSTANCE* handle, ZELKOR_REGION* region,
                                                 char* version) {
    Operation op(kGetRegionVersion);
    ZELKOR_INSTANCE* listed = op.find(handle);
    if (listed == nullptr)
        return kGetRegionVersion.notFound;
    if (version == nullptr) {
        op.fail("Invalid Zelkor Version **** FAILED ****");
        return kFailure;
    }
    return op.call(listed->halVectors.zelkor_hal_getRegionVersion, listed->halInstance, region, version);
}

extern "C" ZELKOR_STATUS zelkor_getDevices(ZELKOR_INSTANCE* handle, ZELKOR_DEVICE_LIST** devices) {
    return callHardware<&HAL_VECTORS::zelkor_hal_getDevices>(kGetDevices, handle, devices);
}

extern "C" ZELKOR_STATUS zelkor_getPhys(ZELKOR_INSTANCE* handle, ZELKOR_PHY_LIST** phys) {
    return callHardware<&HAL_VECTORS::zelkor_hal_getPhys>(kGetPhys, handle, phys);
}

extern "C" ZELKOR_STATUS zelkor_getPhy(ZELKOR_INSTANCE* handle, uint32_t phy, ZELKOR_PHY* out) {
    return callHardware<&HAL_VECTORS::zelkor_hal_getPhy>(kGetPhy, handle, phy, out);
}

extern "C" ZELKOR_STATUS zelkor_getPorts(ZELKOR_INSTANCE* handle, ZELKOR_PORT_LIST** ports) {
    return callHardware<&HAL_VECTORS::zelkor_hal_getPorts>(kGetPorts, handle, ports);
}

extern "C" ZELKOR_STATUS zelkor_getRouteTable(ZELKOR_INSTANCE* handle, uint32_t phy,
                                              ZELKOR_ROUTE_LIST** routes) {
    return callHardware<&HAL_VECTORS::zelkor_hal_getRouteTable>(kGetRouteTable, handle, phy, routes);
}

extern "C" ZELKOR_STATUS zelkor_getZonePermissions(ZELKOR_INSTANCE* handle, uint32_t zoneGroup,
                                                   uint32_t row[8]) {
    return callHardware<&HAL_VECTORS::zelkor_hal_getZonePermissions>(kGetZonePermissions, handle, zoneGroup,
                                                                     row);
}

extern "C" ZELKOR_STATUS zelkor_setMorv(ZELKOR_INSTANCE* handle, uint8_t* value, uint8_t selector) {
    return callHardware<&HAL_VECTORS::zelkor_hal_setMorv>(kSetMorv, handle, value, selector);
}

extern "C" ZELKOR_STATUS zelkor_setSmartCli(ZELKOR_INSTANCE* handle) {
    return callHardware<&HAL_VECTORS::zelkor_hal_setSmartCli>(kSetSmartCli, handle);
}

extern "C" ZELKOR_STATUS zelkor_resetExpander(ZELKOR_INSTANCE* handle, uint8_t kind) {
    return callHardware<&HAL_VECTORS::zelkor_hal_resetExpander>(kResetExpander, handle, kind);
}

extern "C" ZELKOR_STATUS zelkor_resetPhy(ZELKOR_INSTANCE* handle, uint32_t phy) {
    return callHardware<&HAL_VECTORS::zelkor_hal_resetPhy>(kResetPhy, handle, phy);
}

extern "C" ZELKOR_STATUS zelkor_testPhy(ZELKOR_INSTANCE* handle, uint32_t first, uint32_t second,
                                        void* data) {
    return callHardware<&HAL_VECTORS::zelkor_hal_testPhy>(kTestPhy, handle, first, second, data);
}

extern "C" ZELKOR_STATUS zelkor_eraseRegion(ZELKOR_INSTANCE* handle, ZELKOR_REGION* region) {
    return callHardware<&HAL_VECTORS::zelkor_hal_eraseRegion>(kEraseRegion, handle, region);
}

extern "C" ZELKOR_STATUS zelkor_uploadRegion(ZELKOR_INSTANCE* handle, ZELKOR_REGION* region, uint32_t offset,
                                             uint32_t length, FILE* file, uint8_t* buffer) {
    return callHardware<&HAL_VECTORS::zelkor_hal_uploadRegion>(kUploadRegion, handle, region, offset, length,
                                                               file, buffer);
}

extern "C" ZELKOR_STATUS zelkor_downloadRegion(ZELKOR_INSTANCE* handle, ZELKOR_REGION* region,
                                               uint32_t offset, uint32_t length, FILE* file,
                                               uint8_t* buffer) {
    return callHardware<&HAL_VECTORS::zelkor_hal_downloadRegion>(kDownloadRegion, handle, region, offset,
                                                                 length, file, buffer);
}

extern "C" ZELKOR_STATUS zelkor_downloadRamdebug(ZELKOR_INSTANCE* handle, const char* ttyPath,
                                                 uint32_t baudChange, FILE* image, uint8_t postValidate) {
    return callHardware<&HAL_VECTORS::zelkor_hal_downloadRamdebug>(kDownloadRamdebug, handle, ttyPath,
                                                                   baudChange, image, postValidate);
}

extern "C" ZELKOR_STATUS zelkor_getRegionChecksum(ZELKOR_INSTANCE* handle, FILE* image,
                                                  ZELKOR_REGION** region) {
    Operation op(kGetRegionChecksum);
    ZELKOR_INSTANCE* listed = op.find(handle);
    if (listed == nullptr)
        return kGetRegionChecksum.notFound;
    if (refusesNull(op, region))
        return kInvalidArgument;
    return op.call(listed->halVectors.zelkor_hal_getRegionChecksum, listed->halInstance, image, *region);
}

extern "C" ZELKOR_STATUS zelkor_getFwVersion(ZELKOR_INSTANCE* handle, FILE* image, char** version) {
    Operation op(kGetFwVersion);
    ZELKOR_INSTANCE* listed = op.find(handle);
    if (listed == nullptr)
        return kGetFwVersion.notFound;
    if (refusesNull(op, version))
        return kInvalidArgument;
    return op.call(listed->halVectors.zelkor_hal_getFwVersion, listed->halInstance, image, *version);
}

extern "C" ZELKOR_STATUS zelkor_fwChecksumValidation(ZELKOR_INSTANCE* handle, FILE* image, uint32_t* words) {
    return callHardware<&HAL_VECTORS::zelkor_hal_fwChecksumValidation>(kFwChecksumValidation, handle, image,
                                                                       words);
}

extern "C" ZELKOR_STATUS zelkor_fwExpanderValidation(ZELKOR_INSTANCE* handle, FILE* image) {
    return callHardware<&HAL_VECTORS::zelkor_hal_fwExpanderValidation>(kFwExpanderValidation, handle, image);
}

extern "C" ZELKOR_STATUS zelkor_fwImageValidation(ZELKOR_INSTANCE* handle, FILE* image) {
    return callHardware<&HAL_VECTORS::zelkor_hal_fwImageValidation>(kFwImageValidation, handle, image);
}

extern "C" ZELKOR_STATUS zelkor_mfgImageValidation(ZELKOR_INSTANCE* handle, FILE* image) {
    return callHardware<&HAL_VECTORS::zelkor_hal_mfgImageValidation>(kMfgImageValidation, handle, image);
}

extern "C" ZELKOR_STATUS zelkor_mfgChecksumValidation(ZELKOR_INSTANCE* handle, FILE* image) {
    return callHardware<&HAL_VECTORS::zelkor_hal_mfgChecksumValidation>(kMfgChecksumValidation, handle,
                                                                        image);
}

extern "C" ZELKOR_STATUS zelkor_bootRecordValidation(ZELKOR_INSTANCE* handle, FILE* image) {
    return callHardware<&HAL_VECTORS::zelkor_hal_bootRecordValidation>(kBootRecordValidation, handle, image);
}

extern "C" ZELKOR_STATUS zelkor_xml2bin(ZELKOR_INSTANCE* handle, const char* xmlPath, const char* third,
                                        FILE* output, void* context) {
    return callHardware<&HAL_VECTORS::zelkor_hal_xml2bin>(kXml2bin, handle, xmlPath, third, output, context);
}

extern "C" ZELKOR_STATUS zelkor_bin2xml(ZELKOR_INSTANCE* handle, const char* templatePath,
                                        const char* outputPath, FILE* image) {
    return callHardware<&HAL_VECTORS::zelkor_hal_bin2xml>(kBin2xml, handle, templatePath, outputPath, image);
}

extern "C" ZELKOR_STATUS zelkor_readFlashRegionData(ZELKOR_INSTANCE* handle, ZELKOR_REGION* region,
                                                    uint32_t offset, uint32_t length, uint8_t* buffer) {
    Operation op(kReadFlashRegionData);
    ZELKOR_INSTANCE* listed = op.find(handle);
    if (listed == nullptr)
        return kReadFlashRegionData.notFound;
    if (refusesNull(op, buffer))
        return kInvalidArgument;
    const HAL_TRANSFER_FUNCTION read = listed->halVectors.zelkor_hal_uploadRegion;
    if (read != nullptr)
        reportProgress(listed);
    const ZELKOR_STATUS status = op.call(read, listed->halInstance, region, offset, length, nullptr, buffer);
    if (read != nullptr)
        reportProgress(listed);
    return status;
}

extern "C" ZELKOR_STATUS zelkor_readManufacturingPage(ZELKOR_INSTANCE* handle, ZELKOR_REGION* region,
                                                      uint32_t offset, uint32_t length, uint8_t* buffer) {
    const char* fn = kReadManufacturingPage.name;
    Operation op(kReadManufacturingPage);
    if (handle == nullptr || region == nullptr || offset == 0 || length == 0 || buffer == nullptr) {
        logLine(fn, kTypeEntry, ZELKOR_LOG_ERROR,
                "Invalid zelkor_readManufacturingPage() function argument **** FAILED ****");
        return kInvalidArgument;
    }
    ZELKOR_INSTANCE* listed = op.find(handle);
    if (listed == nullptr) {
        logLine(fn, kTypeEntry, ZELKOR_LOG_ERROR, "Unable to find ZELKOR instance **** FAILED ****");
        return kReadManufacturingPage.notFound;
    }
    const HAL_TRANSFER_FUNCTION read = listed->halVectors.zelkor_hal_uploadRegion;
    const ZELKOR_STATUS status = op.call(read, listed->halInstance, region, offset, length, nullptr, buffer);
    if (read == nullptr)
        return status;
    return status == 0 ? 0 : kFailure;
}

extern "C" ZELKOR_STATUS zelkor_testRegion(ZELKOR_INSTANCE* handle) {
    Operation op(kTestRegion);
    return op.find(handle) != nullptr ? kFailure : kInvalidHandle;
}
