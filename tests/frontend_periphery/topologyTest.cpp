// The topology displays' exact texts, and the argument words they refuse.
#include "frontend/brannic.h"
#include "frontend/clparser.h"
#include "frontend/topology.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

PhyView attachedPhy() {
    PhyView p;
    p.sasHigh = 0x5000CCAB;
    p.sasLow = 0x0400B7F0;
    p.phyId = 7;
    p.routingAttribute = 2;
    p.negotiatedRate = 11;
    p.zoneGroup = 5;
    p.enabled = true;
    p.attachedSasHigh = 0x5000C500;
    p.attachedSasLow = 0x12345678;
    p.attachedPhyId = 1;
    p.deviceType = 1;
    p.capabilities[2] = true; // SSP initiator
    p.capabilities[5] = true; // SSP target
    return p;
}

TEST(TopologyTexts, Tables) {
    struct Case {
        uint32_t value;
        const char* speed;
        const char* routing;
        const char* device;
    };
    const std::vector<Case> cases{
        {0, " - ", "D", "None"},     {1, " - ", "S", "End"},      {2, " - ", "T", "Expander"},
        {3, " - ", "", "Expander"},  {4, " - ", "", "Unknown"},   {8, "1.5", "", "Unknown"},
        {9, "3.0", "", "Unknown"},   {10, "6.0", "", "Unknown"},  {11, "12.0", "", "Unknown"},
        {12, " - ", "", "Unknown"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(printLinkSpeed(c.value), c.speed) << c.value;
        EXPECT_STREQ(printRoutingAttribute(c.value), c.routing) << c.value;
        EXPECT_STREQ(printDeviceType(c.value), c.device) << c.value;
    }
    EXPECT_STREQ(printConnectorType(0x100), "No Information") << "only the low byte counts";
    EXPECT_STREQ(printConnectorType(17), "SAS Mini 4i Plug");
    EXPECT_STREQ(printConnectorType(35), "SATA Device Plug");
    EXPECT_STREQ(printConnectorType(3), "");

    bool none[8] = {};
    EXPECT_EQ(printCapabilities(none), "None");
    bool some[8] = {true, false, false, false, true, false, false, true};
    EXPECT_EQ(printCapabilities(some), std::string("SMP Initiator\n") + std::string(30, ' ') + "STP Target\n" +
                                           std::string(30, ' ') + "SATA Port Selector");
}

TEST(TopologyTexts, PhyRows) {
    const PhyView attached = attachedPhy();
    EXPECT_EQ(displayPhy(attached),
              "5000CCAB:0400B7F0 07  T   12.0 005  Y   N   5000C500:12345678  01  End      --1--1--\n");

    // A virtual, unzoned phy at an unknown rate, nothing attached.
    PhyView bare;
    bare.sasHigh = 0x5000CCAB;
    bare.sasLow = 0x0400B7F0;
    bare.phyId = 36;
    bare.virtualPhy = true;
    bare.routingAttribute = 0;
    bare.negotiatedRate = 12;
    bare.zoneGroup = ZONE_GROUP_UNZONED;
    bare.skarvel = true;
    EXPECT_EQ(displayPhy(bare), std::string("5000CCAB:0400B7F0 36* D    -    UZ  N   Y   ") + std::string(35, ' ') + " --------\n");
}

TEST(TopologyTexts, SinglePhyReport) {
    PhyView p = attachedPhy();
    p.programmedMin = 8;
    p.programmedMax = 11;
    p.hardwareMin = 8;
    p.hardwareMax = 10;
    p.changeCount = 3;
    p.invalidDwords = 4000000000u;
    p.disparityErrors = 2;
    p.syncLosses = 3;
    p.resetProblems = 4;
    EXPECT_EQ(displaySinglePhy(p), "\n===============================================\n"
                                   "              Phy Information\n"
                                   "===============================================\n\n"
                                   "                 SAS Address: 5000ccab0400b7f0\n"
                                   "              Phy Identifier: 07\n"
                                   "                       State: Enabled\n"
                                   "                    Skarvel: Disabled\n"
                                   "                  Link Speed: 12.0 Gb/s\n"
                                   "                 Virtual Phy: No\n"
                                   "           Routing Attribute: Table\n"
                                   "          Minimum Link Speed: 1.5\n"
                                   "          Maximum Link Speed: 12.0\n"
                                   "Supported Minimum Link Speed: 1.5\n"
                                   "Supported Maximum Link Speed: 6.0\n"
                                   "            Phy Change Count: 3\n"
                                   "              SAS Zone Group: 005\n"
                                   "\n------------ Attached Device Information ------\n"
                                   "        Attached SAS Address: 5000c50012345678\n"
                                   "     Attached Phy Identifier: 01\n"
                                   "        Attached Device Type: End\n"
                                   "Attached Device Capabilities: SSP Initiator\n"
                                   "                              SSP Target\n"
                                   "------------- Error Statistics ----------------\n"
                                   "                Invalid Dword Count: 4000000000\n"
                                   "      Running Disparity Error Count: 2\n"
                                   "Loss of Dword Synchronization Count: 3\n"
                                   "            Phy Reset Problem Count: 4\n");

    PhyView bare;
    bare.routingAttribute = 7;
    bare.zoneGroup = ZONE_GROUP_UNZONED;
    const std::string text = displaySinglePhy(bare);
    EXPECT_EQ(text.find("Routing Attribute"), std::string::npos);
    EXPECT_NE(text.find("              SAS Zone Group: Zoning Inactive\n"), std::string::npos);
    EXPECT_NE(text.find("        Attached SAS Address:  -               \n     Attached Phy Identifier:  - \n"
                        "        Attached Device Type: None\nAttached Device Capabilities: None\n"),
              std::string::npos);
}

TEST(TopologyTexts, PortsAndDevicesInGroupsOfFour) {
    EXPECT_EQ(phyGroups({}), std::vector<std::string>{});
    EXPECT_EQ(phyGroups({0, 1, 2, 3, 4}), (std::vector<std::string>{"00-01-02-03", "04"}));

    PortView port{3, 0x5000C500, 0x00000ABC, {0, 1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(displayPort(port), " 03            09                   5000C500:00000ABC             00-01-02-03\n" +
                                     std::string(66, ' ') + std::string("04-05-06-07\n") + std::string(66, ' ') + "08\n");
    EXPECT_EQ(displayPort(PortView{1, 0, 0, {}}), "");

    DeviceView device{2, 0x5000CCAB, 0x0400B800, {0, 1, 2, 3}, 0x5000CCAB, 0x0400B7F0, {4, 5, 6, 7}};
    EXPECT_EQ(displayDevice(device),
              "Expander     5000CCAB:0400B800     00-01-02-03  5000CCAB:0400B7F0  04-05-06-07\n");
    // Continuation lines only while both lists still have a group.
    DeviceView wide{1, 1, 2, {0, 1, 2, 3, 8, 9}, 3, 4, {4, 5, 6, 7, 12, 13, 14, 15, 16}};
    EXPECT_EQ(displayDevice(wide), "End          00000001:00000002     00-01-02-03  00000003:00000004  04-05-06-07\n"
                                   "                                   08-09                           12-13-14-15\n");
    EXPECT_EQ(displayDevice(DeviceView{1, 1, 2, {}, 3, 4, {1}}), "");
    EXPECT_EQ(displayDevice(DeviceView{1, 1, 2, {1}, 3, 4, {}}), "");
}

TEST(TopologyWords, ZoneGroupWordsThatAreNoGroupAreRefused) {
    gInstance = MORV_INSTANCE{};
    for (const char* word : {"256", "abc", "", "5a", "-1", "4294967296", "99999999999"}) {
        SCOPED_TRACE(word);
        testing::internal::CaptureStdout();
        const uint32_t status = getZonePermissions(word);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Invalid Zone Group\n");
        EXPECT_EQ(status, 1u);
    }
    for (uint32_t phy : {48u, 511u, 0xFFFFFFFFu}) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(phyReset(phy), 1u);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "Invalid Phy ID.\n");
    }
}

TEST(TopologyWords, ExpanderSummary) {
    gInstance = MORV_INSTANCE{};
    gClParser = CL_PARSER{};
    EXPECT_EQ(getExpanderInfo(), 34u);
    ZELKOR_EXPANDER_LIST second{};
    second.expander.type = ZELKOR_CHIP_PALX;
    std::snprintf(second.expander.name, sizeof second.expander.name, "%s", "Palx_1");
    std::snprintf(second.expander.revision, sizeof second.expander.revision, "%s", "A0");
    std::snprintf(second.expander.ipAddress, sizeof second.expander.ipAddress, "%s", "NotConfigured");
    second.expander.sasAddressHigh = 0x500A0B0C;
    second.expander.sasAddressLow = 0x100;
    ZELKOR_EXPANDER_LIST first{};
    first.next = &second;
    first.expander.type = ZELKOR_CHIP_QUENZA;
    std::snprintf(first.expander.name, sizeof first.expander.name, "%s", "RX4800 (Vellor_48)");
    std::snprintf(first.expander.revision, sizeof first.expander.revision, "%s", "C0");
    std::snprintf(first.expander.ipAddress, sizeof first.expander.ipAddress, "%s", "10.20.30.40");
    first.expander.sasAddressHigh = 0x5000CCAB;
    first.expander.sasAddressLow = 0x0400B7F0;
    first.expander.enclosureIdHigh = 0x11223344;
    first.expander.enclosureIdLow = 0x55667788;
    first.expander.productId = 0x233;
    first.expander.revisionCode = 2;
    gInstance.expanderList = &first;
    testing::internal::CaptureStdout();
    EXPECT_EQ(getExpanderInfo(), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n\n            Expander: RX4800 (Vellor_48) C0\n"
                                                      "         SAS Address: 5000CCAB:0400B7F0\n"
                                                      "Enclosure Logical Id: 11223344:55667788\n"
                                                      "          IP Address: 10.20.30.40\n"
                                                      "Component Identifier: 0x0233\n"
                                                      "  Component Revision: 0x02\n"
                                                      "\n\n            Expander: Palx_1 A0\n"
                                                      "         SAS Address: 500A0B0C:00000100\n"
                                                      "Enclosure Logical Id: Unknown\n");
    // Over TCP the address is the one the command line gave.
    gInstance.interfaceCode = ZELKOR_INTERFACE_TCP;
    std::snprintf(gClParser.addressText, sizeof gClParser.addressText, "%s", "192.0.2.7");
    gInstance.expanderList = &second;
    testing::internal::CaptureStdout();
    EXPECT_EQ(getExpanderInfo(), 0u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n\n            Expander: Palx_1 A0\n"
                                                      "         SAS Address: 500A0B0C:00000100\n"
                                                      "Enclosure Logical Id: Unknown\n"
                                                      "          IP Address: 192.0.2.7\n");
    gInstance = MORV_INSTANCE{};
    gClParser = CL_PARSER{};
}

} // namespace
