// What the in-band module reads from an enclosure, checked against sg3_utils reading the same enclosure
// in a process of its own: SAS addresses, the DHCP management address and the cached Ethernet page.
#include "tests/sas/ialSasFixture.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a program under the enclosure of the scenario file; its exit status and output.
std::pair<int, std::string> underEnclosure(const std::string& scenario, const std::string& program) {
    const std::string command =
        std::string(ZSIM_WITH_ENCLOSURE) + " " + scenario + " -- " + program + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return {-1, ""};
    std::string output;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

std::string lowerAddress(const ZELKOR_EXPANDER& e) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%08x%08x", e.sasAddressHigh, e.sasAddressLow);
    return text;
}

using PeerAgreement = SasModuleTest;

TEST_F(PeerAgreement, SgUtilsReadTheSameAddressesAndPage) {
    const std::string scenario = std::string(ZSIM_SCENARIOS) + "/two-families.scn";
    sim::loadScenario(readFile(scenario));
    options_.availWithoutAddress = 1;
    ASSERT_EQ(open(0, &instance_), 0u);
    ZELKOR_EXPANDER_LIST* list = nullptr;
    ASSERT_EQ(getExpanders(instance_, &list), 0u);
    ASSERT_NE(list, nullptr);
    ASSERT_NE(list->next, nullptr);
    const ZELKOR_EXPANDER& ostrel = list->expander;
    const ZELKOR_EXPANDER& quenza = list->next->expander;

    // The module reads the addresses from the expanders' registers; sg_vpd decodes the target port
    // designator of the device-identification page.
    for (const auto& [device, record] : {std::pair{"/dev/sg0", &ostrel}, std::pair{"/dev/sg1", &quenza}}) {
        const auto [status, output] = underEnclosure(scenario, std::string("sg_vpd --page=di ") + device);
        ASSERT_EQ(status, 0) << output;
        const auto port = output.find("Target port:");
        ASSERT_NE(port, std::string::npos) << output;
        EXPECT_NE(output.find(lowerAddress(*record), port), std::string::npos)
            << lowerAddress(*record) << output;
    }

    // DHCP is on for the Quenza expander: its address comes from the management network addresses page.
    const auto [mnaStatus, mna] = underEnclosure(scenario, "sg_vpd --page=mna /dev/sg1");
    ASSERT_EQ(mnaStatus, 0) << mna;
    EXPECT_NE(mna.find("    " + FIELD(quenza, ipAddress) + "\n"), std::string::npos)
        << FIELD(quenza, ipAddress) << mna;

    // The page kept for the Ethernet patch is the page as the device returns it.
    char pagePath[] = "/tmp/ialsas-peer-XXXXXX";
    const int fd = mkstemp(pagePath);
    ASSERT_GE(fd, 0);
    ::close(fd);
    const auto [rawStatus, raw] = underEnclosure(scenario, std::string("sg_raw -r 32 -o ") + pagePath +
                                                               " /dev/sg0 3C 01 E6 FF 10 00 20 00 00 00");
    const std::string page = readFile(pagePath);
    std::remove(pagePath);
    ASSERT_EQ(rawStatus, 0) << raw;
    ASSERT_EQ(sas()->expander.ethernetPageLength, page.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sas()->expander.ethernetPage), page.size()), page);
}

} // namespace
