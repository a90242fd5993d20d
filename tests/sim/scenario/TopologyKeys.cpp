// Scenario keys of an expander's phys, route table and zone rows (see tests/sim/README.md).
#include "scenario/ScenarioLine.h"

#include <map>
#include <sstream>

namespace zsim {

namespace {

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');)
        if (!part.empty())
            parts.push_back(part);
    return parts;
}

uint8_t small(const Line& line, const std::string& text, uint64_t maximum) {
    return static_cast<uint8_t>(parseNumber(line, text, maximum));
}

// One NAME=VALUE word of a `phy` line.
void applyPhyField(const Line& line, const std::string& name, const std::string& value, PhyState& phy) {
    if (name == "attached") {
        phy.attachedSasAddress = parseSasAddress(line, value);
    } else if (name == "sas") {
        phy.sasAddress = parseSasAddress(line, value);
    } else if (name == "type") {
        static const std::map<std::string, uint8_t> kTypes{{"none", 0}, {"end", 1}, {"expander", 2}, {"fanout", 3}};
        const auto named = kTypes.find(value);
        phy.deviceType = named != kTypes.end() ? named->second : small(line, value, 7);
    } else if (name == "id") {
        phy.phyId = small(line, value, 0xFF);
    } else if (name == "attached-phy") {
        phy.attachedPhyId = small(line, value, 0xFF);
    } else if (name == "initiators") {
        for (const std::string& which : splitList(value)) {
            if (which == "smp")
                phy.smpInitiator = true;
            else if (which == "stp")
                phy.stpInitiator = true;
            else if (which == "ssp")
                phy.sspInitiator = true;
            else if (which != "none")
                line.fail("initiators are smp, stp, ssp: '" + which + "'");
        }
    } else if (name == "targets") {
        for (const std::string& which : splitList(value)) {
            if (which == "sata")
                phy.sataDevice = true;
            else if (which == "smp")
                phy.smpTarget = true;
            else if (which == "stp")
                phy.stpTarget = true;
            else if (which == "ssp")
                phy.sspTarget = true;
            else if (which == "selector")
                phy.sataPortSelector = true;
            else if (which != "none")
                line.fail("targets are sata, smp, stp, ssp, selector: '" + which + "'");
        }
    } else if (name == "rate") {
        phy.negotiatedRate = small(line, value, 0xF);
    } else if (name == "rates") {
        const auto rates = splitList(value);
        if (rates.size() != 4)
            line.fail("rates=PROGRAMMED-MIN,HARDWARE-MIN,PROGRAMMED-MAX,HARDWARE-MAX");
        phy.programmedMin = small(line, rates[0], 0xF);
        phy.hardwareMin = small(line, rates[1], 0xF);
        phy.programmedMax = small(line, rates[2], 0xF);
        phy.hardwareMax = small(line, rates[3], 0xF);
    } else if (name == "routing") {
        static const std::map<std::string, uint8_t> kRouting{{"direct", 0}, {"subtractive", 1}, {"table", 2}};
        const auto named = kRouting.find(value);
        phy.routing = named != kRouting.end() ? named->second : small(line, value, 0xF);
    } else if (name == "changes") {
        phy.changeCount = small(line, value, 0xFF);
    } else if (name == "timeout") {
        phy.partialPathwayTimeout = small(line, value, 0xF);
    } else if (name == "zone") {
        if (value == "unzoned")
            phy.zoneGroup.reset();
        else
            phy.zoneGroup = small(line, value, 0xFF);
    } else if (name == "enabled") {
        phy.enabled = parseOnOff(line, value);
    } else if (name == "skarvel") {
        phy.skarvel = parseOnOff(line, value);
    } else if (name == "virtual") {
        phy.virtualBit = parseOnOff(line, value);
    } else if (name == "counters") {
        const auto counters = splitList(value);
        if (counters.size() != 4)
            line.fail("counters=A,B,C,D");
        for (size_t i = 0; i < 4; ++i)
            phy.counters[i] = static_cast<uint32_t>(parseNumber(line, counters[i], UINT32_MAX));
    } else if (name == "lane-rates") {
        phy.laneRates = small(line, value, 0xFF);
    } else if (name == "lane-rate") {
        phy.laneAttachedRate = small(line, value, 0xF);
    } else if (name == "reset") {
        if (value != "stuck" && value != "clears")
            line.fail("reset=stuck or reset=clears");
        phy.resetStuck = value == "stuck";
    } else {
        line.fail("unknown phy field '" + name + "'");
    }
}

} // namespace

bool applyTopologyKey(const Line& line, Topology& topology) {
    const std::string& key = line.key;
    if (key == "phys") {
        line.expectArgs(1, 1);
        topology.phyCount = static_cast<uint32_t>(parseNumber(line, line.arg(0), 0xFF));
    } else if (key == "phy") {
        if (line.args.empty())
            line.fail("phy P NAME=VALUE ...");
        PhyState& phy = topology.phys[static_cast<uint32_t>(parseNumber(line, line.arg(0), 0xFF))];
        for (size_t i = 1; i < line.args.size(); ++i) {
            const std::string& word = line.args[i];
            const auto equals = word.find('=');
            if (equals == std::string::npos)
                line.fail("phy fields are NAME=VALUE: '" + word + "'");
            applyPhyField(line, word.substr(0, equals), word.substr(equals + 1), phy);
        }
    } else if (key == "phy-raw") {
        line.expectArgs(14, 14);
        std::array<uint32_t, 13> words{};
        for (size_t k = 0; k < words.size(); ++k)
            words[k] = static_cast<uint32_t>(parseNumber(line, line.arg(k + 1), UINT32_MAX));
        topology.phys[static_cast<uint32_t>(parseNumber(line, line.arg(0), 0xFF))].rawWords = words;
    } else if (key == "route") {
        line.expectArgs(3, 3);
        topology.routes[static_cast<uint32_t>(parseNumber(line, line.arg(0), 0xFFFF))] =
            RouteEntry{parseSasAddress(line, line.arg(1)), parseNumber(line, line.arg(2))};
    } else if (key == "route-count") {
        line.expectArgs(1, 1);
        topology.routeCount = static_cast<uint32_t>(parseNumber(line, line.arg(0), 0xFFFF));
    } else if (key == "zone-row") {
        line.expectArgs(9, 9);
        std::array<uint32_t, 8> words{};
        for (size_t i = 0; i < words.size(); ++i)
            words[i] = static_cast<uint32_t>(parseNumber(line, line.arg(i + 1), UINT32_MAX));
        topology.zoneRows[static_cast<uint32_t>(parseNumber(line, line.arg(0), 0xFF))] = words;
    } else if (key == "zoning") {
        line.expectArgs(1, 1);
        topology.zoning = parseOnOff(line, line.arg(0));
    } else if (key == "route-table") {
        line.expectArgs(1, 1);
        if (line.arg(0) != "available" && line.arg(0) != "unavailable")
            line.fail("route-table available or unavailable");
        topology.tableUnavailable = line.arg(0) == "unavailable";
    } else {
        return false;
    }
    topology.present = true;
    return true;
}

} // namespace zsim
