#include "osal/osalSas.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kClassDirectory = "/sys/class/scsi_generic";
constexpr const char* kNodePrefix = "/dev/sg";

// SCSI status, sense keys and Linux driver status codes used by the verdict.
constexpr uint8_t kStatusGood = 0x00;
constexpr uint8_t kStatusCheckCondition = 0x02;
constexpr uint8_t kSenseNoSense = 0x0;
constexpr uint8_t kSenseRecoveredError = 0x1;
constexpr uint8_t kSenseUnitAttention = 0x6;
constexpr uint16_t kDriverStatusMask = 0x0F;
constexpr uint16_t kDriverSense = 0x08;

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

bool validDescriptor(OsalSasDevice device) {
    return device <= static_cast<OsalSasDevice>(INT32_MAX);
}

// Sense key of fixed-format (0x70, 0x71) or descriptor-format (0x72, 0x73) sense data; -1 when there is
// none or it is of an unknown format.
int senseKey(const uint8_t* sense, uint32_t length) {
    if (length < 1)
        return -1;
    const uint8_t code = sense[0] & 0x7F;
    if ((code == 0x70 || code == 0x71) && length >= 3)
        return sense[2] & 0x0F;
    if ((code == 0x72 || code == 0x73) && length >= 2)
        return sense[1] & 0x0F;
    return -1;
}

uint32_t transferredBytes(const sg_io_hdr& header, uint32_t length) {
    if (header.resid <= 0)
        return length;
    const auto resid = static_cast<uint32_t>(header.resid);
    return resid >= length ? 0 : length - resid;
}

int carry(OsalSasDevice device, int direction, uint8_t* data, uint32_t length, uint32_t* transferred,
          const uint8_t* cdb, uint32_t cdbLength) {
    if (transferred != nullptr)
        *transferred = 0;
    std::array<uint8_t, 16> command{};
    if (!validDescriptor(device) || cdb == nullptr || cdbLength == 0 || cdbLength > command.size() ||
        (data == nullptr && length > 0))
        return -1;
    std::memcpy(command.data(), cdb, cdbLength);
    std::array<uint8_t, OSAL_SAS_SENSE_LENGTH> sense{};
    const auto fd = static_cast<int>(device);
    for (int attempt = 0; attempt < 2; ++attempt) {
        sg_io_hdr header;
        std::memset(&header, 0, sizeof header);
        sense.fill(0);
        header.interface_id = 'S';
        header.dxfer_direction = length == 0 ? SG_DXFER_NONE : direction;
        header.cmd_len = static_cast<unsigned char>(cdbLength);
        header.mx_sb_len = static_cast<unsigned char>(sense.size());
        header.dxfer_len = length;
        header.dxferp = data;
        header.cmdp = command.data();
        header.sbp = sense.data();
        header.timeout = OSAL_SAS_TIMEOUT_MS;
        const int result = ioctl(fd, SG_IO, &header);
        const OsalSgVerdict verdict = osal_sgVerdict(result, header);
        if (transferred != nullptr)
            *transferred = result < 0 ? 0 : transferredBytes(header, length);
        if (verdict == OsalSgVerdict::Good)
            return 0;
        if (verdict != OsalSgVerdict::UnitAttention)
            return -1;
    }
    return -1;
}

} // namespace

bool osal_sgDeviceNumber(const char* name, int* number) {
    if (name == nullptr || std::strncmp(name, "sg", 2) != 0)
        return false;
    const char* digits = name + 2;
    const size_t count = std::strlen(digits);
    if (count == 0 || count > 4 || (count > 1 && digits[0] == '0'))
        return false;
    int value = 0;
    for (size_t i = 0; i < count; ++i) {
        if (digits[i] < '0' || digits[i] > '9')
            return false;
        value = value * 10 + (digits[i] - '0');
    }
    if (value > OSAL_SAS_MAX_DEVICE_NUMBER)
        return false;
    if (number != nullptr)
        *number = value;
    return true;
}

int osal_scandirSelect(const struct dirent* entry) {
    return entry != nullptr && osal_sgDeviceNumber(entry->d_name, nullptr) ? 1 : 0;
}

int osal_numScsiDevices() {
    struct stat info {};
    if (stat(kClassDirectory, &info) != 0 || !S_ISDIR(info.st_mode))
        return 0;
    struct dirent** entries = nullptr;
    const int count = scandir(kClassDirectory, &entries, osal_scandirSelect, nullptr);
    if (count < 0)
        return -errno;
    for (int i = 0; i < count; ++i)
        std::free(entries[i]);
    std::free(entries);
    return count;
}

