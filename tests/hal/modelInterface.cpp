#include "tests/hal/modelInterface.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

ModelInterface gModel;

namespace {

constexpr ZELKOR_STATUS kWriteFailed = 24;
constexpr ZELKOR_STATUS kReadFailed = 25;
constexpr uint32_t kEthernetSizeCode = 0xE6;

bool isFlash(const ZELKOR_REGION* region) {
    return region->kind >= 1 && region->kind <= 10;
}

std::optional<ZELKOR_STATUS> injected(const std::string& op, uint32_t offset, const ZELKOR_REGION* region) {
    for (InterfaceFailure& f : gModel.failures) {
        if (f.op != op || (f.offset && *f.offset != offset) ||
            (f.regionId && *f.regionId != region->regionId))
            continue;
        const uint32_t seen = f.matched++;
        if (seen < f.skip || (f.count != 0 && seen >= f.skip + f.count))
            continue;
        return f.status;
    }
    return std::nullopt;
}

// The in-band module's Ethernet request: the selected 4-byte field of the cached page is replaced and the
// page written back whole.
ZELKOR_STATUS patchEthernetPage(uint16_t pageId, uint8_t field, const uint8_t* value) {
    static constexpr uint32_t kFieldAt[] = {4, 8, 12, 28};
    std::vector<uint8_t> page;
    if (gModel.expander->readPage(pageId, 0xFFFF, page) != zsim::Outcome::Ok)
        return kWriteFailed;
    if (field < 4 && page.size() >= kFieldAt[field] + 4)
        std::copy_n(value, 4, page.begin() + kFieldAt[field]);
    return gModel.expander->writePage(pageId, page) == zsim::Outcome::Ok ? 0 : kWriteFailed;
}

ZELKOR_STATUS ialUpload(void* instance, ZELKOR_REGION* region, uint32_t offset, uint32_t size, FILE* file,
                        uint8_t* buffer) {
    if (instance != &gModel || region == nullptr || (file == nullptr) == (buffer == nullptr) || size == 0)
        return 5;
    ++gModel.uploads;
    if (gModel.watch && *gModel.watch == region->base + offset)
        ++gModel.watched;
    if (gModel.record)
        gModel.calls.push_back({"upload", *region, offset, size, {}});
    if (const auto status = injected("upload", offset, region))
        return *status;
    // A file is only answered by an injected status: the fake serves buffers.
    if (file != nullptr)
        return 5;
    std::vector<uint8_t> out;
    if (isFlash(region)) {
        if (gModel.expander->readBuffer(static_cast<uint8_t>(region->regionId), offset, size, out) !=
            zsim::Outcome::Ok)
            return kReadFailed;
    } else {
        gModel.expander->readMemory(region->base + offset, size, out);
    }
    std::fill_n(buffer, size, 0);
    std::copy_n(out.begin(), std::min<size_t>(out.size(), size), buffer);
    return 0;
}

ZELKOR_STATUS ialDownload(void* instance, ZELKOR_REGION* region, uint32_t offset, uint32_t size, FILE* file,
                          uint8_t* buffer) {
    if (instance != &gModel || region == nullptr || (file == nullptr) == (buffer == nullptr) || size == 0)
        return 5;
    // Read every byte the size names, as a module that takes the size for a length would.
    ++gModel.downloads;
    if (gModel.record)
        gModel.calls.push_back({"download", *region, offset, size,
                                buffer != nullptr ? std::vector<uint8_t>(buffer, buffer + size)
                                                  : std::vector<uint8_t>{}});
    if (const auto status = injected("download", offset, region))
        return *status;
    if (file != nullptr)
        return 5;
    if (isFlash(region)) {
        return gModel.expander->writeBuffer(static_cast<uint8_t>(region->regionId), offset,
                                            std::span<const uint8_t>(buffer, size)) == zsim::Outcome::Ok
                   ? 0
                   : kWriteFailed;
    }
    const uint8_t field = gModel.handle != nullptr ? gModel.handle->fieldSelector : 0;
    if (size == ((static_cast<uint32_t>(field) << 8) | kEthernetSizeCode))
        return patchEthernetPage(static_cast<uint16_t>(region->base + offset), field, buffer);
    gModel.expander->writeMemory(region->base + offset, std::span<const uint8_t>(buffer, size));
    return 0;
}

ZELKOR_STATUS ialErase(void* instance, ZELKOR_REGION* region) {
    if (instance != &gModel || region == nullptr)
        return 5;
    gModel.calls.push_back({"erase", *region, 0, 0, {}});
    if (const auto status = injected("erase", 0, region))
        return *status;
    return 0;
}

ZELKOR_STATUS ialOpen(ZELKOR_INSTANCE* handle, uint64_t, void** instance) {
    gModel.handle = handle;
    handle->designatedRegions = gModel.designatedRegions;
    *instance = &gModel;
    return 0;
}

ZELKOR_STATUS ialClose(void* instance) {
    if (instance != &gModel)
        return 4;
    gModel.handle = nullptr;
    return 0;
}

ZELKOR_STATUS ialVersion(uint8_t* major, uint8_t* minor) {
    *major = 1;
    *minor = 0;
    return 0;
}

ZELKOR_STATUS ialGetExpanders(void* instance, ZELKOR_EXPANDER_LIST** list) {
    if (instance != &gModel)
        return 4;
    *list = &gModel.listed;
    // Only the in-band module keeps the list it hands out; the other interfaces' lists are the caller's.
    if (gModel.heapList || gModel.handle == nullptr || gModel.handle->interface != ZELKOR_INTERFACE_SAS) {
        *list = static_cast<ZELKOR_EXPANDER_LIST*>(std::calloc(1, sizeof(ZELKOR_EXPANDER_LIST)));
        **list = gModel.listed;
    }
    return 0;
}

ZELKOR_STATUS ialDownloadRamdebug(void*, const char*, uint32_t, FILE*, uint8_t) {
    return 2;
}

} // namespace

