// The in-band command set: READ BUFFER and WRITE BUFFER encoded from a buffer id, an offset, a length and
// a descriptor-mode flag, the two INQUIRY commands, and the carriers through which every other in-band
// function reaches an expander.
#ifndef IAL_SAS_COMMANDS_H
#define IAL_SAS_COMMANDS_H

#include "core/zelkor.h"
#include "osal/osalSas.h"

#include <cstdint>

inline constexpr uint8_t SCSI_READ_BUFFER = 0x3C;
inline constexpr uint8_t SCSI_WRITE_BUFFER = 0x3B;
inline constexpr uint8_t SCSI_INQUIRY = 0x12;

inline constexpr uint32_t SAS_BUFFER_COMMAND_LENGTH = 10;
inline constexpr uint32_t SAS_INQUIRY_COMMAND_LENGTH = 6;
inline constexpr uint32_t SAS_INQUIRY_REPLY_LENGTH = 255;

inline constexpr uint8_t VPD_DEVICE_IDENTIFICATION = 0x83;
inline constexpr uint8_t VPD_MANAGEMENT_NETWORK_ADDRESSES = 0x85;

// Buffer ids of the in-band module.
inline constexpr uint32_t SAS_BUFFER_SIGNATURE_TYPE1 = 0x00;
inline constexpr uint32_t SAS_BUFFER_MEMORY = 0xC0;
inline constexpr uint32_t SAS_BUFFER_REGISTER = 0xC2;
inline constexpr uint32_t SAS_BUFFER_SIGNATURE = 0xE0;
inline constexpr uint32_t SAS_BUFFER_ERASE_REPLACED = 0xE2;
inline constexpr uint32_t SAS_BUFFER_CONFIG_PAGE = 0xE6;
inline constexpr uint32_t SAS_BUFFER_RESET = 0xE9;
inline constexpr uint32_t SAS_BUFFER_ERASE_TARGET = 0xEB;

// Result codes of the carriers.
inline constexpr ZELKOR_STATUS SAS_READ_EMPTY = 1; // READ BUFFER completed but brought nothing
inline constexpr ZELKOR_STATUS SAS_INVALID_ARGUMENTS = 5;
inline constexpr ZELKOR_STATUS SAS_WRITE_FAILED = 24;
inline constexpr ZELKOR_STATUS SAS_READ_FAILED = 0xFFFFFFFFu;

// Code of the expander currently being talked to: 0xFF at start; the in-band discovery sets it. Only the
// value 1 changes the encoding of buffer commands.
extern uint32_t gExpanderType;

// Fills the first 10 bytes of the 16-byte command buffer with one buffer command and sets the command
// length to 10; returns 0.
uint32_t prepareCdb(uint8_t* cdb, uint8_t operationCode, uint32_t bufferId, uint32_t length, uint32_t offset,
                    uint32_t* cdbLength, uint8_t descriptorFlag);

// True when the buffer id, the length and the offset fit the fields of the command prepareCdb builds.
bool cdbFieldsFit(uint32_t bufferId, uint32_t length, uint32_t offset, uint8_t descriptorFlag);

// The 6-byte INQUIRY of a VPD page with an allocation length of 255.
void prepareInquiryCdb(uint8_t* cdb, uint8_t page);

// One WRITE BUFFER: 0, 5 (null data, length 0, or a length or offset its command cannot carry) or 24 (failed
// at the device). One READ BUFFER: 0, 5, 1 (completed without data) or 0xFFFFFFFF (failed at the device).
// *transferred (may be null) receives the bytes that actually crossed, so that a caller that needs a
// whole record can tell a short transfer.
ZELKOR_STATUS zelkor_ial_writeData(uint32_t bufferId, const uint8_t* data, uint32_t length,
                                   OsalSasDevice device, uint32_t offset, uint8_t descriptorFlag,
                                   uint32_t* transferred = nullptr);
ZELKOR_STATUS zelkor_ial_readData(uint32_t bufferId, uint8_t* data, uint32_t length, OsalSasDevice device,
                                  uint32_t offset, uint8_t descriptorFlag, uint32_t* transferred = nullptr);

// INQUIRY of VPD page 0x83 or 0x85 into a reply of 255 bytes; results as for zelkor_ial_readData.
ZELKOR_STATUS zelkor_ial_inquiryVpd(OsalSasDevice device, uint8_t page, uint8_t* reply,
                                    uint32_t* transferred = nullptr);

#endif
