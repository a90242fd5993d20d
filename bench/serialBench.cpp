// Debug-port transfers at their real pace: the serial expander paces its output at the program's speed,
// the library's pauses and read time-outs are real. Three runs: a 16 KiB RAM-debug image loaded and
// read back through the family Quenza boot ROM, and a 64 KiB flash download and upload through each
// bootstrap. Each prints its wall time, the time the line and the pauses account for (bytes each way at
// ten bit times per character from the expander's record, the library's sleeps, one read time-out per
// read that silence ended) and their ratio.
#include "core/modules.h"
#include "ial/comInstance.h"
#include "ial/comRamLoad.h"
#include "osal/osalTime.h"
#include "scenario/Scenario.h"
#include "serial/SerialExpander.h"

#include <chrono>
#include <cstdio>
#include <vector>

namespace {

double gPauses = 0;
OsalSilenceWaitFunction gDefaultWait = nullptr;
OsalSleepUsFunction gPreviousSleep = nullptr;

void timedSleep(uint32_t microseconds) {
    gPauses += microseconds / 1e6;
    const timespec wait{static_cast<time_t>(microseconds / 1000000), static_cast<long>(microseconds % 1000000) * 1000};
    nanosleep(&wait, nullptr);
}

bool timedWait(int descriptor, uint32_t tenths) {
    const bool ready = gDefaultWait(descriptor, tenths);
    if (!ready)
        gPauses += tenths / 10.0;
    return ready;
}

double lineSeconds(const zsim::SerialExpander& serial) {
    double seconds = 0;
    for (const zsim::SerialByte& b : serial.bytes()) {
        const uint32_t speed = b.toDevice ? b.host.speed : b.device.speed;
        if (b.crossed && speed != 0)
            seconds += 10.0 / speed;
    }
    return seconds;
}

std::vector<uint8_t> pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 31 + 7);
    return bytes;
}

void report(const char* name, double wall, const zsim::SerialExpander& serial) {
    const double accounted = lineSeconds(serial) + gPauses;
    std::printf("%-44s wall %8.3f s  line+pauses %8.3f s  ratio %.3f\n", name, wall, accounted,
                accounted > 0 ? wall / accounted : 0.0);
}

struct Run {
    std::unique_ptr<zsim::Enclosure> enclosure;
    std::unique_ptr<zsim::SerialExpander> serial;
    ZELKOR_INSTANCE handle{};
    ZELKOR_SHARED_VARS options{};
    COM_INSTANCE instance{};

    Run(const char* scenario, zsim::SerialProgram program, uint32_t baud, uint32_t interByte) {
        enclosure = zsim::parseScenario(scenario);
        zsim::SerialSetup setup;
        setup.start = program;
        setup.pacing = true;
        serial = std::make_unique<zsim::SerialExpander>(*enclosure->devices.at(0)->expander, setup);
        handle.log = zelkor_messageLog;
        handle.options = &options;
        instance.handle = &handle;
        instance.port = osal_serialPortOpen(serial->path().c_str());
        const SERIAL_PORT_SETTINGS s{baud, 8, 1, 0, 0, interByte, 0};
        osal_serialPortSetParam(instance.port, &s);
        gPauses = 0;
    }
    ~Run() { osal_serialPortClose(instance.port); }
};

double since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void ramDebugThroughTheRom() {
    Run run("device sg0 quenza\n    product 0x230\n", zsim::SerialProgram::QuenzaRom, kSerialBaud115200, 3000);
    gChipTypeFlag = 1;
    run.instance.registerOp = hws_operation_quenza;
    FILE* image = std::tmpfile();
    const auto bytes = pattern(16 * 1024);
    std::fwrite(bytes.data(), 1, bytes.size(), image);
    std::rewind(image);
    const auto start = std::chrono::steady_clock::now();
    const ZELKOR_STATUS status = doHws115200(&run.instance, image, 1);
    const double wall = since(start);
    std::fclose(image);
    if (status != 0)
        std::printf("RAM-debug load failed: %u\n", status);
    report("16 KiB RAM-debug image, read back (ROM)", wall, *run.serial);
}

void bootstrapTransfers(const char* name, const char* scenario, zsim::SerialProgram program, uint32_t baud,
                        uint32_t interByte, REGISTER_OP op, uint32_t type, uint32_t flashBase) {
    Run run(scenario, program, baud, interByte);
    gChipTypeFlag = program == zsim::SerialProgram::QuenzaBootstrap ? 1 : 0;
    run.instance.registerOp = op;
    run.instance.expander.type = type;
    COM_INSTANCE* instance = &run.instance;
    // The module's transfers need a listed instance.
    comAddInstance(instance);
    auto download = reinterpret_cast<IAL_TRANSFER_FUNCTION>(ial_com_query_symbol("zelkor_ial_downloadRegion"));
    auto upload = reinterpret_cast<IAL_TRANSFER_FUNCTION>(ial_com_query_symbol("zelkor_ial_uploadRegion"));
    ZELKOR_REGION flash{ZELKOR_REGION_FLASH, 0x80, 0, flashBase, 0x200000, 0, 3, 0};
    auto data = pattern(64 * 1024);
    const auto start = std::chrono::steady_clock::now();
    const ZELKOR_STATUS down = download(instance, &flash, 0, static_cast<uint32_t>(data.size()), nullptr, data.data());
    std::vector<uint8_t> back(data.size());
    const ZELKOR_STATUS up = upload(instance, &flash, 0, static_cast<uint32_t>(back.size()), nullptr, back.data());
    const double wall = since(start);
    comRemoveInstance(instance);
    if (down != 0 || up != 0 || back != data)
        std::printf("%s: transfer failed (%u, %u)\n", name, down, up);
    report(name, wall, *run.serial);
}

} // namespace

int main() {
    gDefaultWait = osal_setSilenceWaitFunction(timedWait);
    gPreviousSleep = osal_setSleepUsFunction(timedSleep);
    ramDebugThroughTheRom();
    bootstrapTransfers("64 KiB flash down and up (Ostrel bootstrap)", "device sg0 ostrel\n    product 0x220\n",
                       zsim::SerialProgram::OstrelBootstrap, kSerialBaud115200, 3000, pbs_operation, ZELKOR_CHIP_OSTREL,
                       0x14000000);
    bootstrapTransfers("64 KiB flash down and up (Quenza bootstrap)", "device sg0 quenza\n    product 0x230\n",
                       zsim::SerialProgram::QuenzaBootstrap, kSerialBaud57600, 300, pbs_operation_quenza,
                       ZELKOR_CHIP_QUENZA, 0x10000000);
    return 0;
}
