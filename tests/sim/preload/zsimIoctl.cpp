// The ioctls of the simulated nodes: the sg driver's on /dev/sgN (SG_IO through the SCSI target, and the
// driver's settings), and SG_IO version 4 with SMP frames on the expanders' bsg nodes.
#include "preload/zsimSmp.h"
#include "preload/zsimWorld.h"
#include "scenario/Scenario.h"
#include "scsi/ScsiTarget.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <scsi/scsi.h>
#include <scsi/scsi_ioctl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>

namespace zsim::preload {

namespace {

DataDirection direction(int sgDirection) {
    switch (sgDirection) {
    case SG_DXFER_TO_DEV:
        return DataDirection::ToDevice;
    case SG_DXFER_FROM_DEV:
        return DataDirection::FromDevice;
    case SG_DXFER_TO_FROM_DEV:
        return DataDirection::Both;
    default:
        return DataDirection::None;
    }
}

const char* directionName(DataDirection d) {
    switch (d) {
    case DataDirection::ToDevice:
        return "out";
    case DataDirection::FromDevice:
        return "in";
    case DataDirection::Both:
        return "both";
    case DataDirection::None:
        break;
    }
    return "none";
}

int sgIo(World& w, int fd, OpenDevice& open, sg_io_hdr* h) {
    if (h == nullptr)
        return fail(EFAULT);
    if (h->interface_id != 'S')
        return fail(ENOSYS);
    if (h->cmdp == nullptr || h->cmd_len < 6 || h->cmd_len > 16 || (h->dxfer_len > 0 && h->dxferp == nullptr))
        return fail(EINVAL);
    if (h->iovec_count != 0) // scatter-gather lists are not simulated
        return fail(EINVAL);
    Device* device = nodeDevice(w, open.number);
    if (device == nullptr)
        return fail(ENODEV);
    ScsiCommand command;
    command.cdb = {h->cmdp, h->cmd_len};
    command.direction = direction(h->dxfer_direction);
    const auto* data = static_cast<const uint8_t*>(h->dxferp);
    if (command.direction == DataDirection::ToDevice || command.direction == DataDirection::Both)
        command.dataOut = {data, h->dxfer_len};
    if (command.direction == DataDirection::FromDevice || command.direction == DataDirection::Both)
        command.dataInLength = h->dxfer_len;
    const ScsiReply reply = executeScsi(*device, command);
    if (w.enclosure->commandLatencyUs != 0) {
        // The device's own time for the command: a real wait, not one of the program's sleeps.
        const uint32_t us = w.enclosure->commandLatencyUs;
        timespec request{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000L};
        timespec rest{};
        const int saved = errno;
        while (realNanosleep(&request, &rest) != 0 && errno == EINTR)
            request = rest;
        errno = saved;
    }

    std::string line = header(w, "cmd") + " dev=" + device->name() + field("fd", fd) +
                       " cdb=" + toHex(h->cmdp, h->cmd_len) + " dir=" + directionName(command.direction) +
                       field("len", h->dxfer_len) + field("timeout", h->timeout) +
                       field("sblen", h->mx_sb_len);
    if (reply.ioctlFailed) {
        traceLine(w, line + " ioctl=-1" + field("errno", reply.ioctlErrno));
        return fail(reply.ioctlErrno);
    }
    const size_t delivered = std::min<size_t>(reply.dataIn.size(), h->dxfer_len);
    if (delivered > 0)
        std::memcpy(h->dxferp, reply.dataIn.data(), delivered);
    const size_t senseLength = h->sbp == nullptr ? 0 : std::min<size_t>(reply.sense.size(), h->mx_sb_len);
    if (senseLength > 0)
        std::memcpy(h->sbp, reply.sense.data(), senseLength);
    h->status = reply.status;
    h->masked_status = static_cast<unsigned char>((reply.status & 0x3E) >> 1);
    h->msg_status = 0;
    h->sb_len_wr = static_cast<unsigned char>(senseLength);
    h->host_status = reply.hostStatus;
    h->driver_status = reply.driverStatus;
    h->resid = static_cast<int>(reply.resid);
    h->duration = 0;
    h->info =
        reply.status != 0 || reply.hostStatus != 0 || reply.driverStatus != 0 ? SG_INFO_CHECK : SG_INFO_OK;

    line += " ioctl=0" + hexField("status", reply.status) + hexField("host", reply.hostStatus) +
            hexField("driver", reply.driverStatus) + field("resid", reply.resid) +
            " sense=" + toHex(reply.sense.data(), reply.sense.size()) +
            " out=" + toHex(command.dataOut.data(), command.dataOut.size()) +
            " in=" + toHex(reply.dataIn.data(), delivered);
    traceLine(w, line);
    return 0;
}

int putInt(void* arg, int value) {
    if (arg == nullptr)
        return fail(EFAULT);
    *static_cast<int*>(arg) = value;
    return 0;
}

int getInt(const void* arg, int* value) {
    if (arg == nullptr)
        return fail(EFAULT);
    *value = *static_cast<const int*>(arg);
    return 0;
}

int driverIoctl(World& w, int fd, OpenDevice& open, unsigned long request, void* arg) {
    Device* device = nodeDevice(w, open.number);
    const ScsiIdentity* id = device != nullptr ? &device->identity : nullptr;
    switch (request) {
    case SG_IO:
        return sgIo(w, fd, open, static_cast<sg_io_hdr*>(arg));
    case SG_GET_SCSI_ID: {
        if (arg == nullptr)
            return fail(EFAULT);
        if (id == nullptr)
            return fail(ENODEV);
        auto* out = static_cast<sg_scsi_id*>(arg);
        std::memset(out, 0, sizeof *out);
        out->host_no = id->host;
        out->channel = id->channel;
        out->scsi_id = id->target;
        out->lun = id->lun;
        out->scsi_type = id->peripheralType;
        out->h_cmd_per_lun = 1;
        out->d_queue_depth = 1;
        return 0;
    }
    case SG_GET_VERSION_NUM:
        return putInt(arg, kSgVersion);
    case SG_GET_TIMEOUT:
        return open.timeout;
    case SG_SET_TIMEOUT:
        return getInt(arg, &open.timeout);
    case SG_GET_RESERVED_SIZE:
        return putInt(arg, open.reservedSize);
    case SG_SET_RESERVED_SIZE:
        return getInt(arg, &open.reservedSize);
    case SG_GET_COMMAND_Q:
        return putInt(arg, open.commandQueue);
    case SG_SET_COMMAND_Q:
        return getInt(arg, &open.commandQueue);
    case SG_GET_KEEP_ORPHAN:
        return putInt(arg, open.keepOrphan);
    case SG_SET_KEEP_ORPHAN:
        return getInt(arg, &open.keepOrphan);
    case SG_EMULATED_HOST:
    case SG_GET_LOW_DMA:
    case SG_GET_NUM_WAITING:
        return putInt(arg, 0);
    case SG_GET_PACK_ID:
        return putInt(arg, -1);
    case SG_GET_SG_TABLESIZE:
        return putInt(arg, 128);
    case kSgGetAccessCount:
        return putInt(arg, 1);
    case SG_SET_FORCE_LOW_DMA:
    case SG_SET_FORCE_PACK_ID:
    case SG_SET_DEBUG:
    case SG_NEXT_CMD_LEN:
    case SG_SCSI_RESET:
        return 0;
    case SCSI_IOCTL_GET_IDLUN: {
        if (arg == nullptr)
            return fail(EFAULT);
        if (id == nullptr)
            return fail(ENODEV);
        auto* out = static_cast<int*>(arg);
        out[0] = (id->target & 0xFF) | ((id->lun & 0xFF) << 8) | ((id->channel & 0xFF) << 16) |
                 ((id->host & 0xFF) << 24);
        out[1] = id->host + 1;
        return 0;
    }
    case SCSI_IOCTL_GET_BUS_NUMBER:
        return id == nullptr ? fail(ENODEV) : putInt(arg, id->host);
    default:
        return fail(ENOTTY);
    }
}

// SG_IO on an SMP node carries one SMP frame; the node knows no other ioctl.
int bsgIoctl(World& w, int fd, OpenDevice& open, unsigned long request, void* arg) {
    const std::string line = header(w, "smp") + " dev=expander-" + std::to_string(open.number) + ":0" +
                             field("fd", fd);
    Device* device = bsgDevice(w, open.number);
    if (request != SG_IO || device == nullptr) {
        traceLine(w, line + hexField("request", static_cast<unsigned>(request)) + field("errno", ENOTTY));
        return fail(device == nullptr ? ENODEV : ENOTTY);
    }
    std::string described;
    const int error = smpRequest(*device->expander, arg, &described);
    traceLine(w, line + described + (error != 0 ? field("errno", error) : ""));
    return error != 0 ? fail(error) : 0;
}

} // namespace

int simulatedIoctl(World& w, int fd, OpenDevice& open, unsigned long request, void* arg) {
    if (open.bsg)
        return bsgIoctl(w, fd, open, request, arg);
    const int saved = errno;
    errno = 0;
    const int result = driverIoctl(w, fd, open, request, arg);
    const int error = errno;
    if (request != SG_IO) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%04lX", request);
        traceLine(w, header(w, "ioctl") + " dev=sg" + std::to_string(open.number) + field("fd", fd) +
                         " request=" + code + field("result", result) +
                         (result < 0 ? field("errno", error) : ""));
    }
    errno = result < 0 ? error : saved;
    return result;
}


} // namespace zsim::preload
