#include "ial/sasCommands.h"

#include <array>
#include <cstdio>
#include <cstring>

uint32_t gExpanderType = 0xFF;

namespace {

void putBigEndian(uint8_t* at, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        at[i] = static_cast<uint8_t>(value);
        value >>= 8;
    }
}

// Offset and length field widths and positions of one encoding.
struct Layout {
    uint8_t mode;
    int offsetBytes;
    int lengthBytes;
};

Layout layoutFor(uint8_t bufferId, uint8_t descriptorFlag) {
    constexpr Layout kData{2, 3, 3};
    if (gExpanderType == 1)
        return kData;
    if (bufferId == SAS_BUFFER_CONFIG_PAGE)
        return {1, 2, 2};
    if (bufferId == SAS_BUFFER_RESET)
        return {1, 3, 3};
    if (bufferId >= 0xC0 && bufferId <= 0xDF)
        return {1, 4, 2};
    if (descriptorFlag == 1 && (bufferId == 0 || bufferId >= 0xE0))
        return {3, 3, 3};
    return kData;
}

bool fitsBytes(uint32_t value, int bytes) {
    return bytes >= 4 || value >> (8 * bytes) == 0;
}

void sayOnConsole(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

} // namespace

uint32_t prepareCdb(uint8_t* cdb, uint8_t operationCode, uint32_t bufferId, uint32_t length, uint32_t offset,
                    uint32_t* cdbLength, uint8_t descriptorFlag) {
    const auto id = static_cast<uint8_t>(bufferId);
    const Layout layout = layoutFor(id, descriptorFlag);
    std::memset(cdb, 0, SAS_BUFFER_COMMAND_LENGTH);
    cdb[0] = operationCode;
    cdb[1] = layout.mode;
    cdb[2] = id;
    putBigEndian(cdb + 3, offset, layout.offsetBytes);
    putBigEndian(cdb + 3 + layout.offsetBytes, length, layout.lengthBytes);
    if (cdbLength != nullptr)
        *cdbLength = SAS_BUFFER_COMMAND_LENGTH;
    return 0;
}

bool cdbFieldsFit(uint32_t bufferId, uint32_t length, uint32_t offset, uint8_t descriptorFlag) {
    if (bufferId > 0xFF)
        return false;
    const Layout layout = layoutFor(static_cast<uint8_t>(bufferId), descriptorFlag);
    return fitsBytes(offset, layout.offsetBytes) && fitsBytes(length, layout.lengthBytes);
}

void prepareInquiryCdb(uint8_t* cdb, uint8_t page) {
    const uint8_t command[SAS_INQUIRY_COMMAND_LENGTH] = {
        SCSI_INQUIRY, 0x01, page, 0x00, static_cast<uint8_t>(SAS_INQUIRY_REPLY_LENGTH), 0x00};
    std::memcpy(cdb, command, sizeof command);
}

ZELKOR_STATUS zelkor_ial_writeData(uint32_t bufferId, const uint8_t* data, uint32_t length,
                                   OsalSasDevice device, uint32_t offset, uint8_t descriptorFlag,
                                   uint32_t* transferred) {
    if (transferred != nullptr)
        *transferred = 0;
    // A length or offset that its field cannot carry would address other bytes than the caller's.
    if (data == nullptr || length < 1 || !cdbFieldsFit(bufferId, length, offset, descriptorFlag)) {
        sayOnConsole(" **** INVALID ARGUMENTS for SAS Write data ****");
        return SAS_INVALID_ARGUMENTS;
    }
    std::array<uint8_t, 16> cdb{};
    uint32_t cdbLength = 0;
    prepareCdb(cdb.data(), SCSI_WRITE_BUFFER, bufferId, length, offset, &cdbLength, descriptorFlag);
    if (osal_sasDeviceWrite(device, data, length, transferred, cdb.data(), cdbLength) != 0) {
        sayOnConsole(" **** Osal SAS Device Write data  FAILED****");
        return SAS_WRITE_FAILED;
    }
    return 0;
}

namespace {

ZELKOR_STATUS readCommand(OsalSasDevice device, uint8_t* data, uint32_t length, uint32_t* transferred,
                          const uint8_t* cdb, uint32_t cdbLength) {
    uint32_t arrived = 0;
    const int result = osal_sasDeviceRead(device, data, length, &arrived, cdb, cdbLength);
    if (transferred != nullptr)
        *transferred = arrived;
    if (result != 0)
        return SAS_READ_FAILED;
    return arrived == 0 ? SAS_READ_EMPTY : 0;
}

} // namespace

ZELKOR_STATUS zelkor_ial_readData(uint32_t bufferId, uint8_t* data, uint32_t length, OsalSasDevice device,
                                  uint32_t offset, uint8_t descriptorFlag, uint32_t* transferred) {
    if (transferred != nullptr)
        *transferred = 0;
    if (data == nullptr || length < 1 || !cdbFieldsFit(bufferId, length, offset, descriptorFlag)) {
        sayOnConsole(" ****  Invalid Arguments for SAS Read data ****");
        return SAS_INVALID_ARGUMENTS;
    }
    std::array<uint8_t, 16> cdb{};
    uint32_t cdbLength = 0;
    prepareCdb(cdb.data(), SCSI_READ_BUFFER, bufferId, length, offset, &cdbLength, descriptorFlag);
    return readCommand(device, data, length, transferred, cdb.data(), cdbLength);
}

ZELKOR_STATUS zelkor_ial_inquiryVpd(OsalSasDevice device, uint8_t page, uint8_t* reply,
                                    uint32_t* transferred) {
    if (transferred != nullptr)
        *transferred = 0;
    if (reply == nullptr)
        return SAS_INVALID_ARGUMENTS;
    std::array<uint8_t, SAS_INQUIRY_COMMAND_LENGTH> cdb{};
    prepareInquiryCdb(cdb.data(), page);
    return readCommand(device, reply, SAS_INQUIRY_REPLY_LENGTH, transferred, cdb.data(), cdb.size());
}
