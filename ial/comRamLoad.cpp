// Loading bootstraps and RAM-debug images into the expander's internal RAM through the boot-ROM monitors,
// with the optional read-back, and the family Quenza watchdog disabling.
#include "ial/comRamLoad.h"

#include "osal/osalTime.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr ZELKOR_STATUS kFailure = 1;

constexpr uint32_t kOstrelArmControl = 0x40F00000;
constexpr uint32_t kOstrelBootAddress = 0x40F00004;
constexpr uint32_t kOstrelBootFromRam = 8;
constexpr uint32_t kOstrelMisc = 0x40900018;
constexpr uint32_t kOstrelBadSignature = 0x80;
constexpr uint32_t kQuenzaArmControl = 0x43C00000;
constexpr uint32_t kQuenzaBootAddress = 0x43C00004;
constexpr uint32_t kQuenzaMisc = 0x42400018;
constexpr uint32_t kQuenzaMiscAfterLoad = 0x80;
constexpr uint32_t kWatchdogInt = 0x42000000;
constexpr uint32_t kWatchdogRst = 0x42000004;
constexpr uint32_t kWatchdogEnabled = 1U << 31;
constexpr uint32_t kPageWords = 1024;
constexpr uint32_t kQuenzaBootstrapProgressWords = 15;

constexpr const char* kQuenzaBootstrap = "bstrapQuenzaDax.bin";
constexpr const char* kOstrelBootstrap = "bootstrapOstrel.fw";
constexpr const char* kOstrelSecondary = "OstrelBootstrapSecondary.bin";

void printText(const char* format, ...) __attribute__((format(printf, 1, 2)));
void printText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

// The chip family of a load: the boot ROM of family Quenza is talked to without echo.
bool quenzaConnection(const COM_INSTANCE* instance) {
    return gChipTypeFlag == 1 || instance->expander.type == ZELKOR_CHIP_QUENZA ||
           instance->expander.type == ZELKOR_CHIP_QUENZA_DAX;
}

void progress(const COM_INSTANCE* instance) {
    if (instance->handle != nullptr && instance->handle->progress != nullptr)
        instance->handle->progress(1, 0);
}

struct FileCloser {
    void operator()(FILE* f) const {
        if (f != nullptr)
            std::fclose(f);
    }
};
using OwnedFile = std::unique_ptr<FILE, FileCloser>;

// The bootstrap file in the current directory, else in the support-file directory: 0, 4 or 10.
ZELKOR_STATUS openSupportFile(const char* name, OwnedFile& file) {
    file.reset(std::fopen(name, "rb"));
    if (file != nullptr)
        return 0;
    const char* directory = std::getenv("ZELKOR_SUPPORT_FILES");
    if (directory == nullptr) {
        printText("\n**** ERROR **** Unable to locate %s", name);
        printText("This file must either reside in the current directory, or the environment variable "
                  "ZELKOR_SUPPORT_FILES needs to be set up to direct Quillet/Brannic to its present location.");
        printText("Please refer readmeQuillet.txt/readmeBrannic.txt files for more details");
        return 10;
    }
    std::string path = directory;
    if (!path.empty() && path.back() != '/' && path.back() != '\\')
        path += '/';
    path += name;
    file.reset(std::fopen(path.c_str(), "rb"));
    if (file != nullptr)
        return 0;
    printText("\n**** ERROR **** Unable to locate %s", name);
    printText("%s file is not found under current directory and path pointed by ZELKOR_SUPPORT_FILES "
              "environmental variable",
              std::strcmp(name, kQuenzaBootstrap) == 0 ? kQuenzaBootstrap : "ostrelBootstrap.fw");
    return 4;
}

// The whole file: 0, 7 or 8.
ZELKOR_STATUS readWhole(FILE* file, std::vector<uint8_t>& bytes) {
    if (std::fseek(file, 0, SEEK_END) != 0)
        return 8;
    const long length = std::ftell(file);
    if (length < 0 || std::fseek(file, 0, SEEK_SET) != 0)
        return 8;
    try {
        bytes.assign(static_cast<size_t>(length), 0);
    } catch (const std::bad_alloc&) {
        return 7;
    }
    if (length > 0 && std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size())
        return 8;
    return 0;
}

