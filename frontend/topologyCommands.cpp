// The topology commands: their argument words, the queries they make and what they show.
#include "frontend/handlerSupport.h"
#include "frontend/topology.h"

#include <cstdio>

using namespace morv;

namespace {

constexpr uint32_t kStatusFailure = 1;
constexpr uint32_t kStatusRouteTableOff = 47;
constexpr uint32_t kStatusNotTableRouted = 48;
constexpr uint32_t kRoutingTable = 2;
constexpr uint32_t kZoneGroupLimit = 256;

constexpr const char* kInvalidPhy = "Invalid Phy ID.\n";
constexpr const char* kNoPhyList = "Unable to retrieve Phy list.\n";

// The argument word of a command: absent means all; a word that is not a decimal number of 32 bits is an
// invalid id.
struct Selection {
    bool valid;
    bool all;
    uint32_t id;
};

Selection select(const char* word, bool allowAllWord) {
    if (word == nullptr)
        return {true, true, TOPOLOGY_ALL};
    uint32_t id = 0;
    if (!parseDecimalWord(word, id))
        return {false, false, 0};
    return {true, allowAllWord && id == TOPOLOGY_ALL, id};
}

void print(const char* fmt, unsigned a) {
    char text[128];
    std::snprintf(text, sizeof text, fmt, a);
    consoleText(text);
}

// The phy list, or a status after telling why there is none.
uint32_t fetchPhys(const TopologySource& source, const char* function, std::vector<PhyView>& phys) {
    bool listed = false;
    const uint32_t status = source.phys(phys, listed);
    if (status != 0) {
        displayZelkorStatus(status);
        return status;
    }
    if (!listed) {
        reportError(function, kNoPhyList);
        return kStatusFailure;
    }
    return 0;
}

} // namespace

uint32_t showPhys(const TopologySource& source, const char* phyWord) {
    const char* fn = "getPhy";
    FunctionTrace functionTrace(fn);
    const Selection s = select(phyWord, false);
    if (!s.valid) {
        reportError(fn, kInvalidPhy);
        return kStatusFailure;
    }
    if (!s.all) {
        PhyView phy;
        const uint32_t status = source.phy(s.id, phy);
        if (status != 0) {
            displayZelkorStatus(status);
            return status;
        }
        consoleText(displaySinglePhy(phy));
        return 0;
    }
    std::vector<PhyView> phys;
    if (const uint32_t status = fetchPhys(source, fn, phys); status != 0)
        return status;
    std::string text = std::string("\n") + phyLegend() + phyTableHeading();
    for (const PhyView& phy : phys)
        text += displayPhy(phy);
    consoleText(text);
    return 0;
}

uint32_t showPorts(const TopologySource& source, const char* portWord) {
    const char* fn = "getPort";
    FunctionTrace functionTrace(fn);
    const Selection s = select(portWord, true);
    if (!s.valid) {
        reportError(fn, "Invalid Port ID\n");
        return kStatusFailure;
    }
    std::vector<PortView> ports;
    bool listed = false;
    const uint32_t status = source.ports(ports, listed);
    if (status != 0) {
        displayZelkorStatus(status);
        return status;
    }
    if (!listed) {
        reportError(fn, "Unable to retrieve Port list.\n");
        return kStatusFailure;
    }
    std::string text = portHeading();
    bool matched = false;
    for (const PortView& port : ports) {
        if (!s.all && port.portId != s.id)
            continue;
        matched = true;
        text += displayPort(port);
    }
    consoleText(text);
    if (!s.all && !matched && s.id != 0) {
        reportError(fn, "Invalid Port ID\n");
        return kStatusFailure;
    }
    return 0;
}

uint32_t showAttached(const TopologySource& source) {
    const char* fn = "getAttached";
    FunctionTrace functionTrace(fn);
    std::vector<DeviceView> devices;
    bool listed = false;
    const uint32_t status = source.devices(devices, listed);
    if (status != 0) {
        displayZelkorStatus(status);
        return kStatusFailure;
    }
    if (!listed) {
        reportError(fn, "Unable To retrieve Device List.\n");
        return kStatusFailure;
    }
    std::string text = deviceHeading();
    for (const DeviceView& device : devices)
        text += displayDevice(device);
    consoleText(text);
    return 0;
}

