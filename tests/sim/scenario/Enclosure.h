// A simulated enclosure as a scenario describes it: the SCSI-generic devices the host sees (expanders and
// other devices), how the sysfs class directory looks, and the faults to inject per command.
#ifndef ZSIM_ENCLOSURE_H
#define ZSIM_ENCLOSURE_H

#include "model/Expander.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zsim {

// Which commands a fault applies to.
struct FaultMatch {
    enum class Command { Any, Inquiry, StandardInquiry, ReadBuffer, WriteBuffer, Opcode };
    Command command = Command::Any;
    uint8_t opcode = 0;
    std::optional<uint8_t> selector; // buffer id, or VPD page of an INQUIRY
    std::optional<uint32_t> offset;  // page id, expander address or buffer offset
};

enum class FaultKind {
    UnitAttention,  // CHECK CONDITION, UNIT ATTENTION (power on or reset occurred)
    IllegalRequest, // CHECK CONDITION, ILLEGAL REQUEST (invalid field in CDB)
    Busy,           // SCSI status BUSY without sense data
    TransportError, // host status DID_ERROR without sense data
    DriverError,    // driver status DRIVER_ERROR without sense data
    IoctlFailure,   // the ioctl itself fails (errno in the argument, EIO by default)
    ShortTransfer,  // only `argument` bytes cross; the driver reports the rest as residual
    ZeroTransfer,   // no byte crosses
    Length,         // the length field of the reply is replaced by `argument`
    // Carried out, then answered CHECK CONDITION, ABORTED COMMAND: a chip that resets under its own reset
    // command loses the answer.
    ExecutedFailure,
};

struct Fault {
    FaultMatch match;
    FaultKind kind = FaultKind::IllegalRequest;
    uint32_t argument = 0;
    uint32_t skip = 0;  // matching commands let through before the fault strikes
    uint32_t count = 1; // times it strikes; 0 = every time
    // Progress.
    uint32_t seen = 0;
    uint32_t struck = 0;
};

enum class DeviceKind { Expander, Disk, Enclosure };

// The SCSI identity a device reports through INQUIRY and SG_GET_SCSI_ID.
struct ScsiIdentity {
    uint8_t peripheralType = 0x0D;
    std::string vendor;
    std::string product;
    std::string revision;
    std::optional<uint64_t> targetPortAddress;            // VPD 0x83 NAA designator, association target port
    std::optional<uint64_t> logicalUnitAddress;           // VPD 0x83 NAA designator, association logical unit
    std::map<uint8_t, std::vector<uint8_t>> vpdOverrides; // whole replies, header included
    int host = 0;
    int channel = 0;
    int target = 0;
    int lun = 0;
};

struct Device {
    int number = 0; // N of sgN
    DeviceKind kind = DeviceKind::Expander;
    bool hasNode = true;
    ScsiIdentity identity;
    std::unique_ptr<Expander> expander; // set for kind Expander
    std::vector<Fault> faults;

    std::string name() const { return "sg" + std::to_string(number); }
};

enum class SysfsState { Present, Absent, Unreadable };

struct Enclosure {
    SysfsState sysfs = SysfsState::Present;
    // How long every SCSI command takes, in microseconds of real time (for benchmarks); 0: no wait.
    uint32_t commandLatencyUs = 0;
    // Names listed in the class directory, in directory order: the devices and any extra entries.
    std::vector<std::string> entries;
    std::vector<std::unique_ptr<Device>> devices;

    Device* find(int number) {
        for (auto& device : devices)
            if (device->number == number)
                return device.get();
        return nullptr;
    }
};

} // namespace zsim

#endif