uint32_t wordAt(const std::vector<uint8_t>& bytes, size_t index) {
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i)
        word |= static_cast<uint32_t>(bytes[index * 4 + i]) << (8 * i);
    return word;
}

bool flushBoth(SERIAL_PORT_HANDLE* port) {
    return osal_serialPortEmptyBuffer(port, kSerialFlushOutput) == kSerialOk &&
           osal_serialPortEmptyBuffer(port, kSerialFlushInput) == kSerialOk;
}

} // namespace

ZELKOR_STATUS downloadImageInRam(COM_INSTANCE* instance, uint32_t secondary, FILE* image) {
    constexpr const char* fn = "downloadImageInRam";
    if (instance == nullptr)
        return 1;
    if (instance->port == nullptr || instance->handle == nullptr)
        return 2;
    const bool quenza = quenzaConnection(instance);
    OwnedFile owned;
    FILE* file = image;
    if (file == nullptr) {
        const char* name = quenza ? kQuenzaBootstrap : secondary != 0 ? kOstrelSecondary : kOstrelBootstrap;
        if (!quenza) {
            const REGISTER_OP required = secondary != 0 ? pbs_operation : hws_operation;
            if (instance->registerOp != required) {
                comLog(instance, fn, ZELKOR_LOG_ERROR,
                       "Invalid serial port operation for downloading Primary bootstrap **** FAILED ****");
                return 3;
            }
        }
        if (const ZELKOR_STATUS found = openSupportFile(name, owned); found != 0)
            return found;
        file = owned.get();
    }
    std::vector<uint8_t> bytes;
    if (const ZELKOR_STATUS status = readWhole(file, bytes); status != 0)
        return status;
    if (!flushBoth(instance->port))
        return 11;

    // Whole words only: bytes past the last multiple of four are not sent.
    const size_t words = bytes.size() / 4;
    for (size_t i = 0; i < words; ++i) {
        const uint32_t address = static_cast<uint32_t>(i * 4);
        const uint32_t word = wordAt(bytes, i);
        if (quenza) {
            if (writeBinDwordDataQuenza(instance->port, address, word) != kSerialOk) {
                printText("downloadImageInRam: writeBinDwordDataQuenza failed at address %u.\n", address);
                return 9;
            }
            if (readGen3Prompt(instance, "after Dword write during download") != 0)
                return 9;
        } else {
            if (comWriteWord(instance, address, word) != 0)
                return 9;
            if (secondary == 0)
                osal_serialPortEmptyBuffer(instance->port, kSerialFlushOutput);
        }
        const size_t inPage = i % kPageWords;
        const bool report = image != nullptr ? inPage == 0 : quenza ? inPage % kQuenzaBootstrapProgressWords == 0 : inPage == 0;
        if (report)
            progress(instance);
    }
    return 0;
}

ZELKOR_STATUS postValidateRamdebugImage(COM_INSTANCE* instance, FILE* image) {
    if (instance == nullptr || image == nullptr)
        return 1;
    if (instance->port == nullptr || instance->handle == nullptr)
        return 2;
    std::vector<uint8_t> bytes;
    if (const ZELKOR_STATUS status = readWhole(image, bytes); status != 0)
        return status;
    if (!flushBoth(instance->port))
        return 11;
    const size_t words = bytes.size() / 4;
    for (size_t i = 0; i < words; ++i) {
        uint32_t word = 0;
        if (hws_operation_quenza(instance->port, kReadWord, static_cast<uint32_t>(i * 4), 0, &word,
                                 instance->expander.revisionCode) != kSerialOk) {
            printText("\nERROR: FAILED to receive %% response %s\n", "after Dword read during post-validation");
            return kFailure;
        }
        if (i % kPageWords == 0)
            progress(instance);
        // Only the words sent are compared.
        if (word != wordAt(bytes, i))
            return kFailure;
    }
    return 0;
}