uint32_t showRouteTables(const TopologySource& source, const char* phyWord) {
    const char* fn = "getRouteTable";
    FunctionTrace functionTrace(fn);
    const Selection s = select(phyWord, true);
    if (!s.valid) {
        reportError(fn, kInvalidPhy);
        return kStatusFailure;
    }
    std::vector<PhyView> phys;
    if (const uint32_t status = fetchPhys(source, fn, phys); status != 0)
        return status;
    bool matched = false;
    for (const PhyView& phy : phys) {
        if (!s.all && phy.phyId != s.id)
            continue;
        matched = true;
        consoleText(std::string("\n") + std::string(80, '*') + "\n\n");
        if (phy.routingAttribute != kRoutingTable) {
            if (!s.all) {
                displayZelkorStatus(kStatusNotTableRouted);
                return kStatusNotTableRouted;
            }
            print("Route Table for Phy %d:\n", phy.phyId);
            displayZelkorStatus(kStatusNotTableRouted);
            continue;
        }
        std::vector<std::pair<uint32_t, uint32_t>> routes;
        bool listed = false;
        const uint32_t status = source.routes(phy.phyId, routes, listed);
        if (status == kStatusRouteTableOff) {
            displayZelkorStatus(status);
            return status;
        }
        if (status != 0) {
            if (!s.all) {
                displayZelkorStatus(status);
                return status;
            }
            print("Route Table for Phy %d:\n", phy.phyId);
            displayZelkorStatus(status);
            continue;
        }
        if (!listed) {
            reportError(fn, "Unable to retrieve Route Table list.\n");
            return status;
        }
        print("Route Table for Phy %d:\n", phy.phyId);
        std::string text = "\n";
        for (const auto& [high, low] : routes) {
            char line[32];
            std::snprintf(line, sizeof line, "(%08X:%08X)\n", high, low);
            text += line;
        }
        consoleText(text);
    }
    if (!s.all && !matched && s.id != 0) {
        reportError(fn, kInvalidPhy);
        return kStatusFailure;
    }
    return 0;
}

uint32_t showZoneGroups(const TopologySource& source, const char* phyWord) {
    const char* fn = "getZoneGroup";
    FunctionTrace functionTrace(fn);
    const Selection s = select(phyWord, false);
    if (!s.valid) {
        reportError(fn, kInvalidPhy);
        return kStatusFailure;
    }
    std::vector<PhyView> phys(1);
    if (!s.all) {
        if (const uint32_t status = source.phy(s.id, phys[0]); status != 0) {
            displayZelkorStatus(status);
            return status;
        }
    } else if (const uint32_t status = fetchPhys(source, fn, phys); status != 0) {
        return status;
    }
    std::string text = "\n";
    for (const PhyView& phy : phys) {
        char line[64];
        const bool unzoned = s.all ? phy.zoneGroup == ZONE_GROUP_UNZONED : phy.zoneGroup >= kZoneGroupLimit;
        if (unzoned)
            std::snprintf(line, sizeof line, "Phy %02d -> Unzoned\n", static_cast<int>(phy.phyId));
        else
            std::snprintf(line, sizeof line, "Phy %02d -> Zone Group %d\n", static_cast<int>(phy.phyId),
                          static_cast<int>(phy.zoneGroup));
        text += line;
    }
    consoleText(text);
    return 0;
}

uint32_t resetPhys(const TopologySource& source, const char* phyWord) {
    const char* fn = "resetPhy";
    FunctionTrace functionTrace(fn);
    uint32_t id = 0;
    if (phyWord == nullptr || !parseDecimalWord(phyWord, id)) {
        reportError(fn, kInvalidPhy);
        return kStatusFailure;
    }
    if (id != TOPOLOGY_ALL)
        return phyReset(id);
    std::vector<PhyView> phys;
    if (fetchPhys(source, fn, phys) != 0)
        return kStatusFailure;
    consoleText("\n");
    // Any failed reset fails the whole request.
    uint32_t result = 0;
    for (const PhyView& phy : phys)
        if (phy.phyId < TOPOLOGY_PHY_LIMIT && !phy.virtualPhy && phyReset(phy.phyId) != 0)
            result = kStatusFailure;
    return result;
}