int osal_scsiDeviceNumbers(std::vector<int>* numbers) {
    if (numbers == nullptr)
        return -EINVAL;
    numbers->clear();
    std::unique_ptr<DIR, DirCloser> dir(opendir(kClassDirectory));
    if (!dir)
        return -errno;
    while (const dirent* entry = readdir(dir.get())) {
        int number = 0;
        if (osal_sgDeviceNumber(entry->d_name, &number))
            numbers->push_back(number);
    }
    return 0;
}

OsalSasDevice osal_sasDeviceOpen(int number) {
    if (number < 0 || number > OSAL_SAS_MAX_DEVICE_NUMBER)
        return OSAL_SAS_NO_DEVICE;
    char node[32];
    std::snprintf(node, sizeof node, "%s%d", kNodePrefix, number);
    const int fd = open(node, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return OSAL_SAS_NO_DEVICE;
    sg_scsi_id id;
    std::memset(&id, 0, sizeof id);
    if (ioctl(fd, SG_GET_SCSI_ID, &id) == 0 && id.scsi_type == OSAL_SCSI_TYPE_ENCLOSURE)
        return static_cast<OsalSasDevice>(fd);
    close(fd);
    return OSAL_SAS_NO_DEVICE;
}

int osal_sasDeviceClose(OsalSasDevice device) {
    if (!validDescriptor(device))
        return -1;
    return close(static_cast<int>(device)) == 0 ? 0 : -1;
}

int osal_sasDeviceWrite(OsalSasDevice device, const uint8_t* data, uint32_t length, uint32_t* transferred,
                        const uint8_t* cdb, uint32_t cdbLength) {
    // The driver only reads an outgoing buffer; the request header has no const pointer.
    return carry(device, SG_DXFER_TO_DEV, const_cast<uint8_t*>(data), length, transferred, cdb, cdbLength);
}

int osal_sasDeviceRead(OsalSasDevice device, uint8_t* data, uint32_t length, uint32_t* transferred,
                       const uint8_t* cdb, uint32_t cdbLength) {
    return carry(device, SG_DXFER_FROM_DEV, data, length, transferred, cdb, cdbLength);
}

OsalSgVerdict osal_sgVerdict(int ioctlResult, const sg_io_hdr& header) {
    if (ioctlResult < 0 || header.host_status != 0)
        return OsalSgVerdict::Failed;
    const uint16_t driver = header.driver_status & kDriverStatusMask;
    if (driver != 0 && driver != kDriverSense)
        return OsalSgVerdict::Failed;
    const uint32_t senseLength = header.sb_len_wr < header.mx_sb_len ? header.sb_len_wr : header.mx_sb_len;
    const int key =
        header.sbp != nullptr ? senseKey(static_cast<const uint8_t*>(header.sbp), senseLength) : -1;
    const bool hasSense = senseLength > 0;
    if (key == kSenseUnitAttention)
        return OsalSgVerdict::UnitAttention;
    if (header.status == kStatusGood)
        return !hasSense || key == kSenseNoSense || key == kSenseRecoveredError ? OsalSgVerdict::Good
                                                                                : OsalSgVerdict::Failed;
    if (header.status == kStatusCheckCondition && key == kSenseRecoveredError)
        return OsalSgVerdict::Good;
    return OsalSgVerdict::Failed;
}

uint64_t getSASAddress(const uint8_t* page, uint32_t received) {
    constexpr uint32_t kHeader = 4;
    constexpr uint32_t kAddressBytes = 8;
    if (page == nullptr || received < kHeader || page[1] != 0x83)
        return 0;
    const uint32_t pageLength = (static_cast<uint32_t>(page[2]) << 8) | page[3];
    if (pageLength <= 4)
        return 0;
    const uint32_t end = pageLength + kHeader < received ? pageLength + kHeader : received;
    for (uint32_t at = kHeader; at + kHeader <= end;) {
        const uint8_t* descriptor = page + at;
        const uint32_t designatorLength = descriptor[3];
        if (at + kHeader + designatorLength > end)
            break;
        if (descriptor[1] == 0x93 && (descriptor[0] & 0x60) != 0 && designatorLength >= kAddressBytes) {
            uint64_t address = 0;
            for (uint32_t i = 0; i < kAddressBytes; ++i)
                address = (address << 8) | descriptor[kHeader + i];
            return address;
        }
        at += kHeader + designatorLength;
    }
    return 0;
}
