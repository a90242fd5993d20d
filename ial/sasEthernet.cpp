// In-band reading of an expander's Ethernet settings from its Ethernet configuration page (and, for
// family Quenza, its MAC address page), or from VPD page 0x85 when DHCP is on.
#include "ial/sasModule.h"

#include <cstdio>

namespace ialsas {

// ---- Ethernet settings ----

struct EthernetFamily {
    const char* function;
    uint16_t pageId;
    uint16_t macPageId; // 0: the MAC address is in the Ethernet page
    const char* dataFailed;
    const char* headerFailed;
    uint32_t headerFailedLevel;
    const char* notFoundLog;
    const char* notFoundNotice;
};

constexpr EthernetFamily kEthernetOstrel{
    "zelkor_ial_fillIpAddr",
    MFG_PAGE_ETHERNET_OSTREL,
    0,
    "Unable to read ethernet data **** FAILED ****",
    "Unable to read ethernet page Header**** FAILED ****",
    ZELKOR_LOG_ERROR,
    "Ethernet Configuration Page (0xFF10) not found in Flash ",
    "\n\nWARN: Ethernet Configuration Page (0xFF10) not found in flash",
};

constexpr EthernetFamily kEthernetQuenza{
    "zelkor_ial_fillIpAddrGen3",
    MFG_PAGE_ETHERNET_QUENZA,
    MFG_PAGE_MAC_ADDRESS_QUENZA,
    "Unable to read ethernet data**** FAILED ****",
    "Unable to read ethernet page Header **** FAILED ****",
    ZELKOR_LOG_WARN,
    "Ethernet Configuration Page (0xFF27) not found in Flash",
    "\n\nWARN: Ethernet Configuration Page (0xFF27) not found in flash",
};

// Settings that could not be read are shown as unknown.
void markEthernetUnknown(ZELKOR_EXPANDER& e) {
    setText(e.ipAddress, kUnknown);
    setText(e.subnetMask, kUnknown);
    setText(e.gateway, kUnknown);
    setText(e.macAddress, kUnknown);
    e.dhcp = 0xFFFFFFFFu;
}

template <size_t N> void dottedQuad(char (&field)[N], const uint8_t* at) {
    std::snprintf(field, N, "%u.%u.%u.%u", at[0], at[1], at[2], at[3]);
}

// Length of a page from its header: 0 when the header could not be read whole or is of another page.
uint32_t pageLength(const SAS_INSTANCE& inst, uint16_t pageId, bool* readOk) {
    std::array<uint8_t, kPageHeaderSize> header{};
    *readOk = readWhole(inst, SAS_BUFFER_CONFIG_PAGE, header.data(), header.size(), pageId, 1) == 0;
    return *readOk ? static_cast<uint32_t>(header[0] | (header[1] << 8)) : 0;
}

// IP text of a VPD 0x85 reply: the first network address, at most 15 characters. False when the reply,
// as received and as its page length says, does not hold that much of the address.
bool vpdAddressText(const uint8_t* reply, uint32_t received, char (&out)[16]) {
    out[0] = '\0';
    if (received < kVpdAddressAt)
        return false;
    const uint32_t pageEnd = 4 + ((static_cast<uint32_t>(reply[2]) << 8) | reply[3]);
    const uint32_t addressLength = (static_cast<uint32_t>(reply[6]) << 8) | reply[7];
    const uint32_t wanted = addressLength < kVpdAddressLength ? addressLength : kVpdAddressLength;
    if (kVpdAddressAt + wanted > received || kVpdAddressAt + wanted > pageEnd)
        return false;
    size_t n = 0;
    while (n < wanted && reply[kVpdAddressAt + n] != '\0') {
        out[n] = static_cast<char>(reply[kVpdAddressAt + n]);
        ++n;
    }
    out[n] = '\0';
    return true;
}

ZELKOR_STATUS fillEthernet(SAS_INSTANCE& inst, const EthernetFamily& family) {
    const char* fn = family.function;
    ZELKOR_INSTANCE* handle = inst.handle;
    ZELKOR_EXPANDER& e = inst.expander;
    Trace trace(handle, fn);
    e.ethernetPageLength = 0;

    LOG_INFO(handle, fn, "Reading Ethernet Config page header");
    bool headerRead = false;
    const uint32_t length = pageLength(inst, family.pageId, &headerRead);
    bool macHeaderRead = true;
    const uint32_t macLength = family.macPageId != 0 ? pageLength(inst, family.macPageId, &macHeaderRead) : 0;
    // A page that cannot hold the settings, or that the cache cannot hold, is treated as missing.
    bool missing = !headerRead || length < kEthernetPageMinimum || length >= kEthernetCacheSize;
    if (family.macPageId != 0)
        missing = missing || !macHeaderRead || macLength < kMacPageMinimum || macLength >= kEthernetCacheSize;

    if (missing) {
        if (gFillIpAddrFlag != 0) {
            logLine(handle, fn, family.headerFailedLevel, "%s", family.headerFailed);
            if (handle->options == nullptr || handle->options->force == 0) {
                LOG_WARN(handle, fn, "%s", family.notFoundLog);
                say("%s", family.notFoundNotice);
            }
        } else {
            LOG_WARN(handle, fn, "Unable to read Ethernet parameters as Manufacturing Region is blank.");
        }
        markEthernetUnknown(e);
        return 0;
    }

    LOG_INFO(handle, fn, "Reading Ethernet Config page data");
    std::array<uint8_t, kEthernetCacheSize> page{};
    std::array<uint8_t, kEthernetCacheSize> macPage{};
    ZELKOR_STATUS status = readWhole(inst, SAS_BUFFER_CONFIG_PAGE, page.data(), length, family.pageId, 1);
    if (status == 0 && family.macPageId != 0)
        status = readWhole(inst, SAS_BUFFER_CONFIG_PAGE, macPage.data(), macLength, family.macPageId, 1);
    if (status != 0) {
        LOG_ERROR(handle, fn, "%s", family.dataFailed);
        markEthernetUnknown(e);
        return status;
    }

    const uint32_t dhcp = bigEndian32(&page[kEthernetDhcpAt]);
    char ip[16] = {};
    char mask[16] = {};
    char gateway[16] = {};
    if (dhcp == 0) {
        dottedQuad(ip, &page[kEthernetIpAt]);
        dottedQuad(mask, &page[kEthernetMaskAt]);
        dottedQuad(gateway, &page[kEthernetGatewayAt]);
    } else {
        LOG_INFO(handle, fn, "Reading VPD page");
        std::array<uint8_t, SAS_INQUIRY_REPLY_LENGTH> reply{};
        uint32_t received = 0;
        status =
            zelkor_ial_inquiryVpd(inst.device, VPD_MANAGEMENT_NETWORK_ADDRESSES, reply.data(), &received);
        if (status == 0 && !vpdAddressText(reply.data(), received, ip))
            status = kShortRead;
        if (status != 0) {
            LOG_ERROR(handle, fn, "Unable to read VPD page **** FAILED ****");
            markEthernetUnknown(e);
            return status;
        }
        setText(mask, kUnknown);
        setText(gateway, kUnknown);
    }
    const uint8_t* mac = family.macPageId != 0 ? &macPage[kMacPageMacAt] : &page[kEthernetMacAt];
    std::snprintf(e.macAddress, sizeof e.macAddress, "%u.%u.%u.%u.%u.%u", mac[0], mac[1], mac[2], mac[3],
                  mac[4], mac[5]);
    setText(e.ipAddress, ip);
    setText(e.subnetMask, mask);
    setText(e.gateway, gateway);
    e.dhcp = dhcp;
    e.ethernetPageLength = length;
    std::memcpy(e.ethernetPage, page.data(), length);
    LOG_INFO(handle, fn, "IP Address = %s", e.ipAddress);
    LOG_INFO(handle, fn, "Subnet Mask = %s", e.subnetMask);
    LOG_INFO(handle, fn, "Gateway = %s", e.gateway);
    LOG_INFO(handle, fn, "MAC Address = %s", e.macAddress);
    LOG_INFO(handle, fn, dhcp != 0 ? "DHCP Status = ENABLED" : "DHCP Status = DISABLED");
    return 0;
}

// Family Ostrel: page 0xFF10 holds the settings and the MAC address.
ZELKOR_STATUS zelkor_ial_fillIpAddr(SAS_INSTANCE& inst) {
    return fillEthernet(inst, kEthernetOstrel);
}

// Family Quenza: page 0xFF27 holds the settings, page 0xFE05 the MAC address.
ZELKOR_STATUS zelkor_ial_fillIpAddrQuenza(SAS_INSTANCE& inst) {
    return fillEthernet(inst, kEthernetQuenza);
}

ZELKOR_STATUS zelkor_ial_getExpanderIpAddress(SAS_INSTANCE& inst) {
    if (inst.handle == nullptr)
        return kInvalidArguments;
    Trace trace(inst.handle, "zelkor_ial_getExpanderIpAddress");
    switch (inst.expander.type) {
    case ZELKOR_CHIP_OSTREL:
    case ZELKOR_CHIP_OSTREL_SWITCH:
        zelkor_ial_fillIpAddr(inst);
        break;
    case ZELKOR_CHIP_QUENZA:
    case ZELKOR_CHIP_QUENZA_DAX:
        zelkor_ial_fillIpAddrQuenza(inst);
        break;
    default:
        break;
    }
    return 0;
}

// Register 0x424000C0 bit 6 says the expander has no IP address configured; otherwise the Ethernet page
// is read.
void readIpSettings(SAS_INSTANCE& inst) {
    uint32_t ipStatus = 0;
    if (readWord(inst, SAS_BUFFER_REGISTER, IP_STATUS_REG, &ipStatus) != 0) {
        markEthernetUnknown(inst.expander);
        return;
    }
    if (ipStatus & IP_NOT_CONFIGURED)
        setText(inst.expander.ipAddress, "NotConfigured");
    else
        zelkor_ial_getExpanderIpAddress(inst);
}

} // namespace ialsas
