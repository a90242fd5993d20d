// The topology commands' source of records: the library's phy, port, device and route queries on the
// command's handle, their records turned into the displays' views.
#include "frontend/brannic.h"
#include "frontend/topology.h"

#include <cstdlib>

namespace {

// Keeps a list handed out by the library in its field of gInstance, freeing the one it replaces.
template <typename Node> void keep(Node*& field, Node* list) {
    while (field != nullptr) {
        Node* next = field->next;
        std::free(field);
        field = next;
    }
    field = list;
}

// Keeps a list the query handed out and turns its nodes into views; listed: whether any list came back.
template <typename Node, typename View, typename Convert>
uint32_t takeList(uint32_t status, Node* list, Node*& field, std::vector<View>& out, bool& listed, Convert convert) {
    keep(field, list);
    out.clear();
    for (const Node* n = list; n != nullptr; n = n->next)
        out.push_back(convert(*n));
    listed = list != nullptr;
    return status;
}

std::vector<uint32_t> idsOf(const ZELKOR_PORT& port) {
    const uint32_t count = port.phyCount < ZELKOR_PORT_MAX_PHYS ? port.phyCount : ZELKOR_PORT_MAX_PHYS;
    return std::vector<uint32_t>(port.phyIds, port.phyIds + count);
}

} // namespace

PhyView phyViewOf(const ZELKOR_PHY& p) {
    PhyView v;
    v.sasHigh = p.sasAddressHigh;
    v.sasLow = p.sasAddressLow;
    v.phyId = p.phyId;
    v.virtualPhy = p.virtualPhy != 0;
    v.routingAttribute = p.routingAttribute;
    v.negotiatedRate = p.negotiatedLinkRate;
    v.zoneGroup = p.zoneGroup;
    v.enabled = p.enabled != 0;
    v.skarvel = p.skarvelEnabled != 0;
    v.attachedSasHigh = p.attachedSasAddressHigh;
    v.attachedSasLow = p.attachedSasAddressLow;
    v.attachedPhyId = p.attachedPhyId;
    v.deviceType = p.attachedDeviceType;
    const uint8_t flags[8] = {p.attachedSmpInitiator, p.attachedStpInitiator, p.attachedSspInitiator,
                              p.attachedSmpTarget,    p.attachedStpTarget,    p.attachedSspTarget,
                              p.attachedSataDevice,   p.attachedSataPortSelector};
    for (int i = 0; i < 8; ++i)
        v.capabilities[i] = flags[i] != 0;
    // The block's minimum and maximum nibbles: the programmed ones first, then the hardware ones.
    v.programmedMin = p.supportedMinLinkRate;
    v.hardwareMin = p.minLinkRate;
    v.programmedMax = p.supportedMaxLinkRate;
    v.hardwareMax = p.maxLinkRate;
    v.changeCount = p.phyChangeCount;
    v.invalidDwords = p.invalidDwordCount;
    v.disparityErrors = p.runningDisparityErrorCount;
    v.syncLosses = p.lossOfDwordSyncCount;
    v.resetProblems = p.phyResetProblemCount;
    return v;
}

PortView portViewOf(const ZELKOR_PORT& port) {
    return PortView{port.portNumber, port.sasAddressHigh, port.sasAddressLow, idsOf(port)};
}

DeviceView deviceViewOf(const ZELKOR_DEVICE& d) {
    return DeviceView{d.deviceType,          d.sasAddressHigh,       d.sasAddressLow, idsOf(d.devicePort),
                      d.parentSasAddressHigh, d.parentSasAddressLow, idsOf(d.parentPort)};
}

TopologySource libraryTopology() {
    TopologySource s;
    s.phys = [](std::vector<PhyView>& out, bool& listed) {
        ZELKOR_PHY_LIST* list = nullptr;
        const uint32_t status = zelkor_getPhys(gInstance.handle, &list);
        return takeList(status, list, gInstance.phyList, out, listed,
                        [](const ZELKOR_PHY_LIST& n) { return phyViewOf(n.phy); });
    };
    s.phy = [](uint32_t id, PhyView& out) {
        ZELKOR_PHY phy{};
        const uint32_t status = zelkor_getPhy(gInstance.handle, id, &phy);
        if (status == 0)
            out = phyViewOf(phy);
        return status;
    };
    s.ports = [](std::vector<PortView>& out, bool& listed) {
        ZELKOR_PORT_LIST* list = nullptr;
        const uint32_t status = zelkor_getPorts(gInstance.handle, &list);
        return takeList(status, list, gInstance.portList, out, listed,
                        [](const ZELKOR_PORT_LIST& n) { return portViewOf(n.port); });
    };
    s.devices = [](std::vector<DeviceView>& out, bool& listed) {
        ZELKOR_DEVICE_LIST* list = nullptr;
        const uint32_t status = zelkor_getDevices(gInstance.handle, &list);
        return takeList(status, list, gInstance.deviceList, out, listed,
                        [](const ZELKOR_DEVICE_LIST& n) { return deviceViewOf(n.device); });
    };
    s.routes = [](uint32_t phy, std::vector<std::pair<uint32_t, uint32_t>>& out, bool& listed) {
        ZELKOR_ROUTE_LIST* list = nullptr;
        const uint32_t status = zelkor_getRouteTable(gInstance.handle, phy, &list);
        return takeList(status, list, gInstance.routeList, out, listed, [](const ZELKOR_ROUTE_LIST& n) {
            return std::pair<uint32_t, uint32_t>(n.sasAddressHigh, n.sasAddressLow);
        });
    };
    return s;
}

uint32_t getPhy(const char* phyWord) {
    return showPhys(libraryTopology(), phyWord);
}

uint32_t getPort(const char* portWord) {
    return showPorts(libraryTopology(), portWord);
}

uint32_t getAttached() {
    return showAttached(libraryTopology());
}

uint32_t getRouteTable(const char* phyWord) {
    return showRouteTables(libraryTopology(), phyWord);
}

uint32_t getZoneGroup(const char* phyWord) {
    return showZoneGroups(libraryTopology(), phyWord);
}

uint32_t resetPhy(const char* phyWord) {
    return resetPhys(libraryTopology(), phyWord);
}
