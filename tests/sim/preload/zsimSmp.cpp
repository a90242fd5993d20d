#include "preload/zsimSmp.h"

#include <linux/bsg.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace zsim {

namespace {

constexpr uint8_t kSmpRequest = 0x40;
constexpr uint8_t kSmpResponse = 0x41;
constexpr uint8_t kReportGeneral = 0x00;
constexpr uint8_t kDiscover = 0x10;
constexpr uint8_t kUnknownFunction = 0x01;
constexpr uint8_t kPhyDoesNotExist = 0x10;
constexpr size_t kReportGeneralSize = 28;

bool numberBetween(const std::string& text, size_t from, size_t to, int* number) {
    if (to <= from || to - from > 7)
        return false;
    int value = 0;
    for (size_t i = from; i < to; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    *number = value;
    return true;
}

std::vector<uint8_t> reportGeneral(const Expander& e) {
    std::vector<uint8_t> r(kReportGeneralSize, 0);
    r[0] = kSmpResponse;
    r[1] = kReportGeneral;
    r[3] = static_cast<uint8_t>((kReportGeneralSize - 4) / 4);
    const Topology& t = e.topology();
    uint32_t routes = t.routeCount.value_or(t.routes.empty() ? 0 : t.routes.rbegin()->first + 1);
    r[6] = static_cast<uint8_t>(routes >> 8);
    r[7] = static_cast<uint8_t>(routes);
    r[9] = static_cast<uint8_t>(e.phyCount());
    r[10] = 0x01; // the route table is configured from outside
    for (int i = 0; i < 8; ++i)
        r[12 + i] = static_cast<uint8_t>(e.sasAddress() >> (8 * (7 - i)));
    return r;
}

} // namespace

BsgPath classifyBsg(const std::string& path, int* number) {
    static const std::string kSysfs = "/sys/class/bsg/expander-";
    static const std::string kNode = "/dev/bsg/expander-";
    if (path.compare(0, kSysfs.size(), kSysfs) == 0) {
        const size_t colon = path.find(':', kSysfs.size());
        if (colon != std::string::npos && path.compare(colon, std::string::npos, ":0/dev") == 0 &&
            numberBetween(path, kSysfs.size(), colon, number))
            return BsgPath::SysfsDev;
    } else if (path.compare(0, kNode.size(), kNode) == 0) {
        const size_t colon = path.find(':', kNode.size());
        if (colon != std::string::npos && path.compare(colon, std::string::npos, ":0") == 0 &&
            numberBetween(path, kNode.size(), colon, number))
            return BsgPath::Node;
    }
    return BsgPath::None;
}

unsigned bsgMajor() {
    static const unsigned major = [] {
        std::ifstream in("/proc/devices");
        for (std::string line; std::getline(in, line);) {
            unsigned value = 0;
            char name[32] = {};
            if (std::sscanf(line.c_str(), "%u %31s", &value, name) == 2 && std::strcmp(name, "bsg") == 0)
                return value;
        }
        return 248u;
    }();
    return major;
}

std::string bsgDevText(int number) {
    return std::to_string(bsgMajor()) + ":" + std::to_string(number) + "\n";
}

int smpRequest(const Expander& expander, void* argument, std::string* describe) {
    auto* h = static_cast<sg_io_v4*>(argument);
    if (h == nullptr)
        return EFAULT;
    if (h->guard != 'Q' || h->protocol != BSG_PROTOCOL_SCSI || h->subprotocol != BSG_SUB_PROTOCOL_SCSI_TRANSPORT ||
        h->dout_iovec_count != 0 || h->din_iovec_count != 0)
        return EINVAL;
    const auto* frame = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(h->dout_xferp));
    auto* reply = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(h->din_xferp));
    if (frame == nullptr || h->dout_xfer_len < 8 || frame[0] != kSmpRequest)
        return EINVAL;
    const uint8_t function = frame[1];
    std::vector<uint8_t> answer;
    char text[64];
    if (function == kReportGeneral) {
        answer = reportGeneral(expander);
        std::snprintf(text, sizeof text, " function=0x%02X", function);
    } else if (function == kDiscover && h->dout_xfer_len >= 12) {
        const uint8_t phy = frame[9];
        answer = expander.discoverResponse(phy);
        if (answer.empty())
            answer = {kSmpResponse, kDiscover, kPhyDoesNotExist, 0};
        std::snprintf(text, sizeof text, " function=0x%02X phy=%u", function, phy);
    } else {
        answer = {kSmpResponse, function, kUnknownFunction, 0};
        std::snprintf(text, sizeof text, " function=0x%02X", function);
    }
    // The transport leaves room for the CRC; the expander's answer carries it as zeros.
    answer.resize(answer.size() + 4, 0);
    const size_t n = reply != nullptr ? std::min<size_t>(answer.size(), h->din_xfer_len) : 0;
    if (n != 0)
        std::memcpy(reply, answer.data(), n);
    h->din_resid = static_cast<int32_t>(h->din_xfer_len - n);
    h->dout_resid = 0;
    h->driver_status = 0;
    h->transport_status = 0;
    h->device_status = 0;
    h->info = 0;
    h->response_len = 0;
    h->duration = 0;
    *describe = std::string(text) + " result=" + std::to_string(answer[2]);
    return 0;
}

} // namespace zsim
