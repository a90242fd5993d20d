// The SCSI target in front of a simulated device: decodes INQUIRY, READ BUFFER and WRITE BUFFER (and the
// few commands general SCSI tools send), applies the device's injected faults, and answers with status,
// fixed-format sense data and data as a SCSI device would.
#ifndef ZSIM_SCSI_TARGET_H
#define ZSIM_SCSI_TARGET_H

#include "scenario/Enclosure.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zsim {

enum class DataDirection { None, ToDevice, FromDevice, Both };

struct ScsiCommand {
    std::span<const uint8_t> cdb;
    DataDirection direction = DataDirection::None;
    std::span<const uint8_t> dataOut; // what the host offers (its whole transfer length)
    uint32_t dataInLength = 0;        // room the host has for data in
};

struct ScsiReply {
    bool ioctlFailed = false; // the request never reached the device
    int ioctlErrno = 0;
    uint8_t status = 0;       // SCSI status byte
    uint8_t hostStatus = 0;   // transport (Linux DID_ codes)
    uint8_t driverStatus = 0; // Linux DRIVER_ codes; DRIVER_SENSE accompanies sense data
    std::vector<uint8_t> sense;
    std::vector<uint8_t> dataIn;
    uint32_t resid = 0; // bytes of the host's transfer length that did not cross
};

inline constexpr uint8_t kStatusGood = 0x00;
inline constexpr uint8_t kStatusCheckCondition = 0x02;
inline constexpr uint8_t kStatusBusy = 0x08;
inline constexpr uint8_t kSenseIllegalRequest = 0x05;
inline constexpr uint8_t kSenseUnitAttention = 0x06;
inline constexpr uint8_t kSenseAbortedCommand = 0x0B;

// A READ BUFFER or WRITE BUFFER decoded by mode and buffer id.
struct BufferCommand {
    bool write = false;
    uint8_t mode = 0;
    uint8_t bufferId = 0;
    uint32_t offset = 0; // page id (buffer 0xE6), expander address (0xC0 to 0xDF) or byte offset
    uint32_t length = 0;
};

// Decodes a 10-byte buffer command the way the family's firmware reads it; nullopt for a combination of
// mode and buffer id that it does not accept.
std::optional<BufferCommand> decodeBufferCdb(std::span<const uint8_t> cdb, bool dataModeOnly);

ScsiReply executeScsi(Device& device, const ScsiCommand& command);

} // namespace zsim

#endif
