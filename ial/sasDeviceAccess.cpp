// The in-band module's log and console lines, its small helpers and its device access: READ BUFFER and
// WRITE BUFFER that must move every byte, register words, the held device and the instance list.
#include "ial/sasModule.h"

#include <cstdarg>
#include <cstdio>

namespace ialsas {

// ---- log and console ----

__attribute__((format(printf, 4, 5))) void logLine(const ZELKOR_INSTANCE* handle, const char* function,
                                                   uint32_t level, const char* format, ...) {
    if (handle == nullptr || handle->log == nullptr)
        return;
    char text[512] = {};
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    handle->log(kModule, function, ZELKOR_LOG_SAS, level, 1, "%s", text);
}

__attribute__((format(printf, 1, 2))) void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

// ---- small helpers ----

uint32_t littleEndian32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

uint32_t bigEndian32(const uint8_t* at) {
    return (static_cast<uint32_t>(at[0]) << 24) | (static_cast<uint32_t>(at[1]) << 16) |
           (static_cast<uint32_t>(at[2]) << 8) | static_cast<uint32_t>(at[3]);
}

void putLittleEndian32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool isFamilyType(uint32_t type) {
    return type >= ZELKOR_CHIP_OSTREL && type <= ZELKOR_CHIP_QUENZA_DAX;
}

bool isQuenzaType(uint32_t type) {
    return type == ZELKOR_CHIP_QUENZA || type == ZELKOR_CHIP_QUENZA_DAX;
}

uint32_t highHalf(uint64_t address) {
    return static_cast<uint32_t>(address >> 32);
}

uint32_t lowHalf(uint64_t address) {
    return static_cast<uint32_t>(address);
}

// 1 when the two addresses are equal, compared by their halves.
int cmpSasAddress(const ZELKOR_INSTANCE* handle, uint32_t highA, uint32_t lowA, uint32_t highB,
                  uint32_t lowB) {
    Trace trace(handle, "cmpSasAddress");
    return highA == highB && lowA == lowB ? 1 : 0;
}

// ---- device access ----

// One READ BUFFER that must bring every byte asked for; a short transfer counts as failed.
ZELKOR_STATUS readWhole(const SAS_INSTANCE& inst, uint32_t bufferId, uint8_t* data, uint32_t length,
                        uint32_t offset, uint8_t descriptorFlag) {
    uint32_t transferred = 0;
    const ZELKOR_STATUS status =
        zelkor_ial_readData(bufferId, data, length, inst.device, offset, descriptorFlag, &transferred);
    if (status != 0)
        return status;
    return transferred == length ? 0 : kShortRead;
}

// One WRITE BUFFER that the device must take whole; bytes it reports as not taken make the write fail.
ZELKOR_STATUS writeWhole(const SAS_INSTANCE& inst, uint32_t bufferId, const uint8_t* data, uint32_t length,
                         uint32_t offset, uint8_t descriptorFlag) {
    uint32_t transferred = 0;
    const ZELKOR_STATUS status =
        zelkor_ial_writeData(bufferId, data, length, inst.device, offset, descriptorFlag, &transferred);
    if (status != 0)
        return status;
    return transferred == length ? 0 : SAS_WRITE_FAILED;
}

// A register or memory word (four bytes, little-endian).
ZELKOR_STATUS readWord(const SAS_INSTANCE& inst, uint32_t bufferId, uint32_t address, uint32_t* value) {
    std::array<uint8_t, 4> bytes{};
    const ZELKOR_STATUS status = readWhole(inst, bufferId, bytes.data(), bytes.size(), address, 0);
    *value = status == 0 ? littleEndian32(bytes.data()) : 0;
    return status;
}

ZELKOR_STATUS writeRegister(const SAS_INSTANCE& inst, uint32_t address, uint32_t value) {
    std::array<uint8_t, 4> bytes{};
    putLittleEndian32(bytes.data(), value);
    return writeWhole(inst, SAS_BUFFER_REGISTER, bytes.data(), bytes.size(), address, 0);
}

// Closes the held device once; the descriptor is cleared so that nothing closes it again.
void closeDevice(SAS_INSTANCE& inst) {
    if (inst.device == OSAL_SAS_NO_DEVICE)
        return;
    osal_sasDeviceClose(inst.device);
    inst.device = OSAL_SAS_NO_DEVICE;
}

// The listed instance equal to p (the list's cursor is left on its node), or null.
SAS_INSTANCE* listedInstance(void* p) {
    if (p == nullptr || gSasInstanceList == nullptr)
        return nullptr;
    void* data = nullptr;
    ll_moveFirst(gSasInstanceList);
    while (ll_get(gSasInstanceList, &data, nullptr) == LL_SUCCESS) {
        if (data == p)
            return static_cast<SAS_INSTANCE*>(p);
        ll_moveNext(gSasInstanceList);
    }
    return nullptr;
}

// Takes a listed instance off the list and frees it; false when the list refused the removal (the
// instance is freed all the same).
bool releaseInstance(SAS_INSTANCE* inst) {
    bool removed = listedInstance(inst) != nullptr && ll_remove(gSasInstanceList, LL_AT_CURSOR) == LL_SUCCESS;
    std::free(inst);
    return removed;
}

} // namespace ialsas
