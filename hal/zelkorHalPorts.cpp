// Ports (the physical phys grouped by attached SAS address) and attached devices (each with the expander
// phys that reach it and its own phys on those links), for every family through its HalTopology record.
#include "hal/zelkorHalTopologyAccess.h"

#include <array>
#include <cstring>

namespace {

constexpr uint32_t kWordBytes = 4;
constexpr uint32_t kPortBlockBytes = 24;   // w0 .. w5
constexpr uint32_t kDeviceBlockBytes = 8;  // w0, w1

uint32_t le32(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
           (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

uint32_t attachedType(uint32_t w1) {
    return (w1 >> 28) & 7u;
}

uint8_t blockPhyId(uint32_t w0) {
    return static_cast<uint8_t>(w0 >> 16);
}

bool sameAddress(const ZELKOR_PORT& port, uint32_t low, uint32_t high) {
    return port.sasAddressLow == low && port.sasAddressHigh == high;
}

// The device record of what one expander phy found.
ZELKOR_DEVICE deviceOf(const ZELKOR_PHY& phy) {
    ZELKOR_DEVICE d{};
    d.sasAddressLow = phy.attachedSasAddressLow;
    d.sasAddressHigh = phy.attachedSasAddressHigh;
    d.deviceType = phy.attachedDeviceType;
    d.attachedDeviceType = phy.attachedDeviceType;
    d.negotiatedLinkRate = phy.negotiatedLinkRate;
    d.smpInitiator = phy.attachedSmpInitiator;
    d.stpInitiator = phy.attachedStpInitiator;
    d.sspInitiator = phy.attachedSspInitiator;
    d.sataDevice = phy.attachedSataDevice;
    d.smpTarget = phy.attachedSmpTarget;
    d.stpTarget = phy.attachedStpTarget;
    d.sspTarget = phy.attachedSspTarget;
    d.sataPortSelector = phy.attachedSataPortSelector;
    d.parentSasAddressLow = phy.sasAddressLow;
    d.parentSasAddressHigh = phy.sasAddressHigh;
    return d;
}

bool listed(const ZELKOR_DEVICE_LIST* list, const ZELKOR_DEVICE& d) {
    for (; list != nullptr; list = list->next)
        if (list->device.sasAddressLow == d.sasAddressLow && list->device.sasAddressHigh == d.sasAddressHigh)
            return true;
    return false;
}

// Pairs ports with devices in list order and fills each matched device's phy sets; the port list is
// released. Returns the first failed attached-phy read, else 0.
ZELKOR_STATUS pairPorts(TopologyAccess& io, ZELKOR_PORT_LIST* port, ZELKOR_DEVICE_LIST* device) {
    const HalTopology& t = io.topology();
    ZELKOR_STATUS first = 0;
    while (port != nullptr && device != nullptr) {
        ZELKOR_DEVICE& d = device->device;
        if (!sameAddress(port->port, d.sasAddressLow, d.sasAddressHigh)) {
            ZELKOR_PORT_LIST* next = port->next;
            std::free(port);
            port = next;
            continue;
        }
        d.parentPort = port->port;
        io.text(ZELKOR_LOG_INFO, "Finding the number of device Phys attached to the parent Phys");
        for (uint32_t i = 0; i < d.parentPort.phyCount && i < ZELKOR_PORT_MAX_PHYS; ++i) {
            uint32_t word = 0;
            const uint32_t address = phyRegister(t, t.attachedPhyBase, d.parentPort.phyIds[i]);
            if (const ZELKOR_STATUS status = io.readWord(address, word); status != 0) {
                if (first == 0)
                    first = status;
                continue;
            }
            // A full port or a repeated id adds nothing, which is all a refusal means here.
            (void)addPhyToPort(&d.devicePort, static_cast<int32_t>(word >> 24));
        }
        d.devicePhyCount = d.devicePort.phyCount;
        io.log(ZELKOR_LOG_INFO, "Number of Phys attached to parent is %d ", static_cast<int>(d.devicePhyCount));
        device = device->next;
    }
    freeNodes(port);
    return first;
}

} // namespace

ZELKOR_STATUS addPhyToPort(ZELKOR_PORT* port, int32_t phy) {
    if (port == nullptr)
        return HAL_INVALID_ARGUMENT;
    if (port->phyCount > ZELKOR_PORT_MAX_PHYS - 1)
        return PORT_FULL;
    uint32_t at = 0;
    for (; at < port->phyCount; ++at) {
        if (port->phyIds[at] == phy)
            return PORT_HOLDS_PHY;
        if (port->phyIds[at] > phy)
            break;
    }
    std::memmove(&port->phyIds[at + 1], &port->phyIds[at], port->phyCount - at);
    port->phyIds[at] = static_cast<uint8_t>(phy);
    ++port->phyCount;
    return 0;
}

ZELKOR_STATUS addNodeToDeviceList(ZELKOR_DEVICE_LIST** head, const ZELKOR_DEVICE* rec) {
    if (rec == nullptr || head == nullptr)
        return HAL_INVALID_ARGUMENT;
    ZELKOR_DEVICE_LIST* node = appendNode(head);
    if (node == nullptr)
        return HAL_NO_MEMORY;
    node->device = *rec;
    return 0;
}

ZELKOR_STATUS halGetPorts(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, ZELKOR_PORT_LIST** out) {
    const char* fn = "zelkor_hal_getPorts";
    const HalTopology& t = *f.topology;
    ZELKOR_REGION* window = nullptr;
    if (hi != nullptr && getHALInstance(hi) != nullptr && out == nullptr)
        return HAL_INVALID_ARGUMENT;
    if (const ZELKOR_STATUS status = beginTopology(f, hi, fn, HAL_INVALID_HANDLE, &window); status != 0)
        return status;
    TopologyAccess io(f, hi, window, fn);
    uint32_t phys = 0;
    if (const ZELKOR_STATUS status = readPhyCount(io, phys); status != 0)
        return status;
    io.log(ZELKOR_LOG_INFO, "Expander has %d Phys", static_cast<int>(phys));
    *out = nullptr;
    ZELKOR_PORT_LIST* list = nullptr;
    uint32_t ports = 0;
    const uint32_t physical = physicalPhys(t, phys);
    for (uint32_t p = 0; p < physical; ++p) {
        std::array<uint8_t, kPortBlockBytes> block{};
        if (const ZELKOR_STATUS status = io.read(phyRegister(t, t.blockBase, p), block.data(), kPortBlockBytes);
            status != 0) {
            freeNodes(list);
            return status;
        }
        if (attachedType(le32(&block[4])) == 0)
            continue;
        const uint8_t id = blockPhyId(le32(&block[0]));
        const uint32_t high = le32(&block[16]);
        const uint32_t low = le32(&block[20]);
        io.log(ZELKOR_LOG_INFO, t.portAttached, high, low);
        ZELKOR_PORT_LIST* port = list;
        while (port != nullptr && !sameAddress(port->port, low, high))
            port = port->next;
        if (port != nullptr) {
            const ZELKOR_STATUS added = addPhyToPort(&port->port, id);
            if (added == PORT_FULL) {
                if (t.portFullLogged) {
                    io.log(ZELKOR_LOG_ERROR, "Unable to Add %d Phy to %d port **** FAILED ****", id,
                           static_cast<int>(port->port.portNumber));
                    io.text(ZELKOR_LOG_ERROR, "Phy number Beyound Limit **** FAILED ****");
                }
                *out = list;
                return 0;
            }
            // A repeated id is already held: the port stays as it is and the walk goes on.
            continue;
        }
        ZELKOR_PORT_LIST* node = appendNode(&list);
        if (node == nullptr) {
            io.log(ZELKOR_LOG_ERROR, "Unable to allocate %d bytes of Memory **** FAILED ****",
                   static_cast<int>(sizeof(ZELKOR_PORT_LIST)));
            freeNodes(list);
            return HAL_NO_MEMORY;
        }
        node->port.portNumber = ports++;
        node->port.sasAddressLow = low;
        node->port.sasAddressHigh = high;
        node->port.phyCount = 1;
        node->port.phyIds[0] = id;
    }
    if (list == nullptr) {
        io.text(ZELKOR_LOG_INFO, "No target is present");
        return HAL_NOTHING_ATTACHED;
    }
    *out = list;
    return 0;
}

ZELKOR_STATUS halGetDevices(const HalFamily& f, ZELKOR_HAL_INSTANCE* hi, ZELKOR_DEVICE_LIST** out) {
    const char* fn = "zelkor_hal_getDevices";
    const HalTopology& t = *f.topology;
    ZELKOR_REGION* window = nullptr;
    if (hi != nullptr && getHALInstance(hi) != nullptr && out == nullptr)
        return HAL_INVALID_ARGUMENT;
    if (const ZELKOR_STATUS status = beginTopology(f, hi, fn, HAL_INVALID_HANDLE, &window,
                                                   "Unable to identify the region **** FAILED ****", true);
        status != 0)
        return status;
    TopologyAccess io(f, hi, window, fn);
    io.useDeviceTexts();
    uint32_t phys = 0;
    if (const ZELKOR_STATUS status = readPhyCount(io, phys); status != 0)
        return status;
    io.log(ZELKOR_LOG_INFO, "Expander has #%d phys", static_cast<int>(phys));
    *out = nullptr;
    const HAL_VECTORS& vectors = hi->handle->halVectors;
    ZELKOR_DEVICE_LIST* list = nullptr;
    const uint32_t physical = physicalPhys(t, phys);
    for (uint32_t p = 0; p < physical; ++p) {
        std::array<uint8_t, kDeviceBlockBytes> block{};
        if (const ZELKOR_STATUS status =
                io.read(phyRegister(t, t.blockBase, p), block.data(), kDeviceBlockBytes);
            status != 0) {
            freeNodes(list);
            return status;
        }
        if (attachedType(le32(&block[4])) == 0)
            continue;
        io.text(ZELKOR_LOG_INFO, "Reading the Phy information");
        if (t.flagsDevicesCommand)
            gBoolGetDevicesCommand = 1;
        const uint32_t asked = t.devicesPassBlockPhyId ? blockPhyId(le32(&block[0])) : p;
        ZELKOR_PHY phy{};
        const ZELKOR_STATUS status = vectors.zelkor_hal_getPhy != nullptr
                                         ? vectors.zelkor_hal_getPhy(hi, asked, &phy)
                                         : HAL_NOT_APPLICABLE;
        if (status != 0) {
            io.text(ZELKOR_LOG_ERROR, t.phyInfoFailed);
            freeNodes(list);
            return status;
        }
        const ZELKOR_DEVICE device = deviceOf(phy);
        io.log(ZELKOR_LOG_INFO, "Attached Expanders SAS Address 0x%08x:%08x", device.sasAddressHigh,
               device.sasAddressLow);
        io.log(ZELKOR_LOG_INFO, "Parent SAS Address 0x%08x:%08x", device.parentSasAddressHigh,
               device.parentSasAddressLow);
        if (listed(list, device))
            continue;
        if (addNodeToDeviceList(&list, &device) != 0) {
            io.log(ZELKOR_LOG_ERROR, t.deviceAllocFailed, static_cast<int>(sizeof(ZELKOR_DEVICE_LIST)));
            freeNodes(list);
            return HAL_NO_MEMORY;
        }
    }
    if (list == nullptr) {
        io.text(ZELKOR_LOG_ERROR, "No target is attached **** FAILED ****");
        return HAL_NOTHING_ATTACHED;
    }
    *out = list;
    io.text(ZELKOR_LOG_INFO, "Reading the Port List");
    ZELKOR_PORT_LIST* ports = nullptr;
    const ZELKOR_STATUS portStatus =
        vectors.zelkor_hal_getPorts != nullptr ? vectors.zelkor_hal_getPorts(hi, &ports) : HAL_NOT_APPLICABLE;
    if (portStatus != 0) {
        io.text(ZELKOR_LOG_ERROR, t.portListFailed);
        freeNodes(ports);
        return HAL_FAILURE;
    }
    return pairPorts(io, ports, list);
}
