// Serial debug-port interface module "IAL-COM": finds out which program answers on the port, brings the
// chip to a bootstrap running in internal RAM (or keeps the boot ROM under control on interface 7),
// identifies it, and moves region data through the bootstrap commands. Operations are reached only through
// the query function.
#include "ial/ialTrace.h"
#include "core/modules.h"
#include "ial/comInstance.h"
#include "ial/comRamLoad.h"
#include "osal/osalTime.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr const char* kModule = "zelkor_ial_COM";

constexpr ZELKOR_STATUS kFailure = 1;
constexpr ZELKOR_STATUS kNotServedHere = 3;
constexpr ZELKOR_STATUS kInvalidInstance = 4;
constexpr ZELKOR_STATUS kInvalidArgument = 5;
constexpr ZELKOR_STATUS kNoMemory = 6;
constexpr ZELKOR_STATUS kNoList = 7;
constexpr ZELKOR_STATUS kNoLogFunction = 18;
constexpr ZELKOR_STATUS kPortOpenFailed = 20;
constexpr ZELKOR_STATUS kPortMissing = 21;
constexpr ZELKOR_STATUS kPortDenied = 22;
constexpr ZELKOR_STATUS kPortUnconfigurable = 23;
constexpr ZELKOR_STATUS kProgramFlashYourself = 27;
constexpr ZELKOR_STATUS kSmartCliNeedsReset = 56;
constexpr ZELKOR_STATUS kBootstrapInRam = 57;

constexpr uint32_t kProbeSize = 50;
constexpr uint32_t kFlashChunk = 1024;
constexpr uint32_t kChunkAttempts = 5;
constexpr uint32_t kProgressBytes = 8 * 1024;
constexpr uint32_t kQuenzaFlashLogChunks = 40;
constexpr uint32_t kMaxFlashType = 5;
constexpr uint32_t kInvalidRegionIndex = 0xFF;
// Block reads that succeed with fewer bytes than asked are repeated at most this often per chunk.
constexpr uint32_t kShortReadRepeats = 16;
// A chip that keeps resetting under the passes would cycle through the modes for ever.
constexpr uint32_t kMaxPasses = 12;
constexpr uint8_t kEthernetSizeCode = 0xE6;

constexpr uint32_t kQuenzaFlashBase = 0x10000000;
constexpr uint32_t kOstrelFlashBase = 0x14000000;
constexpr uint32_t kOstrelArmControl = 0x40F00000;
constexpr uint32_t kOstrelMisc = 0x40900018;
constexpr uint32_t kOstrelBaudSelect = 0x7U << 11;
constexpr uint32_t kQuenzaMisc = 0x42400018;
constexpr uint32_t kPowerOnSense = 0x1C000000;
constexpr uint32_t kNorFlashConfig = 0x1C000004;
constexpr uint32_t kEightBitFlash = 1U << 25;

struct ModeSettings {
    uint32_t baudIndex;
    uint32_t dataBits;
    uint32_t interByteDelay;
};
// Probe modes: 0 Ostrel monitor after reset, 1 Ostrel monitor after its baud change, 2 Ostrel bootstrap
// or Quenza boot ROM, 3 Quenza bootstrap.
constexpr ModeSettings kModes[4] = {
    {kSerialBaud38400, 7, 300}, {kSerialBaud115200, 7, 200}, {kSerialBaud115200, 8, 3000}, {kSerialBaud57600, 8, 300}};

SERIAL_PORT_SETTINGS modeSettings(uint32_t mode) {
    return SERIAL_PORT_SETTINGS{kModes[mode].baudIndex, kModes[mode].dataBits, 1, 0, 0, kModes[mode].interByteDelay, 0};
}

// The handle of the last open while that open's instance lives; null otherwise.
ZELKOR_INSTANCE* sPtrZelkorHandle = nullptr;
// Flash chunks sent to family Quenza since the process started.
uint32_t sQuenzaChunks = 0;

void printText(const char* format, ...) __attribute__((format(printf, 1, 2)));
void printText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

