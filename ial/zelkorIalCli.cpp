// Firmware command-line interface module "IAL-CLI": the expander's firmware console on a serial port,
// directly or through the debug port's SDB bypass. Operations are reached only through the query
// function; instances live in the serial modules' shared instance list.
#include "core/modules.h"
#include "ial/cliPort.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace {

constexpr const char* kModule = "zelkor_ial_CLI";
constexpr ZELKOR_STATUS kFailure = 1;
constexpr ZELKOR_STATUS kInvalidInstance = 4;
constexpr ZELKOR_STATUS kInvalidArgument = 5;
constexpr ZELKOR_STATUS kNoMemory = 6;
constexpr ZELKOR_STATUS kNotInitialised = 7;

// The handle of the last open; cleared when that handle's instance closes.
ZELKOR_INSTANCE* sPtrZelkorHandle = nullptr;

void printText(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

void progress(const ZELKOR_INSTANCE* handle) {
    if (handle != nullptr && handle->progress != nullptr)
        handle->progress(1, 0);
}

// The listed instance with its record, or null after the module's message.
COM_INSTANCE* usable(void* instance, ZELKOR_STATUS* status) {
    auto* com = static_cast<COM_INSTANCE*>(instance);
    *status = kInvalidInstance;
    if (!comInstanceListed(com)) {
        printText("\n**** ERROR **** Invalid ZELKOR handle");
        return nullptr;
    }
    if (com->handle == nullptr) {
        printText("\n**** ERROR **** Invalid ZELKOR argument");
        return nullptr;
    }
    *status = 0;
    return com;
}

} // namespace

ZELKOR_STATUS cli_operation(SERIAL_PORT_HANDLE* port, uint32_t operation, uint32_t address, uint32_t data,
                            void* out, uint8_t /*revision*/) {
    if (port == nullptr || ((operation & CLI_OP_WRITE) == 0 && out == nullptr))
        return static_cast<ZELKOR_STATUS>(CLI_BAD_ARGUMENT);
    ComLine line(port);
    uint32_t value = 0;
    const int32_t status = cliRegisterAccess(CliLink{line, sPtrZelkorHandle}, operation, address, data, &value);
    if ((operation & CLI_OP_WRITE) == 0) {
        if ((operation & CLI_OP_BYTE) != 0)
            *static_cast<uint8_t*>(out) = static_cast<uint8_t>(value);
        else
            std::memcpy(out, &value, sizeof value);
    }
    return static_cast<ZELKOR_STATUS>(status);
}

