// Operating-system layer of the in-band interface: the host's SCSI-generic devices. Counts and lists the
// devices, opens one when it is an enclosure-services device, carries one SCSI command with its data
// through SG_IO and finds the SAS target-port address in a device-identification page. It knows nothing
// of expanders or buffer ids, and it does not log.
#ifndef OSAL_SAS_H
#define OSAL_SAS_H

#include <cstdint>
#include <vector>

struct dirent;
struct sg_io_hdr;

// A held device: the file descriptor of its node. Descriptor 0 is a valid device; OSAL_SAS_NO_DEVICE is
// the one value that means "no device held".
using OsalSasDevice = uint64_t;
inline constexpr OsalSasDevice OSAL_SAS_NO_DEVICE = UINT64_MAX;

inline constexpr int OSAL_SAS_MAX_DEVICE_NUMBER = 4095;
inline constexpr uint8_t OSAL_SCSI_TYPE_ENCLOSURE = 0x0D;
inline constexpr uint32_t OSAL_SAS_SENSE_LENGTH = 32;
inline constexpr uint32_t OSAL_SAS_TIMEOUT_MS = 500000;

// Number of "sgN" entries (N from 0 to 4095) in /sys/class/scsi_generic; 0 when the directory does not
// exist or is no directory; the negated errno when it cannot be listed.
int osal_numScsiDevices();

// Listing filter: 1 for an entry named "sg" followed by a device number from 0 to 4095, else 0.
int osal_scandirSelect(const struct dirent* entry);

// Parses an entry name of the form "sgN" (decimal digits only, no sign, no leading zero, N <= 4095).
bool osal_sgDeviceNumber(const char* name, int* number);

// The device numbers of the accepted entries of /sys/class/scsi_generic in directory order. 0 on
// success; the negated errno when the directory cannot be opened.
int osal_scsiDeviceNumbers(std::vector<int>* numbers);

// Opens /dev/sgN and keeps it when the driver reports an enclosure-services device. Anything else (a node
// that cannot be opened, another device type) gives OSAL_SAS_NO_DEVICE; a device of another type is
// closed again.
OsalSasDevice osal_sasDeviceOpen(int number);

// 0 after the device was closed; -1 for OSAL_SAS_NO_DEVICE (nothing is closed) or when close fails.
int osal_sasDeviceClose(OsalSasDevice device);

// One command carrying data to the device (write) or from it (read). 0 when the command succeeded, -1
// when it failed. *transferred (may be null) receives the bytes that actually crossed: the length asked
// for minus the residual count the driver reports. A command answered with UNIT ATTENTION is sent once
// more.
int osal_sasDeviceWrite(OsalSasDevice device, const uint8_t* data, uint32_t length, uint32_t* transferred,
                        const uint8_t* cdb, uint32_t cdbLength);
int osal_sasDeviceRead(OsalSasDevice device, uint8_t* data, uint32_t length, uint32_t* transferred,
                       const uint8_t* cdb, uint32_t cdbLength);

// How one SG_IO exchange ended. Good only when the ioctl, the transport (host status), the driver and the
// SCSI status all report success; sense data with a recovered error counts as good.
enum class OsalSgVerdict { Good, UnitAttention, Failed };
OsalSgVerdict osal_sgVerdict(int ioctlResult, const sg_io_hdr& header);

// SAS target-port address from an INQUIRY device-identification (VPD 0x83) reply of which `received`
// bytes arrived: the first NAA designator of association target port with a SAS protocol identifier
// that lies whole inside both the page and the received bytes. 0 when there is none.
uint64_t getSASAddress(const uint8_t* page, uint32_t received);

#endif