ZELKOR_STATUS doHws115200(COM_INSTANCE* instance, FILE* image, uint8_t postValidate) {
    constexpr const char* fn = "doHws115200";
    if (instance == nullptr)
        return 5;
    if (instance->port == nullptr || instance->handle == nullptr)
        return 4;
    const bool quenza = quenzaConnection(instance);
    instance->registerOp = quenza ? hws_operation_quenza : hws_operation;
    if (instance->expander.productId == 0) {
        const ZELKOR_STATUS id = quenza ? getQuenzaIDAndRevision(instance) : getOstrelIDAndRevision(instance);
        if (id != 0)
            return kFailure;
    }
    const uint32_t armControl = quenza ? kQuenzaArmControl : kOstrelArmControl;
    if (quenza) {
        osal_sleepMs(5);
        flushBoth(instance->port);
    }
    if (comWriteWord(instance, armControl, 0) != 0) {
        if (quenza)
            printText("\nERROR: FAILED to receive %% response %s\n", "after disabling ARM");
        comLog(instance, fn, ZELKOR_LOG_ERROR, "Failed to disable ARM");
        return kFailure;
    }
    if (downloadImageInRam(instance, 0, image) != 0) {
        printText(image != nullptr ? "ERROR: Download Ramdebug failed." : "ERROR: Download Bootstrap failed.");
        return kFailure;
    }
    if (image != nullptr) {
        printText("Download Complete.");
        if (postValidate == 1) {
            printText("\nPost-validating.");
            if (postValidateRamdebugImage(instance, image) != 0) {
                printText("ERROR: Post Validation of ramdebug image failed.");
                return kFailure;
            }
        }
    }
    if (comWriteWord(instance, quenza ? kQuenzaBootAddress : kOstrelBootAddress, quenza ? 0 : kOstrelBootFromRam) !=
        0) {
        comLog(instance, fn, ZELKOR_LOG_ERROR, "Failed to modify the boot address");
        return kFailure;
    }
    if (quenza) {
        if (comWriteWord(instance, kQuenzaMisc, kQuenzaMiscAfterLoad) != 0)
            return kFailure;
    } else {
        uint32_t misc = 0;
        if (comReadWord(instance, kOstrelMisc, &misc) != 0 ||
            comWriteWord(instance, kOstrelMisc, misc | kOstrelBadSignature) != 0)
            return kFailure;
    }
    if (comWriteWord(instance, armControl, 1) != 0)
        return kFailure;
    return 0;
}

ZELKOR_STATUS disableWatchdog(COM_INSTANCE* instance) {
    if (instance == nullptr)
        return 5;
    if (instance->port == nullptr || instance->handle == nullptr)
        return 4;
    if (!flushBoth(instance->port))
        return kFailure;
    struct Control {
        uint32_t address;
        const char* name;
    };
    const Control controls[] = {{kWatchdogInt, "WatchdogIntCtrl"}, {kWatchdogRst, "WatchdogRstCtrl"}};
    uint32_t values[2] = {};
    for (int i = 0; i < 2; ++i) {
        if (comReadWord(instance, controls[i].address, &values[i]) != 0) {
            printText("\nERROR: FAILED to receive %% response after reading %s register\n", controls[i].name);
            return kFailure;
        }
    }
    bool changed = false;
    for (int i = 0; i < 2; ++i) {
        if ((values[i] & kWatchdogEnabled) == 0)
            continue;
        if (comWriteWord(instance, controls[i].address, values[i] & ~kWatchdogEnabled) != 0) {
            printText("ERROR: Failed to disable %s Register.", controls[i].name);
            return kFailure;
        }
        uint32_t again = 0;
        if (comReadWord(instance, controls[i].address, &again) != 0 || (again & kWatchdogEnabled) != 0) {
            printText("\nERROR: FAILED to receive %% response when verifying the %s register value\n",
                      controls[i].name);
            return kFailure;
        }
        changed = true;
    }
    printText(changed ? "INFO: Watchdog is disabled successfully." : "\nINFO: Watchdog is already disabled.");
    return 0;
}