namespace {

// The target of one operation on the instance: its line, record and register operation.
struct Session {
    explicit Session(COM_INSTANCE* com)
        : line(com->port),
          target{CliLink{line, com->handle}, com->handle, com->expander,
                 cliRegisterOver(com->registerOp, com->port, com->expander.revisionCode), com->registerOp == cli_operation} {}
    ComLine line;
    CliTarget target;
};

ZELKOR_STATUS cliVersion(uint8_t* major, uint8_t* minor) {
    if (major == nullptr || minor == nullptr)
        return kInvalidArgument;
    *major = 1;
    *minor = 0;
    return 0;
}

ZELKOR_STATUS cliOpen(ZELKOR_INSTANCE* handle, uint64_t target, void** out) {
    if (!comEnsureInstanceList()) {
        printText("\n**** ERROR **** Failed to Initialize Library");
        return kNotInitialised;
    }
    if (handle == nullptr || target == 0 || out == nullptr) {
        printText("\n**** ERROR **** Invalid Arguments");
        return kInvalidArgument;
    }
    *out = nullptr;
    const char* path = reinterpret_cast<const char*>(static_cast<uintptr_t>(target));
    auto* com = static_cast<COM_INSTANCE*>(std::calloc(1, sizeof(COM_INSTANCE)));
    if (com == nullptr) {
        printText("\n**** ERROR **** Unable to allocate Memory");
        return kNoMemory;
    }
    com->handle = handle;
    sPtrZelkorHandle = handle;
    handle->designatedRegions = 1;
    progress(handle);

    ComPort port;
    CliOpenState state;
    ZELKOR_STATUS status = cliOpenPasses(port, handle, path, com->expander, state);
    progress(handle);
    if (status == 0) {
        progress(handle);
        com->port = port.release();
        com->registerOp = state.onConsole ? cli_operation : hws_operation_quenza_Cli;
        com->sdbBypassed = state.sdbBypassed ? 1 : 0;
        com->firmwareUart[0] = state.uart.baudIndex;
        com->firmwareUart[1] = state.uart.dataBits;
        com->firmwareUart[2] = state.uart.stopBits;
        com->firmwareUart[3] = state.uart.parity;
        if (state.quenza)
            gChipTypeFlag = 1;
        if (!comAddInstance(com)) {
            osal_serialPortClose(com->port);
            status = kNoMemory;
        }
    }
    if (status != 0) {
        std::free(com);
        return status;
    }
    *out = com;
    return 0;
}

ZELKOR_STATUS cliClose(void* instance) {
    ZELKOR_STATUS status = 0;
    COM_INSTANCE* com = usable(instance, &status);
    if (com == nullptr)
        return status;
    if (com->sdbBypassed != 0) {
        Session session(com);
        CliOpenState state;
        sdbBypass(session.target.registerAccess, com->handle, false, state);
    }
    if (osal_serialPortClose(com->port) != kSerialOk) {
        printText("\n**** ERROR **** Unable to close serial port");
        return kFailure;
    }
    com->port = nullptr;
    if (!comRemoveInstance(com)) {
        printText("\n**** ERROR **** Invalid CLI instance");
        return kFailure;
    }
    if (sPtrZelkorHandle == com->handle)
        sPtrZelkorHandle = nullptr;
    std::free(com);
    return 0;
}

// Runs an operation on a listed instance with its record, over a session of its own.
template <typename F> ZELKOR_STATUS withSession(void* instance, F&& operation) {
    ZELKOR_STATUS status = 0;
    COM_INSTANCE* com = usable(instance, &status);
    if (com == nullptr)
        return status;
    Session session(com);
    return operation(session.target);
}

ZELKOR_STATUS cliGetExpandersOp(void* instance, ZELKOR_EXPANDER_LIST** out) {
    return withSession(instance, [&](CliTarget& target) { return cliGetExpanders(target, out); });
}

ZELKOR_STATUS cliDownloadOp(void* instance, ZELKOR_REGION* region, uint32_t offset, uint32_t size, FILE* file,
                            uint8_t* buffer) {
    return withSession(instance, [&](CliTarget& target) {
        return cliDownloadRegion(target, region, offset, size, file, buffer);
    });
}

ZELKOR_STATUS cliUploadOp(void* instance, ZELKOR_REGION* region, uint32_t offset, uint32_t size, FILE* file,
                          uint8_t* buffer) {
    return withSession(instance, [&](CliTarget& target) {
        return cliUploadRegion(target, region, offset, size, file, buffer);
    });
}

ZELKOR_STATUS cliEraseOp(void* instance, ZELKOR_REGION* region) {
    return withSession(instance, [&](CliTarget& target) { return cliEraseRegion(target, region); });
}

struct Operation {
    const char* name;
    ZELKOR_GENERIC_FUNCTION function;
};

const Operation kOperations[] = {
    {"zelkor_ial_open", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(cliOpen)},
    {"zelkor_ial_close", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(cliClose)},
    {"zelkor_ial_version", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(cliVersion)},
    {"zelkor_ial_getExpanders", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(cliGetExpandersOp)},
    {"zelkor_ial_downloadRegion", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(cliDownloadOp)},
    {"zelkor_ial_uploadRegion", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(cliUploadOp)},
    {"zelkor_ial_eraseRegion", reinterpret_cast<ZELKOR_GENERIC_FUNCTION>(cliEraseOp)},
};

static_assert(std::is_same_v<decltype(&cliOpen), IAL_OPEN_FUNCTION>);
static_assert(std::is_same_v<decltype(&cliClose), IAL_CLOSE_FUNCTION>);
static_assert(std::is_same_v<decltype(&cliVersion), IAL_VERSION_FUNCTION>);
static_assert(std::is_same_v<decltype(&cliGetExpandersOp), IAL_GET_EXPANDERS_FUNCTION>);
static_assert(std::is_same_v<decltype(&cliDownloadOp), IAL_TRANSFER_FUNCTION>);
static_assert(std::is_same_v<decltype(&cliUploadOp), IAL_TRANSFER_FUNCTION>);
static_assert(std::is_same_v<decltype(&cliEraseOp), IAL_ERASE_FUNCTION>);

} // namespace

extern "C" ZELKOR_GENERIC_FUNCTION ial_cli_query_symbol(const char* name) {
    if (name == nullptr)
        return nullptr;
    for (const Operation& operation : kOperations)
        if (std::strcmp(operation.name, name) == 0)
            return operation.function;
    return nullptr;
}