void ModelInterface::reset(zsim::Family family, uint32_t chipType) {
    expander = std::make_unique<zsim::Expander>(family);
    handle = nullptr;
    calls.clear();
    failures.clear();
    record = true;
    uploads = 0;
    downloads = 0;
    watch.reset();
    watched = 0;
    designatedRegions = 1;
    heapList = false;
    listed = ZELKOR_EXPANDER_LIST{};
    listed.expander.type = chipType;
    std::strncpy(listed.expander.name, zsim::familyName(family), sizeof listed.expander.name - 1);
}

IAL_VECTORS modelInterfaceVectors() {
    return IAL_VECTORS{ialOpen,   ialClose, ialVersion, ialGetExpanders, ialDownload, ialDownloadRamdebug,
                       ialUpload, ialErase};
}

ZELKOR_GENERIC_FUNCTION modelInterfaceQuery(const char* name) {
    const IAL_VECTORS v = modelInterfaceVectors();
    struct Row {
        const char* name;
        ZELKOR_GENERIC_FUNCTION function;
    };
    const Row rows[] = {
        {"zelkor_ial_open", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(v.zelkor_ial_open)},
        {"zelkor_ial_close", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(v.zelkor_ial_close)},
        {"zelkor_ial_version", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(v.zelkor_ial_version)},
        {"zelkor_ial_getExpanders", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(v.zelkor_ial_getExpanders)},
        {"zelkor_ial_downloadRegion", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(v.zelkor_ial_downloadRegion)},
        {"zelkor_ial_downloadRamdebug",
         reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(v.zelkor_ial_downloadRamdebug)},
        {"zelkor_ial_uploadRegion", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(v.zelkor_ial_uploadRegion)},
        {"zelkor_ial_eraseRegion", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(v.zelkor_ial_eraseRegion)},
    };
    for (const Row& row : rows)
        if (std::strcmp(row.name, name) == 0)
            return row.function;
    return nullptr;
}

std::vector<std::pair<const char*, QUERY_SYMBOL_FUNCTION>> modelInterfaceEntries() {
    std::vector<std::pair<const char*, QUERY_SYMBOL_FUNCTION>> entries;
    for (const char* name : {"IAL-COM", "IAL-CLI", "IAL-TCP", "IAL-SAS"})
        entries.emplace_back(name, modelInterfaceQuery);
    return entries;
}
