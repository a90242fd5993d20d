// Frames and texts exchanged with the four programs that answer on an expander's serial debug port: the
// family Ostrel boot-ROM monitor (text pokes and dumps with echo), the family Quenza boot-ROM monitor (byte
// frames, one '%' prompt byte per exchange), and the two bootstrap loaders (byte frames, '#' prompts).
// Each program has one frame builder and one reply check; a reply is judged by its length and shape first.
#include "ial/comInstance.h"

#include "osal/osalTime.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

uint32_t gQuenzaConnectionFlag = 2;

namespace {

constexpr ZELKOR_STATUS kFailure = 1;
constexpr ZELKOR_STATUS kInvalidInstance = 4;
constexpr ZELKOR_STATUS kInvalidArgument = 5;

// Reads of a prompt byte ('#') before giving up.
constexpr uint32_t kAckReads = 100;
// Bytes of a dump reply read at most.
constexpr uint32_t kDumpReplySize = 99;
// Bytes read from a bootstrap word or byte read reply at most.
constexpr uint32_t kPbsReadReplySize = 16;
constexpr uint32_t kPbsWordReplySize = 9;
constexpr uint32_t kPbsByteReplySize = 6;
constexpr uint32_t kPbsWriteReplySize = 5;
// A drain that reads this many bytes without the line falling silent gives up: the line chatters.
constexpr uint32_t kDrainLimit = 4096;
constexpr uint32_t kProbeSleepMs = 100;

constexpr uint8_t kQuenzaRomWrite = 'p';
constexpr uint8_t kQuenzaRomRead = 'g';
constexpr uint8_t kQuenzaRomPrompt = '%';
constexpr uint8_t kBootstrapPrompt = '#';
constexpr uint8_t kFrameStart[2] = {0xCA, 0xFE};

void printText(const char* format, ...) __attribute__((format(printf, 1, 2)));
void printText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

void putLe(std::vector<uint8_t>& frame, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        frame.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
void putBe(std::vector<uint8_t>& frame, uint32_t value) {
    for (int i = 3; i >= 0; --i)
        frame.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
uint32_t getLe(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}
uint32_t getBe(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | static_cast<uint32_t>(bytes[3]);
}

ZELKOR_STATUS writeFrame(SERIAL_PORT_HANDLE* port, const std::vector<uint8_t>& frame, uint32_t paced) {
    uint32_t written = 0;
    return osal_serialPortWrite(port, frame.data(), static_cast<uint32_t>(frame.size()), &written, paced);
}

// Reads exactly count bytes, or fails.
ZELKOR_STATUS readExactly(SERIAL_PORT_HANDLE* port, uint8_t* buffer, uint32_t count) {
    uint32_t got = 0;
    const ZELKOR_STATUS status = osal_serialPortRead(port, buffer, count, &got);
    if (status != kSerialOk)
        return status;
    return got == count ? kSerialOk : kSerialFailed;
}

// Single-byte reads until the byte is the prompt; false after kAckReads reads without it.
bool awaitPrompt(SERIAL_PORT_HANDLE* port, uint8_t prompt) {
    for (uint32_t i = 0; i < kAckReads; ++i) {
        uint8_t byte = 0;
        uint32_t got = 0;
        if (osal_serialPortRead(port, &byte, 1, &got) == kSerialOk && got == 1 && byte == prompt)
            return true;
    }
    return false;
}

// Reads and drops single bytes until the line falls silent; false when it never does.
bool drain(SERIAL_PORT_HANDLE* port) {
    for (uint32_t i = 0; i < kDrainLimit; ++i) {
        uint8_t byte = 0;
        uint32_t got = 0;
        if (osal_serialPortRead(port, &byte, 1, &got) != kSerialOk || got == 0)
            return true;
    }
    return false;
}

void flushBoth(SERIAL_PORT_HANDLE* port, ZELKOR_STATUS* status) {
    const ZELKOR_STATUS output = osal_serialPortEmptyBuffer(port, kSerialFlushOutput);
    const ZELKOR_STATUS input = osal_serialPortEmptyBuffer(port, kSerialFlushInput);
    if (status != nullptr)
        *status = output != kSerialOk ? output : input;
}

// ---- family Ostrel boot-ROM monitor ----

std::vector<uint8_t> monitorText(const char* format, unsigned value) {
    char text[16];
    const int n = std::snprintf(text, sizeof text, format, value);
    return std::vector<uint8_t>(text, text + n);
}

// The dump reply "\n  loc  CELL <= HH\n\n% ", judged by its bytes: true with the cell's byte when the
// reply has that shape and names the cell dumped.
bool parseDumpReply(const uint8_t* reply, uint32_t count, unsigned cell, uint8_t* value) {
    static constexpr char kHead[] = "\n  loc  ";
    static constexpr char kTail[] = "\n\n% ";
    const uint32_t head = sizeof kHead - 1;
    const uint32_t tail = sizeof kTail - 1;
    if (count < head + 1 + 4 + 2 + tail || std::memcmp(reply, kHead, head) != 0 ||
        std::memcmp(reply + count - tail, kTail, tail) != 0)
        return false;
    auto hexDigit = [](uint8_t c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    uint32_t i = head;
    unsigned shownCell = 0;
    uint32_t digits = 0;
    for (; i < count && hexDigit(reply[i]) >= 0; ++i, ++digits)
        shownCell = shownCell * 16 + static_cast<unsigned>(hexDigit(reply[i]));
    if (digits == 0 || digits > 2 || shownCell != cell)
        return false;
    if (count - i != 4 + 2 + tail || std::memcmp(reply + i, " <= ", 4) != 0)
        return false;
    const int high = hexDigit(reply[i + 4]);
    const int low = hexDigit(reply[i + 5]);
    if (high < 0 || low < 0)
        return false;
    *value = static_cast<uint8_t>(high * 16 + low);
    return true;
}

// A dump of one cell: the text written with its echo checked, then the reply read up to its "% ".
ZELKOR_STATUS dumpCell(SERIAL_PORT_HANDLE* port, unsigned cell, uint8_t* value) {
    osal_serialPortEmptyBuffer(port, kSerialFlushInput);
    const std::vector<uint8_t> text = monitorText("d %x\r", cell);
    for (uint8_t byte : text) {
        uint32_t written = 0;
        uint8_t echo = 0;
        uint32_t got = 0;
        if (osal_serialPortWrite(port, &byte, 1, &written, 0) != kSerialOk ||
            osal_serialPortRead(port, &echo, 1, &got) != kSerialOk || got != 1 || echo != byte) {
            printText("\n\nERROR: Echo timeout occurred in debug serial read operation");
            return kSerialFailed;
        }
    }
    std::array<uint8_t, kDumpReplySize> reply{};
    uint32_t count = 0;
    while (count < reply.size()) {
        uint32_t got = 0;
        if (osal_serialPortRead(port, reply.data() + count, 1, &got) != kSerialOk || got == 0)
            break;
        ++count;
        if (count >= 2 && reply[count - 2] == '%' && reply[count - 1] == ' ')
            break;
    }
    if (!parseDumpReply(reply.data(), count, cell, value)) {
        printText("\n\nERROR: Read failed in debug serial operation");
        return kSerialFailed;
    }
    return kSerialOk;
}

ZELKOR_STATUS poke(SERIAL_PORT_HANDLE* port, const std::vector<uint8_t>& text) {
    uint32_t echoed = 0;
    return osal_serialComDbgPortWrite(port, text.data(), static_cast<uint32_t>(text.size()), &echoed, 0);
}

// ---- family Quenza boot-ROM monitor ----

std::vector<uint8_t> quenzaRomFrame(uint8_t command, uint32_t address, const uint32_t* data) {
    std::vector<uint8_t> frame{command, 0x04};
    putBe(frame, address);
    if (data != nullptr)
        putBe(frame, *data);
    frame.push_back('\r');
    return frame;
}

// A read's reply: four data bytes, most significant first, and the prompt byte.
bool parseQuenzaRomReply(const uint8_t* reply, uint32_t count, uint32_t* word) {
    if (count != 5 || reply[4] != kQuenzaRomPrompt)
        return false;
    *word = getBe(reply);
    return true;
}

ZELKOR_STATUS quenzaRomExchange(SERIAL_PORT_HANDLE* port, uint32_t operation, uint32_t address, uint32_t data,
                                void* value) {
    if ((operation & kRegisterByte) != 0)
        return kSerialBadArgument; // the boot ROM has no byte access
    // Whatever an earlier exchange left unread must not shift this one's reply.
    osal_serialPortEmptyBuffer(port, kSerialFlushInput);
    if ((operation & kRegisterWrite) != 0) {
        if (const ZELKOR_STATUS status = writeFrame(port, quenzaRomFrame(kQuenzaRomWrite, address, &data), 0);
            status != kSerialOk)
            return status;
        uint8_t prompt = 0;
        if (const ZELKOR_STATUS status = readExactly(port, &prompt, 1); status != kSerialOk)
            return status;
        return prompt == kQuenzaRomPrompt ? kSerialOk : kSerialFailed;
    }
    if (value == nullptr)
        return kSerialBadArgument;
    *static_cast<uint32_t*>(value) = 0;
    if (const ZELKOR_STATUS status = writeFrame(port, quenzaRomFrame(kQuenzaRomRead, address, nullptr), 0);
        status != kSerialOk)
        return status;
    uint8_t reply[5] = {};
    uint32_t got = 0;
    if (const ZELKOR_STATUS status = osal_serialPortRead(port, reply, sizeof reply, &got); status != kSerialOk)
        return status;
    uint32_t word = 0;
    if (!parseQuenzaRomReply(reply, got, &word))
        return kSerialFailed;
    *static_cast<uint32_t*>(value) = word;
    return kSerialOk;
}

// ---- family Ostrel bootstrap ----

std::vector<uint8_t> ostrelBootstrapFrame(const char* command, uint32_t address, uint32_t data, bool byte) {
    std::vector<uint8_t> frame(command, command + 3);
    putLe(frame, address);
    if (byte)
        frame.push_back(static_cast<uint8_t>(data));
    else
        putLe(frame, data);
    return frame;
}

// "rB " with its prompts on both sides of the data: 0 with *got bytes, 1.
ZELKOR_STATUS ostrelBlockRead(const COM_INSTANCE* instance, SERIAL_PORT_HANDLE* port, uint8_t* buffer,
                              uint32_t address, uint32_t length, uint32_t* got) {
    *got = 0;
    osal_serialPortEmptyBuffer(port, kSerialFlushOutput);
    if (writeFrame(port, ostrelBootstrapFrame("rB ", address, length, false), 1) != kSerialOk) {
        comLog(instance, "pbs_rB_operation", ZELKOR_LOG_ERROR, "Write in pbs_rB_operation **** FAILED ****");
        printText("\n\nERROR: Write failed in pbs rB operation");
        return kFailure;
    }
    if (!awaitPrompt(port, kBootstrapPrompt)) {
        comLog(instance, "pbs_rB_operation", ZELKOR_LOG_ERROR, "Failed to read command ack");
        return kFailure;
    }
    if (osal_serialPortRead(port, buffer, length, got) != kSerialOk) {
        drain(port);
        comLog(instance, "pbs_rB_operation", ZELKOR_LOG_ERROR, "Reading data from Expander **** FAILED ****");
        return kFailure;
    }
    if (!awaitPrompt(port, kBootstrapPrompt)) {
        comLog(instance, "pbs_rB_operation", ZELKOR_LOG_ERROR, "Failed to read data ack");
        return kFailure;
    }
    return 0;
}

// ---- family Quenza bootstrap ----

std::vector<uint8_t> quenzaBootstrapFrame(uint8_t command, uint32_t first, const uint32_t* second,
                                          const uint8_t* data, uint32_t dataLength) {
    std::vector<uint8_t> frame(kFrameStart, kFrameStart + 2);
    frame.push_back(command);
    putLe(frame, first);
    if (second != nullptr)
        putLe(frame, *second);
    frame.insert(frame.end(), data, data + dataLength);
    return frame;
}

} // namespace

void comLog(const COM_INSTANCE* instance, const char* function, uint32_t level, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    LOG_FUNCTION log = instance != nullptr && instance->handle != nullptr && instance->handle->log != nullptr
                           ? instance->handle->log
                           : zelkor_messageLog;
    log("zelkor_ial_COM", function, ZELKOR_LOG_COM, level, 1, "%s", text);
}

ZELKOR_STATUS hws_operation(SERIAL_PORT_HANDLE* port, uint32_t operation, uint32_t address, uint32_t data,
                            void* value, uint8_t revision) {
    const bool write = (operation & kRegisterWrite) != 0;
    const bool byte = (operation & kRegisterByte) != 0;
    if (port == nullptr || (!write && value == nullptr))
        return kSerialBadArgument;
    uint8_t top = static_cast<uint8_t>(address >> 24);
    if (revision == 0)
        top = static_cast<uint8_t>((top & ~0x09U) | (operation & 0x09U));
    std::vector<std::vector<uint8_t>> pokes = {
        monitorText("p C %02x\r", 0) /* replaced below */, monitorText("p 0 %02x\r", address & 0xFF),
        monitorText("p 1 %02x\r", (address >> 8) & 0xFF), monitorText("p 2 %02x\r", (address >> 16) & 0xFF),
        monitorText("p 3 %02x\r", top), monitorText("p 8 %02x\r", (byte ? 2U : 0U) | (write ? 1U : 0U))};
    pokes[0] = std::vector<uint8_t>{'p', ' ', 'C', ' ', '0', '0', '\r'};
    if (write) {
        pokes.push_back(monitorText("p 4 %02x\r", data & 0xFF));
        if (!byte) {
            pokes.push_back(monitorText("p 5 %02x\r", (data >> 8) & 0xFF));
            pokes.push_back(monitorText("p 6 %02x\r", (data >> 16) & 0xFF));
            pokes.push_back(monitorText("p 7 %02x\r", (data >> 24) & 0xFF));
        }
    }
    for (const auto& text : pokes) {
        if (const ZELKOR_STATUS status = poke(port, text); status != kSerialOk) {
            printText("\n\nERROR: Echo timeout occured in debug serial operation");
            return status;
        }
    }
    poke(port, {'p', ' ', 'C', ' ', '0', '1', '\r'});
    poke(port, {'p', ' ', 'C', ' ', '0', '0', '\r'});
    if (write)
        return kSerialOk;

    const unsigned cells = byte ? 1 : 4;
    uint32_t assembled = 0;
    ZELKOR_STATUS status = kSerialOk;
    for (unsigned i = 0; i < cells; ++i) {
        uint8_t cellValue = 0;
        status = dumpCell(port, 4 + i, &cellValue);
        if (status != kSerialOk)
            break;
        assembled |= static_cast<uint32_t>(cellValue) << (8 * i);
    }
    if (byte)
        *static_cast<uint8_t*>(value) = static_cast<uint8_t>(assembled);
    else
        *static_cast<uint32_t*>(value) = assembled;
    return status;
}

ZELKOR_STATUS hws_operation_quenza(SERIAL_PORT_HANDLE* port, uint32_t operation, uint32_t address, uint32_t data,
                                   void* value, uint8_t /*revision*/) {
    if (port == nullptr)
        return kSerialBadArgument;
    if (comSmartCliBusy() == 1) {
        ZELKOR_STATUS flushed = kSerialOk;
        flushBoth(port, &flushed);
        if (flushed != kSerialOk)
            return kSerialFailed;
    }
    return quenzaRomExchange(port, operation, address, data, value);
}

ZELKOR_STATUS hws_operation_quenza_Cli(SERIAL_PORT_HANDLE* port, uint32_t operation, uint32_t address,
                                       uint32_t data, void* value, uint8_t /*revision*/) {
    if (port == nullptr)
        return kSerialBadArgument;
    return quenzaRomExchange(port, operation, address, data, value);
}

ZELKOR_STATUS writeBinDwordDataQuenza(SERIAL_PORT_HANDLE* port, uint32_t address, uint32_t data) {
    if (port == nullptr)
        return kSerialBadArgument;
    return writeFrame(port, quenzaRomFrame(kQuenzaRomWrite, address, &data), 0);
}

ZELKOR_STATUS writeBinDwordDataQuenzaCli(SERIAL_PORT_HANDLE* port, uint32_t address, uint32_t data) {
    return writeBinDwordDataQuenza(port, address, data);
}

ZELKOR_STATUS pbs_operation(SERIAL_PORT_HANDLE* port, uint32_t operation, uint32_t address, uint32_t data,
                            void* value, uint8_t /*revision*/) {
    const bool write = (operation & kRegisterWrite) != 0;
    const bool byte = (operation & kRegisterByte) != 0;
    if (port == nullptr || (!write && value == nullptr))
        return kSerialBadArgument;
    osal_serialPortEmptyBuffer(port, kSerialFlushOutput);
    osal_serialPortClearError(port);
    if (!write) {
        // The bootstrap has no register read: a block read of the access's size serves instead.
        uint8_t bytes[4] = {};
        uint32_t got = 0;
        const uint32_t length = byte ? 1 : 4;
        if (ostrelBlockRead(nullptr, port, bytes, address, length, &got) != 0 || got != length)
            return kSerialFailed;
        if (byte)
            *static_cast<uint8_t*>(value) = bytes[0];
        else
            *static_cast<uint32_t*>(value) = getLe(bytes);
        return kSerialOk;
    }
    if (writeFrame(port, ostrelBootstrapFrame(byte ? "wb " : "ww ", address, data, byte), 1) != kSerialOk) {
        printText(byte ? "\n\nERROR: Write failed in pbs byte write operation"
                       : "\n\nERROR: Write failed in pbs word write operation");
        return kSerialFailed;
    }
    uint8_t reply = 0;
    return readExactly(port, &reply, 1);
}

ZELKOR_STATUS pbs_operation_quenza(SERIAL_PORT_HANDLE* port, uint32_t operation, uint32_t address, uint32_t data,
                                   void* value, uint8_t /*revision*/) {
    const bool write = (operation & kRegisterWrite) != 0;
    const bool byte = (operation & kRegisterByte) != 0;
    if (port == nullptr || (!write && value == nullptr))
        return kSerialBadArgument;
    osal_serialPortEmptyBuffer(port, kSerialFlushOutput);
    osal_serialPortClearError(port);
    const uint32_t one = 1;
    if (write) {
        uint8_t bytes[4];
        for (int i = 0; i < 4; ++i)
            bytes[i] = static_cast<uint8_t>(data >> (8 * i));
        if (writeFrame(port, quenzaBootstrapFrame(byte ? 0x03 : 0x01, address, &one, bytes, byte ? 1 : 4), 1) !=
            kSerialOk) {
            printText(byte ? "\n\nERROR: Write failed in pbs byte write operation"
                           : "\n\nERROR: Write failed in pbs word write operation");
            return kSerialFailed;
        }
        uint8_t reply[kPbsWriteReplySize] = {};
        return readExactly(port, reply, sizeof reply);
    }
    if (writeFrame(port, quenzaBootstrapFrame(byte ? 0x0E : 0x04, address, &one, nullptr, 0), 1) != kSerialOk) {
        printText("\n\nERROR: Write failed in pbs read operation");
        return kSerialFailed;
    }
    uint8_t reply[kPbsReadReplySize] = {};
    uint32_t got = 0;
    if (osal_serialPortRead(port, reply, sizeof reply, &got) != kSerialOk || got == 0) {
        printText("\n\nERROR: Read failed in pbs read operation");
        return kSerialFailed;
    }
    // The reply's length says what it carries: the data, four status bytes and the prompt.
    const uint32_t expected = byte ? kPbsByteReplySize : kPbsWordReplySize;
    if (got != expected || reply[got - 1] != kBootstrapPrompt) {
        printText("\n\nERROR: Read failed in pbs read operation");
        return kSerialFailed;
    }
    if (byte)
        *static_cast<uint8_t*>(value) = reply[0];
    else
        *static_cast<uint32_t*>(value) = getLe(reply);
    return kSerialOk;
}

namespace {

ZELKOR_STATUS flashWrite(COM_INSTANCE* instance, const char* function, const std::vector<uint8_t>& frame,
                         const uint8_t* data, uint32_t length) {
    SERIAL_PORT_HANDLE* port = instance->port;
    osal_serialPortEmptyBuffer(port, kSerialFlushOutput);
    osal_serialPortClearError(port);
    if (writeFrame(port, frame, 1) != kSerialOk) {
        comLog(instance, function, ZELKOR_LOG_ERROR, "Write command in %s **** FAILED ****", function);
        printText("\n\nERROR: Failed to write command in pbs f operation");
        return kFailure;
    }
    if (!awaitPrompt(port, kBootstrapPrompt)) {
        comLog(instance, function, ZELKOR_LOG_ERROR, "Failed to read command ack");
        return kFailure;
    }
    uint32_t written = 0;
    if (osal_serialPortWrite(port, data, length, &written, 0) != kSerialOk) {
        comLog(instance, function, ZELKOR_LOG_ERROR, "Writing data in %s **** FAILED ****", function);
        printText("\n\nERROR: Failed to write data in pbs f operation");
        return kFailure;
    }
    if (!awaitPrompt(port, kBootstrapPrompt)) {
        comLog(instance, function, ZELKOR_LOG_ERROR, "Failed to read data ack");
        return kFailure;
    }
    return 0;
}

} // namespace

ZELKOR_STATUS pbs_f_operation(COM_INSTANCE* instance, uint32_t flashType, uint32_t offset, const uint8_t* data,
                              uint32_t length) {
    if (data == nullptr || length == 0)
        return kInvalidArgument;
    if (instance == nullptr || instance->port == nullptr)
        return kInvalidInstance;
    std::vector<uint8_t> frame{'f', static_cast<uint8_t>(flashType)};
    putLe(frame, offset);
    putLe(frame, length);
    return flashWrite(instance, "pbs_f_operation", frame, data, length);
}

ZELKOR_STATUS pbs_f_operation_quenza(COM_INSTANCE* instance, uint32_t /*flashType*/, uint32_t offset,
                                     const uint8_t* data, uint32_t length) {
    if (data == nullptr || length == 0)
        return kInvalidArgument;
    if (instance == nullptr || instance->port == nullptr)
        return kInvalidInstance;
    return flashWrite(instance, "pbs_f_operation_quenza", quenzaBootstrapFrame(0x07, offset, &length, nullptr, 0),
                      data, length);
}

ZELKOR_STATUS pbs_rB_operation(COM_INSTANCE* instance, uint8_t* buffer, uint32_t address, uint32_t length,
                               uint32_t* got) {
    if (buffer == nullptr || length == 0 || got == nullptr)
        return kInvalidArgument;
    if (instance == nullptr || instance->port == nullptr)
        return kInvalidInstance;
    return ostrelBlockRead(instance, instance->port, buffer, address, length, got);
}

ZELKOR_STATUS pbs_rB_operation_Gen3(COM_INSTANCE* instance, uint8_t* buffer, uint32_t address, uint32_t length,
                                    uint32_t* got) {
    if (buffer == nullptr || length == 0 || got == nullptr)
        return kInvalidArgument;
    if (instance == nullptr || instance->port == nullptr)
        return kInvalidInstance;
    *got = 0;
    SERIAL_PORT_HANDLE* port = instance->port;
    osal_serialPortEmptyBuffer(port, kSerialFlushOutput);
    if (writeFrame(port, quenzaBootstrapFrame(0x05, address, &length, nullptr, 0), 1) != kSerialOk) {
        comLog(instance, "pbs_rB_operation_Gen3", ZELKOR_LOG_ERROR,
               "Write command in pbs_rB_operation_Gen3 **** FAILED ****");
        printText("\n\nERROR: Write failed in pbs rB operation");
        return kFailure;
    }
    uint8_t leading = 0;
    if (readExactly(port, &leading, 1) != kSerialOk ||
        osal_serialPortRead(port, buffer, length, got) != kSerialOk) {
        drain(port);
        comLog(instance, "pbs_rB_operation_Gen3", ZELKOR_LOG_ERROR, "Reading data from Expander **** FAILED ****");
        return kFailure;
    }
    if (!awaitPrompt(port, kBootstrapPrompt)) {
        comLog(instance, "pbs_rB_operation_Gen3", ZELKOR_LOG_ERROR, "Failed to read data ack");
        return kFailure;
    }
    return 0;
}

ZELKOR_STATUS pbs_setBootstrapBaudrate_115200(SERIAL_PORT_HANDLE* port, uint32_t step) {
    if (port == nullptr)
        return kFailure;
    flushBoth(port, nullptr);
    const std::vector<uint8_t> frame =
        step == 0 ? std::vector<uint8_t>{0xCA, 0xFE, 0x0A, 0x00} : std::vector<uint8_t>{0x00, 0x00, 0x00};
    if (writeFrame(port, frame, 1) != kSerialOk) {
        printText("\n\nERROR: Write failed in pbs_setBootstrapBaudrate_115200 operation when Command is %u.\n",
                  step);
        return kFailure;
    }
    return 0;
}

ZELKOR_STATUS pbs_SwitchToSdb(SERIAL_PORT_HANDLE* port) {
    if (port == nullptr)
        return kFailure;
    flushBoth(port, nullptr);
    return writeFrame(port, {0xCA, 0xFE, 0x0B}, 1) == kSerialOk ? 0 : kFailure;
}

ZELKOR_STATUS readConnectionPrompt(SERIAL_PORT_HANDLE* port, uint8_t* buffer, uint32_t size, uint32_t* count,
                                   uint32_t sleep) {
    if (count != nullptr)
        *count = 0;
    if (port == nullptr || buffer == nullptr || size == 0 || count == nullptr)
        return kSerialBadArgument;
    uint32_t written = 0;
    const uint8_t cr = '\r';
    ZELKOR_STATUS status = kSerialOk;
    if (gChipTypeFlag == 0) {
        status = osal_serialPortWrite(port, &cr, 1, &written, 0);
        if (status != kSerialOk)
            return status;
        if (!drain(port))
            return kSerialFailed;
        status = osal_serialPortWrite(port, &cr, 1, &written, 0);
        if (sleep != 0)
            osal_sleepMs(kProbeSleepMs);
    } else if (gQuenzaConnectionFlag == 2) {
        static constexpr uint8_t kVersion[] = {'r', ',', '4', ',', '0', '\r'};
        status = osal_serialPortWrite(port, kVersion, sizeof kVersion, &written, 1);
    } else {
        status = osal_serialPortWrite(port, &cr, 1, &written, 0);
    }
    if (status != kSerialOk)
        return status;
    std::memset(buffer, 0, size);
    return osal_serialPortRead(port, buffer, size, count);
}

ComProgram classifyConnectionAnswer(const uint8_t* answer, uint32_t count) {
    if (answer == nullptr || count == 0)
        return ComProgram::None;
    if (count == 1 && answer[0] == kBootstrapPrompt)
        return ComProgram::OstrelBootstrap;
    if (count == 5 && answer[4] == kBootstrapPrompt)
        return ComProgram::QuenzaBootstrap;
    if ((count == 13 || count == 18) && answer[count - 1] == kQuenzaRomPrompt)
        return ComProgram::QuenzaRom;
    if (count == 4 && std::memcmp(answer + 1, "\n% ", 3) == 0)
        return ComProgram::OstrelMonitor;
    return ComProgram::Other;
}

ZELKOR_STATUS readGen3Prompt(COM_INSTANCE* instance, const char* label) {
    uint8_t byte = 0;
    uint32_t got = 0;
    if (instance == nullptr || instance->port == nullptr ||
        osal_serialPortRead(instance->port, &byte, 1, &got) != kSerialOk || got != 1) {
        printText("\nERROR: FAILED to receive %% response %s\n", label);
        comLog(instance, "readGen3Prompt", ZELKOR_LOG_ERROR, "FAILED to receive %% response %s", label);
        return kFailure;
    }
    return 0;
}
