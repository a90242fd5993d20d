// In-band SAS interface module "IAL-SAS": finds the expanders behind the host's SCSI-generic devices,
// identifies each one (firmware signature, device signature, revision, board name, SAS address, Ethernet
// settings), selects the addressed one or lists them all, and reads, writes and erases expander regions
// with READ BUFFER and WRITE BUFFER. Operations are reached only through ial_sas_query_symbol. This file
// holds the module's state and its one operation table; each job has its own sas*.cpp file.
#include "ial/sasModule.h"

#include "core/modules.h"

#include <cstring>

LL_LIST* gSasInstanceList = nullptr;
ZELKOR_EXPANDER_LIST* gPtrExpList = nullptr;
uint8_t gFillIpAddrFlag = 0;
uint32_t gFlagDeviceErrorDisplayOpen = 0;
uint32_t gFlagDeviceErrorDisplayList = 0;

namespace {

using namespace ialsas;

// ---- the module's operation table ----

struct Symbol {
    const char* name;
    ZELKOR_GENERIC_FUNCTION function;
};

template <typename F> ZELKOR_GENERIC_FUNCTION generic(F function) {
    return reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(function);
}

const Symbol kSymbols[] = {
    {"zelkor_ial_open", generic<IAL_OPEN_FUNCTION>(sasOpen)},
    {"zelkor_ial_close", generic<IAL_CLOSE_FUNCTION>(sasClose)},
    {"zelkor_ial_version", generic<IAL_VERSION_FUNCTION>(sasVersion)},
    {"zelkor_ial_getExpanders", generic<IAL_GET_EXPANDERS_FUNCTION>(sasGetExpanders)},
    {"zelkor_ial_downloadRegion", generic<IAL_TRANSFER_FUNCTION>(sasDownloadRegion)},
    {"zelkor_ial_uploadRegion", generic<IAL_TRANSFER_FUNCTION>(sasUploadRegion)},
    {"zelkor_ial_eraseRegion", generic<IAL_ERASE_FUNCTION>(sasEraseRegion)},
};

} // namespace

extern "C" ZELKOR_GENERIC_FUNCTION ial_sas_query_symbol(const char* name) {
    if (name == nullptr)
        return nullptr;
    for (const Symbol& symbol : kSymbols)
        if (std::strcmp(symbol.name, name) == 0)
            return symbol.function;
    return nullptr;
}
