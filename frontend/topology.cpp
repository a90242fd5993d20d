// Topology displays: the text of phys, ports and devices, the expander summary, zone permissions and resets.
#include "frontend/topology.h"

#include "frontend/handlerSupport.h"

#include <array>
#include <cstdarg>
#include <cstdio>

using namespace morv;

namespace {

constexpr uint32_t kStatusFailure = 1;
constexpr uint32_t kStatusInvalidPhy = 45;
constexpr uint32_t kStatusUnsupported = 29;
constexpr uint32_t kStatusNoExpanderList = 34;
constexpr uint32_t kZoneGroups = 256;
constexpr size_t kGroupSize = 4;

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    char text[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

constexpr std::array<const char*, 8> kCapabilityNames{"SMP Initiator", "STP Initiator", "SSP Initiator",
                                                      "SMP Target",    "STP Target",    "SSP Target",
                                                      "SATA Target",   "SATA Port Selector"};

const char* yesNo(bool value, const char* yes, const char* no) {
    return value ? yes : no;
}

} // namespace

const char* printLinkSpeed(uint32_t rate) {
    switch (rate) {
    case 8:
        return "1.5";
    case 9:
        return "3.0";
    case 10:
        return "6.0";
    case 11:
        return "12.0";
    default:
        return " - ";
    }
}

const char* printRoutingAttribute(uint32_t attribute) {
    static constexpr std::array<const char*, 3> kLetters{"D", "S", "T"};
    return attribute < kLetters.size() ? kLetters[attribute] : "";
}

const char* printDeviceType(uint32_t type) {
    switch (type) {
    case 0:
        return "None";
    case 1:
        return "End";
    case 2:
    case 3:
        return "Expander";
    default:
        return "Unknown";
    }
}

const char* printConnectorType(uint32_t connector) {
    switch (connector & 0xFF) {
    case 0:
        return "No Information";
    case 1:
        return "SAS 4x Receptacle";
    case 2:
        return "SAS Mini 4x Receptacle";
    case 16:
        return "SAS 4i Plug";
    case 17:
        return "SAS Mini 4i Plug";
    case 32:
        return "SAS Drive Receptacle";
    case 33:
        return "SATA Host Plug";
    case 34:
        return "SAS Drive Plug";
    case 35:
        return "SATA Device Plug";
    default:
        return "";
    }
}

std::string printCapabilities(const bool (&capabilities)[8]) {
    std::string text;
    for (size_t i = 0; i < kCapabilityNames.size(); ++i) {
        if (!capabilities[i])
            continue;
        if (!text.empty())
            text += std::string("\n") + std::string(30, ' ');
        text += kCapabilityNames[i];
    }
    return text.empty() ? "None" : text;
}

std::vector<std::string> phyGroups(const std::vector<uint32_t>& phys) {
    std::vector<std::string> groups;
    for (size_t i = 0; i < phys.size(); ++i) {
        if (i % kGroupSize == 0)
            groups.push_back(format("%02d", static_cast<int>(phys[i])));
        else
            groups.back() += format("-%02d", static_cast<int>(phys[i]));
    }
    return groups;
}

std::string phyLegend() {
    return "Phy -- An asterisk after the Phy number indicates Virtual phy.\n\nRA  -- Routing Attributes\nT   -- "
           "Table\nS   -- Subtractive\nD   -- Direct\n\nLS  -- Link Speed\n\nZGP -- Zone Group\nUZ  -- "
           "Unzoned\n\nE   -- Phy Enable\nSK  -- Skarvel Enable\nY    - Yes\nN    - No\n\n"
           "DT  -- Device Type\n\nCAP -- Capabilities\n    The capabilities column entries have following "
           "meanings:\n    1xxxxxxx - Attached SMP Initiator\n    x1xxxxxx - Attached STP Initiator\n    "
           "xx1xxxxx - Attached SSP Initiator\n    xxx1xxxx - Attached SMP Target\n    xxxx1xxx - Attached "
           "STP Target\n"
           "    xxxxx1xx - Attached SSP Target\n    xxxxxx1x - Attached SATA Target\n    xxxxxxx1 - Attached "
           "SATA Port Selector\n\n";
}

std::string phyTableHeading() {
    return "                Phy                                           Attached\n"
           "========================================== =========================================\n"
           "SAS Address       Phy RA   LS  ZGP  E   SK  SAS Address       Phy  DT       CAP\n"
           "------------------------------------------------------------------------------------\n";
}

std::string displayPhy(const PhyView& p) {
    const std::string zone = p.zoneGroup == ZONE_GROUP_UNZONED ? "UZ" : format("%03d", static_cast<int>(p.zoneGroup));
    std::string row = format("%08X:%08X %02d%c %1.1s   %-4.4s %3s  %c   %c   ", p.sasHigh, p.sasLow,
                             static_cast<int>(p.phyId), p.virtualPhy ? '*' : ' ',
                             printRoutingAttribute(p.routingAttribute), printLinkSpeed(p.negotiatedRate),
                             zone.c_str(), p.enabled ? 'Y' : 'N', p.skarvel ? 'Y' : 'N');
    if (p.deviceType != 0)
        row += format("%08X:%08X  %02d  %-8.8s", p.attachedSasHigh, p.attachedSasLow,
                      static_cast<int>(p.attachedPhyId), printDeviceType(p.deviceType));
    else
        row += std::string(35, ' ');
    row += ' ';
    for (bool c : p.capabilities)
        row += c ? '1' : '-';
    return row + "\n";
}

std::string displaySinglePhy(const PhyView& p) {
    const std::string rule = "===============================================\n";
    std::string text = "\n" + rule + "              Phy Information\n" + rule + "\n";
    text += format("                 SAS Address: %08x%08x\n", p.sasHigh, p.sasLow);
    text += format("              Phy Identifier: %02d\n", static_cast<int>(p.phyId));
    text += format("                       State: %s\n", yesNo(p.enabled, "Enabled", "Disabled"));
    text += format("                    Skarvel: %s\n", yesNo(p.skarvel, "Enabled", "Disabled"));
    text += format("                  Link Speed: %s Gb/s\n", printLinkSpeed(p.negotiatedRate));
    text += format("                 Virtual Phy: %s\n", yesNo(p.virtualPhy, "Yes", "No"));
    static constexpr std::array<const char*, 3> kRouting{"Direct", "Subtractive", "Table"};
    if (p.routingAttribute < kRouting.size())
        text += format("           Routing Attribute: %s\n", kRouting[p.routingAttribute]);
    text += format("          Minimum Link Speed: %s\n", printLinkSpeed(p.programmedMin));
    text += format("          Maximum Link Speed: %s\n", printLinkSpeed(p.programmedMax));
    text += format("Supported Minimum Link Speed: %s\n", printLinkSpeed(p.hardwareMin));
    text += format("Supported Maximum Link Speed: %s\n", printLinkSpeed(p.hardwareMax));
    text += format("            Phy Change Count: %d\n", static_cast<int>(p.changeCount));
    text += p.zoneGroup == ZONE_GROUP_UNZONED
                ? std::string("              SAS Zone Group: Zoning Inactive\n")
                : format("              SAS Zone Group: %03d\n", static_cast<int>(p.zoneGroup));
    text += "\n------------ Attached Device Information ------\n";
    if (p.deviceType != 0) {
        text += format("        Attached SAS Address: %08x%08x\n", p.attachedSasHigh, p.attachedSasLow);
        text += format("     Attached Phy Identifier: %02d\n", static_cast<int>(p.attachedPhyId));
    } else {
        text += "        Attached SAS Address:  -               \n";
        text += "     Attached Phy Identifier:  - \n";
    }
    text += format("        Attached Device Type: %s\n", printDeviceType(p.deviceType));
    text += "Attached Device Capabilities: ";
    text += printCapabilities(p.capabilities);
    text += "\n------------- Error Statistics ----------------\n";
    text += format("                Invalid Dword Count: %u\n", p.invalidDwords);
    text += format("      Running Disparity Error Count: %u\n", p.disparityErrors);
    text += format("Loss of Dword Synchronization Count: %u\n", p.syncLosses);
    text += format("            Phy Reset Problem Count: %u\n", p.resetProblems);
    return text;
}

std::string portHeading() {
    const std::string rule(80, '-');
    return "\n" + rule + "\nPort Id    Number of Phy(s)        Attached SAS Address            Phy Id(s)\n" + rule + "\n";
}

std::string displayPort(const PortView& port) {
    const std::vector<std::string> groups = phyGroups(port.phys);
    if (groups.empty())
        return "";
    std::string text = format(" %02d            %02d                   %08X:%08X             %-11s\n",
                              static_cast<int>(port.portId), static_cast<int>(port.phys.size()), port.sasHigh,
                              port.sasLow, groups[0].c_str());
    for (size_t i = 1; i < groups.size(); ++i)
        text += std::string(66, ' ') + groups[i] + "\n";
    return text;
}

std::string deviceHeading() {
    return "\n                   Device                                     Parent\n"
           "=============================================   ================================\n"
           "Type            SAS Address       Phys          SAS Address       Phys\n" +
           std::string(80, '-') + "\n";
}

std::string displayDevice(const DeviceView& d) {
    const std::vector<std::string> own = phyGroups(d.ownPhys);
    const std::vector<std::string> parent = phyGroups(d.parentPhys);
    if (own.empty() || parent.empty())
        return "";
    std::string text = format("%-9.9s    %08X:%08X     %-11.11s  %08X:%08X  %-11.11s\n", printDeviceType(d.deviceType),
                              d.sasHigh, d.sasLow, own[0].c_str(), d.parentSasHigh, d.parentSasLow,
                              parent[0].c_str());
    // Later groups go in step, for as long as both lists have one.
    for (size_t i = 1; i < own.size() && i < parent.size(); ++i)
        text += format("                                   %-11s                     %-11s\n", own[i].c_str(),
                       parent[i].c_str());
    return text;
}

uint32_t getExpanderInfo() {
    const char* fn = "getExpanderInfo";
    FunctionTrace functionTrace(fn);
    if (gInstance.expanderList == nullptr) {
        logOnly(fn, ZELKOR_LOG_ERROR, "No Expander seems to be attached to the Host machine");
        return kStatusNoExpanderList;
    }
    const uint32_t interface = gInstance.interfaceCode;
    std::string text;
    for (const ZELKOR_EXPANDER_LIST* node = gInstance.expanderList; node != nullptr; node = node->next) {
        const ZELKOR_EXPANDER& e = node->expander;
        text += "\n\n";
        text += std::string("            Expander: ") + fieldText(e.name) + " " + fieldText(e.revision) + "\n";
        text += format("         SAS Address: %08X:%08X\n", e.sasAddressHigh, e.sasAddressLow);
        if (e.enclosureIdHigh != 0 || e.enclosureIdLow != 0)
            text += format("Enclosure Logical Id: %08X:%08X\n", e.enclosureIdHigh, e.enclosureIdLow);
        else
            text += "Enclosure Logical Id: Unknown\n";
        const std::string ip = fieldText(e.ipAddress);
        if (interface == ZELKOR_INTERFACE_TCP)
            text += std::string("          IP Address: ") + fieldText(gClParser.addressText) + "\n";
        else if ((interface == ZELKOR_INTERFACE_SAS || interface == ZELKOR_INTERFACE_CLI) && ip != "NotConfigured")
            text += "          IP Address: " + ip + "\n";
        if (e.type != ZELKOR_CHIP_PALX || interface == ZELKOR_INTERFACE_NONE) {
            text += format("Component Identifier: 0x%04X\n", e.productId);
            text += format("  Component Revision: 0x%02X\n", e.revisionCode);
        }
    }
    consoleText(text);
    return 0;
}

uint32_t getZonePermissions(const char* groupWord) {
    const char* fn = "getZonePermissions";
    FunctionTrace functionTrace(fn);
    uint32_t group = TOPOLOGY_ALL;
    if (groupWord != nullptr && (!parseDecimalWord(groupWord, group) || (group >= kZoneGroups && group != TOPOLOGY_ALL))) {
        reportError(fn, "Invalid Zone Group\n");
        return kStatusFailure;
    }
    const bool all = group == TOPOLOGY_ALL;
    for (uint32_t g = all ? 0 : group; g < kZoneGroups; ++g) {
        uint32_t row[8] = {};
        const uint32_t status = zelkor_getZonePermissions(gInstance.handle, g, row);
        if (status != 0) {
            if (status == kStatusUnsupported || !all)
                displayZelkorStatus(status);
            return status;
        }
        std::string text = format("\nZone Group [%u] Permissions:\n", g);
        for (uint32_t bit = 0; bit < kZoneGroups; ++bit)
            if ((row[bit / 32] >> (bit % 32)) & 1)
                text += format("Zone Group %u\n", bit);
        consoleText(text);
        if (!all)
            break;
    }
    return 0;
}

uint32_t phyReset(uint32_t phy) {
    const char* fn = "phyReset";
    FunctionTrace functionTrace(fn);
    if (phy >= TOPOLOGY_PHY_LIMIT) {
        reportError(fn, "Invalid Phy ID.\n");
        return kStatusFailure;
    }
    const uint32_t status = zelkor_resetPhy(gInstance.handle, phy);
    if (status == 0) {
        consoleText(format("Phy [%u] reset successful.\n", phy));
        return 0;
    }
    if (status == kStatusInvalidPhy) {
        reportError(fn, "Invalid Phy ID.\n");
        return kStatusFailure;
    }
    displayZelkorStatus(status);
    reportError(fn, format("Unable to Reset Phy [%u]\n", phy).c_str());
    return kStatusFailure;
}

uint32_t resetExpander(uint8_t kind) {
    FunctionTrace functionTrace("resetExpander");
    const uint32_t status = zelkor_resetExpander(gInstance.handle, kind);
    if (status != 0)
        displayZelkorStatus(status);
    return status;
}