void logLine(const ZELKOR_INSTANCE* handle, const char* function, uint32_t level, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void logLine(const ZELKOR_INSTANCE* handle, const char* function, uint32_t level, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    LOG_FUNCTION log = handle != nullptr && handle->log != nullptr ? handle->log : zelkor_messageLog;
    log(kModule, function, ZELKOR_LOG_COM, level, 1, "%s", text);
}

// Entry trace now, exit trace when the operation ends.
struct Trace : IalTrace {
    Trace(const ZELKOR_INSTANCE* handle, const char* function) : IalTrace(kModule, ZELKOR_LOG_COM, handle, function) {}
};

void progress(const ZELKOR_INSTANCE* handle) {
    if (handle != nullptr && handle->progress != nullptr)
        handle->progress(1, 0);
}

bool isQuenza(const COM_INSTANCE* instance) {
    return instance->expander.type == ZELKOR_CHIP_QUENZA || instance->expander.type == ZELKOR_CHIP_QUENZA_DAX;
}

const ZELKOR_SHARED_VARS* options(const COM_INSTANCE* instance) {
    return instance->handle != nullptr ? instance->handle->options : nullptr;
}

void printCannotCommunicate(const char* path) {
    printText("\n **** ERROR **** Zelkor cannot communicate using debug serial (%s) port \n Please check the "
              "\n\t1) Jumper settings\n\t2) Cable connection\n\t3) reset the board and retry \n\n",
              path);
}

bool refusedName(const char* path) {
    return std::strcmp(path, "/dev/tty") == 0 || std::strcmp(path, "/dev/systty") == 0 || std::strlen(path) < 10;
}

// Opens and configures the port for a mode: 0, or 20 to 23 after the message.
ZELKOR_STATUS openPort(COM_INSTANCE* instance, const char* path, const SERIAL_PORT_SETTINGS& settings) {
    instance->port = osal_serialPortOpen(path);
    if (instance->port == nullptr) {
        const ZELKOR_STATUS status = osal_serialPortGetLastStatus();
        if (status == kSerialNoDevice) {
            printText("\n**** ERROR **** %s port does not exist\n", path);
            logLine(instance->handle, "zelkor_ial_open", ZELKOR_LOG_ERROR, "%s port does not exist **** FAILED ****", path);
            return kPortMissing;
        }
        if (status == kSerialNoPermission) {
            printText("\n**** ERROR **** User does not have permission to Open the %s port\n", path);
            logLine(instance->handle, "zelkor_ial_open", ZELKOR_LOG_ERROR,
                    "User does not have permission to Open the %s port **** FAILED ****", path);
            return kPortDenied;
        }
        printText("\n**** ERROR **** Unable to open the %s port\n", path);
        logLine(instance->handle, "zelkor_ial_open", ZELKOR_LOG_ERROR, "Unable to open the %s port **** FAILED ****", path);
        return kPortOpenFailed;
    }
    if (osal_serialPortSetParam(instance->port, &settings) != kSerialOk) {
        printText("\n**** ERROR **** Unable to configure the %s\n", path);
        logLine(instance->handle, "zelkor_ial_open", ZELKOR_LOG_ERROR, "Unable to configure the %s **** FAILED ****", path);
        return kPortUnconfigurable;
    }
    return 0;
}

// The instance holds no port afterwards, also when the close failed: it is never closed twice.
void closePort(COM_INSTANCE* instance) {
    if (instance->port != nullptr)
        osal_serialPortClose(instance->port);
    instance->port = nullptr;
}

// The Ostrel monitor at 38400: identify the chip, then move the monitor to 115200.
ZELKOR_STATUS doHws38400(COM_INSTANCE* instance) {
    instance->registerOp = hws_operation;
    if (const ZELKOR_STATUS status = getOstrelIDAndRevision(instance); status != 0)
        return status;
    uint32_t misc = 0;
    if (comReadWord(instance, kOstrelMisc, &misc) != 0 ||
        comWriteWord(instance, kOstrelMisc, misc & ~kOstrelBaudSelect) != 0)
        return kFailure;
    return 0;
}

void logFlashMode(COM_INSTANCE* instance, const char* fn) {
    uint32_t sense = 0;
    uint32_t config = 0;
    comReadWord(instance, kPowerOnSense, &sense);
    comReadWord(instance, kNorFlashConfig, &config);
    logLine(instance->handle, fn, ZELKOR_LOG_INFO, "Power On Sense 0x%08x, NOR Flash Config 0x%08x", sense, config);
}

struct OpenState {
    uint32_t mode = 2;
    bool silenceSeen = false;
    uint32_t silences = 0;
    bool bootHandled = false;
    bool done = false;
    ZELKOR_STATUS result = 0;
};

// One probe pass in the state's mode; sets done with the open's result, or the next mode.
void probePass(COM_INSTANCE* instance, const char* path, OpenState& s) {
    ZELKOR_INSTANCE* handle = instance->handle;
    const bool ramDebugInterface = handle->interface == ZELKOR_INTERFACE_RAMDEBUG;
    auto finish = [&](ZELKOR_STATUS result) {
        s.done = true;
        s.result = result;
    };

    uint8_t answer[kProbeSize] = {};
    uint32_t count = 0;
    ZELKOR_STATUS status = readConnectionPrompt(instance->port, answer, kProbeSize, &count, 0);
    if (s.mode == 2 && status == kSerialOk && count == 1) {
        gChipTypeFlag = 1;
        status = readConnectionPrompt(instance->port, answer, kProbeSize, &count, 0);
    }
    const ComProgram program = status == kSerialOk ? classifyConnectionAnswer(answer, count) : ComProgram::None;
    if (program != ComProgram::QuenzaRom && program != ComProgram::QuenzaBootstrap)
        gChipTypeFlag = 0;
    if (program == ComProgram::None) {
        if (++s.silences >= 2) {
            printCannotCommunicate(path);
            return finish(kFailure);
        }
        s.silenceSeen = true;
        s.mode = 3;
        return;
    }

    switch (s.mode) {
    case 2:
        if (program == ComProgram::OstrelBootstrap) {
            if (!s.silenceSeen)
                printText("\n\nINFO: Bootstrap is already present on board");
            instance->registerOp = pbs_operation;
            ZELKOR_STATUS result = 0;
            if (instance->expander.productId == 0)
                result = getOstrelIDAndRevision(instance);
            return finish(result);
        }
        if (program == ComProgram::QuenzaRom) {
            printText("\nINFO: %s port baudrate and settings are 115200,8,N,1.\n", path);
            gChipTypeFlag = 1;
            gQuenzaConnectionFlag = 2;
            instance->registerOp = hws_operation_quenza;
            if (ramDebugInterface) {
                if (getQuenzaIDAndRevision(instance) != 0) {
                    printText("\nERROR: Failed to read the expander ID and revision");
                    return finish(kFailure);
                }
                s.bootHandled = true;
                return finish(0);
            }
            printText("\nINFO: Bootstrap is not present on board.\n\nDownloading the Bootstrap");
            if (const ZELKOR_STATUS load = doHws115200(instance, nullptr, 0); load != 0) {
                printText("\nERROR: Failed to download the Bootstrap");
                return finish(load);
            }
            printText("Download Bootstrap Complete.");
            gQuenzaConnectionFlag = 3;
            printText("INFO: Modifying %s port baudrate and settings to 57600,8,N,1.\n", path);
            s.bootHandled = true;
        }
        s.mode = 3;
        return;
    case 3:
        if (program == ComProgram::QuenzaBootstrap) {
            printText("\nINFO: %s port baudrate and settings are 57600,8,N,1.\n", path);
            gChipTypeFlag = 1;
            gQuenzaConnectionFlag = 3;
            instance->registerOp = pbs_operation_quenza;
            return finish(getQuenzaIDAndRevision(instance));
        }
        s.mode = 0;
        s.silenceSeen = true;
        return;
    case 0:
        if (program != ComProgram::OstrelMonitor) {
            printText("\n**** ERROR **** Nothing seems to be connected to the %s OR %s is being used by some other "
                      "Applications.\n",
                      path, path);
            return finish(kFailure);
        }
        if (ramDebugInterface) {
            instance->registerOp = hws_operation;
            if (const ZELKOR_STATUS id = getOstrelIDAndRevision(instance); id != 0) {
                printText("\nERROR: Failed to read the Expander ID and revision");
                return finish(id);
            }
            if (instance->expander.type == ZELKOR_CHIP_OSTREL_SWITCH)
                comWriteWord(instance, kOstrelArmControl, 0);
            s.bootHandled = true;
            return finish(0);
        }
        if (const ZELKOR_STATUS moved = doHws38400(instance); moved != 0) {
            printText("\n **** ERROR **** Zelkor cannot communicate using debug serial (%s) port \n Please check "
                      "the Jumper settings on the eval board\n",
                      path);
            return finish(moved);
        }
        s.mode = 1;
        return;
    default:
        if (program == ComProgram::OstrelMonitor) {
            printText("\n\nINFO: Bootstrap is not present on board. \n\nDownloading the Bootstrap");
            if (const ZELKOR_STATUS load = doHws115200(instance, nullptr, 0); load != 0) {
                printText("\nERROR: Failed to download the Bootstrap");
                return finish(load);
            }
            printText("Download Bootstrap Complete.");
            s.bootHandled = true;
        }
        s.mode = 2;
        return;
    }
}

COM_INSTANCE* listed(void* instance) {
    auto* com = static_cast<COM_INSTANCE*>(instance);
    return comInstanceListed(com) ? com : nullptr;
}

// ---- operations ----

ZELKOR_STATUS comVersion(uint8_t* major, uint8_t* minor) {
    if (major == nullptr || minor == nullptr)
        return kInvalidArgument;
    *major = 1;
    *minor = 0;
    return 0;
}

ZELKOR_STATUS comOpen(ZELKOR_INSTANCE* handle, uint64_t target, void** out) {
    constexpr const char* fn = "zelkor_ial_open";
    gQuenzaConnectionFlag = 2;
    // Nothing of an earlier open says what answers on this port.
    gChipTypeFlag = 0;
    if (!comEnsureInstanceList())
        return kNoList;
    if (handle == nullptr || target == 0 || out == nullptr) {
        printText("IAL-COM: Invalid Arguments");
        return kInvalidArgument;
    }
    *out = nullptr;
    if (handle->log == nullptr) {
        printText("IAL-COM: Zelkor has not queried for zelkor_messageLog");
        return kNoLogFunction;
    }
    sPtrZelkorHandle = handle;
    Trace trace(handle, fn);
    auto* instance = static_cast<COM_INSTANCE*>(std::calloc(1, sizeof(COM_INSTANCE)));
    if (instance == nullptr) {
        logLine(handle, fn, ZELKOR_LOG_ERROR, "Unable to allocate memory for IAL COM instance **** FAILED ****");
        sPtrZelkorHandle = nullptr;
        return kNoMemory;
    }
    instance->handle = handle;
    handle->designatedRegions = 0;
    progress(handle);
    const char* path = reinterpret_cast<const char*>(static_cast<uintptr_t>(target));

    OpenState s;
    for (uint32_t pass = 0; !s.done; ++pass) {
        logLine(handle, fn, ZELKOR_LOG_INFO, "Opening the %s port", path);
        if (pass >= kMaxPasses) {
            printCannotCommunicate(path);
            s.result = kFailure;
            break;
        }
        if (refusedName(path)) {
            printCannotCommunicate(path);
            s.result = kFailure;
            break;
        }
        if (const ZELKOR_STATUS opened = openPort(instance, path, modeSettings(s.mode)); opened != 0) {
            s.result = opened;
            break;
        }
        probePass(instance, path, s);
        if (s.done)
            break;
        if (osal_serialPortClearError(instance->port) != kSerialOk) {
            logLine(handle, fn, ZELKOR_LOG_ERROR, "Unable to clear the %s port errors **** FAILED ****", path);
            s.result = kFailure;
            break;
        }
        osal_sleepMs(5);
        closePort(instance);
        osal_sleepMs(10);
    }

    ZELKOR_STATUS result = s.result;
    const ZELKOR_SHARED_VARS* opts = handle->options;
    if (handle->interface == ZELKOR_INTERFACE_RAMDEBUG && !s.bootHandled && result == 0 && opts != nullptr) {
        if (opts->smartCliBusy != 0) {
            logLine(handle, fn, ZELKOR_LOG_INFO,
                    "Expander needs to be reset before executing set smartcli command when bootstrap is present in "
                    "RAM");
            result = kSmartCliNeedsReset;
        } else if (opts->ramDebugBusy != 0) {
            logLine(handle, fn, ZELKOR_LOG_INFO,
                    "UART baudrate needs to be modified before downloading ramdebug image when bootstrap is present "
                    "in RAM");
            result = kBootstrapInRam;
        }
    }
    if (gChipTypeFlag == 1 && instance->port != nullptr &&
        (result == 0 || result == kSmartCliNeedsReset || result == kBootstrapInRam)) {
        uint32_t sense = 0;
        if (comReadWord(instance, kPowerOnSense, &sense) == 0) {
            const char* text = (sense & kEightBitFlash) != 0 ? "INFO: FLASH mode is 8-bit." : "INFO: FLASH mode is 16-bit.";
            printText("%s", text);
            logLine(handle, fn, ZELKOR_LOG_INFO, "%s", text);
        }
    }
    if ((result == 0 || result == kBootstrapInRam) && instance->port != nullptr) {
        if (!comAddInstance(instance)) {
            logLine(handle, fn, ZELKOR_LOG_ERROR, "Unable to allocate memory for adding  COM instance **** FAILED ****");
            result = kNoMemory;
        } else {
            *out = instance;
            return result;
        }
    }
    if (result == 0)
        result = kFailure;
    closePort(instance);
    std::free(instance);
    sPtrZelkorHandle = nullptr;
    return result;
}

ZELKOR_STATUS comClose(void* ialInstance) {
    constexpr const char* fn = "zelkor_ial_close";
    COM_INSTANCE* instance = listed(ialInstance);
    if (instance == nullptr)
        return kInvalidInstance;
    Trace trace(instance->handle, fn);
    ZELKOR_STATUS result = 0;
    if (instance->port != nullptr && osal_serialPortClose(instance->port) != kSerialOk) {
        printText("\n**** ERROR **** Unable to close serial port");
        result = kFailure;
    }
    instance->port = nullptr;
    if (!comRemoveInstance(instance)) {
        printText("\n**** ERROR **** Invalid COM instance");
        return kFailure;
    }
    if (sPtrZelkorHandle == instance->handle)
        sPtrZelkorHandle = nullptr;
    std::free(instance);
    return result;
}

ZELKOR_STATUS comGetExpanders(void* ialInstance, ZELKOR_EXPANDER_LIST** out) {
    constexpr const char* fn = "zelkor_ial_getExpanders";
    COM_INSTANCE* instance = listed(ialInstance);
    if (instance == nullptr || instance->handle == nullptr) {
        if (instance != nullptr)
            printText("\n**** ERROR **** Invalid ZELKOR handle");
        return kInvalidInstance;
    }
    Trace trace(instance->handle, fn);
    if (out == nullptr) {
        printText("\n**** ERROR **** Invalid argument for IAL Get Expander");
        return kInvalidArgument;
    }
    if (const ZELKOR_STATUS status = getExpanderSASAddress(instance); status != 0) {
        printText("\n**** ERROR **** Unable to get SAS address");
        return status;
    }
    auto* node = static_cast<ZELKOR_EXPANDER_LIST*>(std::calloc(1, sizeof(ZELKOR_EXPANDER_LIST)));
    if (node == nullptr) {
        printText("\n**** ERROR **** Unable to allocate memory for the Expander's list");
        return kNoMemory;
    }
    // The caller owns the node: no later listing and no close touches it.
    node->expander = instance->expander;
    *out = node;
    return 0;
}

bool isDesignated(const ZELKOR_REGION* region) {
    return (region->kind >= ZELKOR_REGION_DESIGNATED_FIRST && region->kind <= ZELKOR_REGION_DESIGNATED_LAST) ||
           region->kind == ZELKOR_REGION_PAGE_STORE;
}
bool isFlash(const ZELKOR_REGION* region) {
    return region->kind == ZELKOR_REGION_FLASH || region->kind == ZELKOR_REGION_PARTITION;
}

// Checks shared by the transfers: 0, 3 for a region this module does not serve, 5 past its end.
ZELKOR_STATUS checkRegion(const ZELKOR_REGION* region, uint32_t offset, uint32_t size) {
    // Designated regions are buffers of the firmware, which this port does not reach.
    if (isDesignated(region))
        return kNotServedHere;
    if (region->kind != ZELKOR_REGION_MEMORY && region->size != 0 &&
        (offset > region->size || size > region->size - offset))
        return kInvalidArgument;
    return 0;
}

// The file's bytes, padded with zeros to whole words, or the caller's buffer.
bool loadData(FILE* file, uint8_t* buffer, uint32_t* size, std::vector<uint8_t>& owned, const uint8_t** data) {
    if (file == nullptr) {
        *data = buffer;
        return true;
    }
    if (std::fseek(file, 0, SEEK_END) != 0)
        return false;
    const long length = std::ftell(file);
    if (length < 0 || std::fseek(file, 0, SEEK_SET) != 0)
        return false;
    owned.assign((static_cast<size_t>(length) + 3) & ~size_t{3}, 0);
    if (length > 0 && std::fread(owned.data(), 1, static_cast<size_t>(length), file) != static_cast<size_t>(length))
        return false;
    *size = static_cast<uint32_t>(owned.size());
    *data = owned.data();
    return true;
}

ZELKOR_STATUS comDownload(void* ialInstance, ZELKOR_REGION* region, uint32_t offset, uint32_t size, FILE* file,
                          uint8_t* buffer) {
    constexpr const char* fn = "zelkor_ial_downloadRegion";
    COM_INSTANCE* instance = listed(ialInstance);
    if (instance == nullptr || instance->port == nullptr)
        return kInvalidInstance;
    Trace trace(instance->handle, fn);
    if (region == nullptr || size == 0 || (file == nullptr) == (buffer == nullptr)) {
        printText("\n**** ERROR **** Invalid arguments for IAL Download Region ");
        return kInvalidArgument;
    }
    const ZELKOR_SHARED_VARS* opts = options(instance);
    const uint8_t fieldSelector = instance->handle != nullptr ? instance->handle->fieldSelector : 0;
    if (region->kind == ZELKOR_REGION_MEMORY && size == ((uint32_t{fieldSelector} << 8) | kEthernetSizeCode) &&
        (offset == MFG_PAGE_ETHERNET_OSTREL || offset == MFG_PAGE_ETHERNET_QUENZA)) {
        logLine(instance->handle, fn, ZELKOR_LOG_ERROR, "Ethernet settings cannot be written over the debug port **** FAILED ****");
        return kNotServedHere;
    }
    std::vector<uint8_t> owned;
    const uint8_t* data = nullptr;
    if (!loadData(file, buffer, &size, owned, &data)) {
        printText("\n**** ERROR **** Malloc failed when requested 0x%08x bytes\n", size);
        return kNoMemory;
    }
    // A flash region of index 0xFF is the hardware module's to program; it is read like any other.
    if (isFlash(region) && region->index == kInvalidRegionIndex)
        return kProgramFlashYourself;
    if (const ZELKOR_STATUS check = checkRegion(region, offset, size); check != 0)
        return check;

    const bool quenza = isQuenza(instance);
    if (isFlash(region)) {
        logLine(instance->handle, fn, ZELKOR_LOG_INFO, "Flash write with PBS operation.\n");
        if (region->flashType > kMaxFlashType) {
            logLine(instance->handle, fn, ZELKOR_LOG_WARN, "Flash type is not recognized**** WARNING ****");
            return kProgramFlashYourself;
        }
        const uint32_t flashOffset = region->base + offset - (quenza ? kQuenzaFlashBase : kOstrelFlashBase);
        uint32_t done = 0;
        while (done < size) {
            const uint32_t chunk = std::min(kFlashChunk, size - done);
            if (quenza && sQuenzaChunks % kQuenzaFlashLogChunks == 0)
                logFlashMode(instance, fn);
            uint32_t attempt = 0;
            for (;; ++attempt) {
                const ZELKOR_STATUS status =
                    quenza ? pbs_f_operation_quenza(instance, region->flashType, flashOffset + done, data + done, chunk)
                           : pbs_f_operation(instance, region->flashType, flashOffset + done, data + done, chunk);
                if (status == 0)
                    break;
                if (attempt + 1 >= kChunkAttempts) {
                    printText("\n\nERROR: Download operation failed at offset 0x%x\n", flashOffset + done);
                    return kFailure;
                }
                logLine(instance->handle, fn, ZELKOR_LOG_INFO,
                        "Retrying flash download operation at offset 0x%x for 0x%x bytes", flashOffset + done, chunk);
            }
            if (quenza)
                ++sQuenzaChunks;
            done += chunk;
            if (done % kProgressBytes == 0)
                progress(instance->handle);
        }
        return 0;
    }

    const bool smartCli = opts != nullptr && opts->smartCliBusy != 0;
    if (!smartCli && quenza)
        logFlashMode(instance, fn);
    uint32_t done = 0;
    while (done < size) {
        const uint32_t address = region->base + offset + done;
        const bool word = size - done >= 4 || smartCli;
        uint32_t value = 0;
        std::memcpy(&value, data + done, std::min<uint32_t>(4, size - done));
        ZELKOR_STATUS status = 0;
        if (smartCli)
            status = hws_operation_quenza(instance->port, kWriteWord, kQuenzaMisc, value, nullptr,
                                          instance->expander.revisionCode);
        else
            status = instance->registerOp(instance->port, word ? kWriteWord : kWriteByte, address, value, nullptr,
                                          instance->expander.revisionCode);
        if (status != 0) {
            printText("\n**** ERROR **** Writing at 0x%08x memory failed\n", address);
            return kFailure;
        }
        done += word ? std::min<uint32_t>(4, size - done) : 1;
    }
    return 0;
}

ZELKOR_STATUS comUpload(void* ialInstance, ZELKOR_REGION* region, uint32_t offset, uint32_t size, FILE* file,
                        uint8_t* buffer) {
    constexpr const char* fn = "zelkor_ial_uploadRegion";
    COM_INSTANCE* instance = listed(ialInstance);
    if (instance == nullptr || instance->port == nullptr)
        return kInvalidInstance;
    Trace trace(instance->handle, fn);
    if (region == nullptr || size == 0 || (file == nullptr) == (buffer == nullptr)) {
        printText("\n**** ERROR **** Invalid arguments for IAL Upload Region");
        return kInvalidArgument;
    }
    if (const ZELKOR_STATUS check = checkRegion(region, offset, size); check != 0)
        return check;
    std::vector<uint8_t> owned;
    uint8_t* data = buffer;
    if (file != nullptr) {
        owned.assign(size, 0);
        data = owned.data();
    }
    const bool quenza = isQuenza(instance);
    const uint32_t base = region->base + offset;
    const bool bootRom = instance->registerOp == hws_operation_quenza || instance->registerOp == hws_operation;
    if (size > 4 && bootRom) {
        // A boot ROM has no block read: whole words through its register operation, then the rest.
        for (uint32_t done = 0; done < size; done += 4) {
            uint32_t word = 0;
            if (instance->registerOp(instance->port, kReadWord, base + done, 0, &word, instance->expander.revisionCode) !=
                0) {
                printText("\n**** ERROR **** Unable to read %u bytes at offset 0x%08x \n", size, base + done);
                return kFailure;
            }
            std::memcpy(data + done, &word, std::min<uint32_t>(4, size - done));
        }
    } else if (size > 4) {
        uint32_t done = 0;
        while (done < size) {
            const uint32_t chunk = std::min(kFlashChunk, size - done);
            uint32_t attempts = 0;
            uint32_t shortRepeats = 0;
            for (;;) {
                uint32_t got = 0;
                const ZELKOR_STATUS status =
                    quenza ? pbs_rB_operation_Gen3(instance, data + done, base + done, chunk, &got)
                           : pbs_rB_operation(instance, data + done, base + done, chunk, &got);
                if (status == 0 && got == chunk)
                    break;
                if (status == 0 && ++shortRepeats <= kShortReadRepeats)
                    continue;
                if (++attempts >= kChunkAttempts) {
                    printText("\n\nERROR: Unable to read %u bytes at offset 0x%08x \n", chunk, base + done);
                    return kFailure;
                }
            }
            done += chunk;
            if (done % kProgressBytes == 0)
                progress(instance->handle);
        }
    } else {
        const ZELKOR_SHARED_VARS* opts = options(instance);
        const bool smartCli = opts != nullptr && opts->smartCliBusy != 0;
        REGISTER_OP op = smartCli ? hws_operation_quenza : instance->registerOp;
        const uint32_t address = smartCli ? kQuenzaMisc : base;
        ZELKOR_STATUS status = 0;
        if (size == 4) {
            uint32_t word = 0;
            status = op(instance->port, kReadWord, address, 0, &word, instance->expander.revisionCode);
            std::memcpy(data, &word, 4);
        } else {
            for (uint32_t i = 0; i < size && status == 0; ++i)
                status = op(instance->port, kReadByte, address + i, 0, data + i, instance->expander.revisionCode);
        }
        if (status != 0) {
            printText("\n**** ERROR **** Unable to read %u bytes at offset 0x%08x \n", size, address);
            return kFailure;
        }
    }
    if (file != nullptr && std::fwrite(data, 1, size, file) != size)
        return kFailure;
    return 0;
}

ZELKOR_STATUS comErase(void* ialInstance, ZELKOR_REGION* region) {
    constexpr const char* fn = "zelkor_ial_eraseRegion";
    COM_INSTANCE* instance = listed(ialInstance);
    if (instance == nullptr)
        return kInvalidInstance;
    if (instance->handle == nullptr) {
        printText("\n**** ERROR **** Invalid ZELKOR argument");
        return kInvalidInstance;
    }
    Trace trace(instance->handle, fn);
    if (region == nullptr) {
        printText("\n**** ERROR **** Invalid Argument for IAL Erase Region ");
        return kInvalidArgument;
    }
    logLine(instance->handle, fn, ZELKOR_LOG_INFO, "Low level flash support required.\n");
    return kProgramFlashYourself;
}

// Reopens the instance's port at 115200 8N1 with the bootstrap's pacing: 0, or 20 to 23.
ZELKOR_STATUS reopenAt115200(COM_INSTANCE* instance, const char* path) {
    osal_serialPortClearError(instance->port);
    osal_sleepMs(5);
    closePort(instance);
    osal_sleepMs(10);
    const SERIAL_PORT_SETTINGS settings{kSerialBaud115200, 8, 1, 0, 0, 3000, 0};
    const ZELKOR_STATUS status = openPort(instance, path, settings);
    if (status != 0)
        closePort(instance);
    return status;
}

ZELKOR_STATUS switchBootstrapToRom(COM_INSTANCE* instance, const char* path) {
    printText("INFO: Modifying COM port baudrate and settings to 115200,8,N,1.");
    if (pbs_setBootstrapBaudrate_115200(instance->port, 0) != 0)
        return kFailure;
    if (const ZELKOR_STATUS reopened = reopenAt115200(instance, path); reopened != 0)
        return reopened;
    if (pbs_setBootstrapBaudrate_115200(instance->port, 1) != 0)
        return kFailure;
    uint8_t byte = 0;
    uint32_t got = 0;
    if (osal_serialPortRead(instance->port, &byte, 1, &got) != kSerialOk || got != 1) {
        printText("ERROR: FAILED to receive response from bootstrap after changing UART baudrate.");
        return kFailure;
    }
    const uint8_t cr = '\r';
    uint32_t written = 0;
    osal_serialPortEmptyBuffer(instance->port, kSerialFlushInput);
    if (osal_serialPortWrite(instance->port, &cr, 1, &written, 0) != kSerialOk ||
        osal_serialPortRead(instance->port, &byte, 1, &got) != kSerialOk || got != 1) {
        printText("\n**** ERROR **** Failed to communicate @ 115200.");
        return kFailure;
    }
    printText("INFO: COM port baudrate and settings are 115200,8,N,1.");
    if (pbs_SwitchToSdb(instance->port) != 0) {
        printText("\n**** ERROR **** pbs_SwitchToSdb failed.");
        return kFailure;
    }
    if (osal_serialPortWrite(instance->port, &cr, 1, &written, 0) != kSerialOk ||
        osal_serialPortRead(instance->port, &byte, 1, &got) != kSerialOk || got != 1) {
        printText("\n**** ERROR **** Failed to receive %% prompt from Expander.\n");
        return kFailure;
    }
    instance->registerOp = hws_operation_quenza;
    gQuenzaConnectionFlag = 2;
    return 0;
}

ZELKOR_STATUS comDownloadRamdebug(void* ialInstance, const char* path, uint32_t baudChange, FILE* image,
                                  uint8_t postValidate) {
    constexpr const char* fn = "zelkor_ial_downloadRamdebug";
    if (ialInstance == nullptr) {
        printText("IAL-COM: Invalid Arguments");
        return kInvalidArgument;
    }
    COM_INSTANCE* instance = listed(ialInstance);
    if (instance == nullptr) {
        printText("IAL-COM: Failed to get Instance.");
        return kInvalidInstance;
    }
    if (instance->port == nullptr) {
        printText("IAL-COM: Failed to get port handle.");
        return kInvalidInstance;
    }
    if (instance->handle == nullptr) {
        printText("IAL-COM: Failed to get ptrZelkor handle.");
        return kInvalidInstance;
    }
    Trace trace(instance->handle, fn);
    ZELKOR_SHARED_VARS* opts = instance->handle->options;
    ZELKOR_STATUS result = 0;
    if (baudChange != 0 && path != nullptr)
        result = switchBootstrapToRom(instance, path);
    if (result == 0 && disableWatchdog(instance) != 0) {
        printText("\n**** ERROR **** Watchdog reset failed.");
        result = kFailure;
    }
    if (result == 0) {
        if (opts != nullptr)
            opts->consoleEcho = 1;
        printText("\nDownloading File.");
        if (doHws115200(instance, image, postValidate) != 0) {
            printText("\n**** ERROR **** Failed to download the Ramdebug.");
            result = kFailure;
        }
    }
    if (opts != nullptr) {
        opts->ramDebugBusy = 0;
        opts->consoleEcho = 0;
    }
    return result;
}

} // namespace

uint8_t comSmartCliBusy() {
    return sPtrZelkorHandle != nullptr && sPtrZelkorHandle->options != nullptr ? sPtrZelkorHandle->options->smartCliBusy
                                                                               : 0;
}

extern "C" ZELKOR_GENERIC_FUNCTION ial_com_query_symbol(const char* name) {
    struct Entry {
        const char* name;
        ZELKOR_GENERIC_FUNCTION function;
    };
    static const Entry kEntries[] = {
        {"zelkor_ial_open", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(&comOpen)},
        {"zelkor_ial_close", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(&comClose)},
        {"zelkor_ial_version", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(&comVersion)},
        {"zelkor_ial_getExpanders", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(&comGetExpanders)},
        {"zelkor_ial_downloadRegion", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(&comDownload)},
        {"zelkor_ial_downloadRamdebug", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(&comDownloadRamdebug)},
        {"zelkor_ial_uploadRegion", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(&comUpload)},
        {"zelkor_ial_eraseRegion", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(&comErase)},
    };
    if (name == nullptr)
        return nullptr;
    for (const Entry& e : kEntries)
        if (std::strcmp(e.name, name) == 0)
            return e.function;
    return nullptr;
}
