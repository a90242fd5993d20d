// Shared by the two serial interface modules (debug port and firmware command line): the instance record,
// the process-wide instance list, the register operations of the debug-port programs, the bootstrap
// commands, the prompt probes and the chip identification. Internal to the library.
#ifndef ZELKOR_COM_INSTANCE_H
#define ZELKOR_COM_INSTANCE_H

#include "core/zelkor.h"
#include "osal/osalCom.h"

#include <cstdint>
#include <functional>

// A register access: operation bits (bit 0 write, bit 3 one byte), the expander address, the data to
// write, the out-value (a byte or a word by bit 3), the chip's revision code. 0, a negative port status,
// or 1; -2 for a read without out-value or a null port.
typedef ZELKOR_STATUS (*REGISTER_OP)(SERIAL_PORT_HANDLE* port, uint32_t operation, uint32_t address,
                                     uint32_t data, void* value, uint8_t revision);

constexpr uint32_t kRegisterWrite = 0x1;
constexpr uint32_t kRegisterByte = 0x8;
constexpr uint32_t kReadWord = 0;
constexpr uint32_t kWriteWord = kRegisterWrite;
constexpr uint32_t kReadByte = kRegisterByte;
constexpr uint32_t kWriteByte = kRegisterByte | kRegisterWrite;

struct COM_INSTANCE {
    ZELKOR_INSTANCE* handle;
    SERIAL_PORT_HANDLE* port;
    ZELKOR_EXPANDER expander;
    REGISTER_OP registerOp;
    uint32_t sdbBypassed;     // firmware command-line module only
    uint32_t firmwareUart[4]; // baud index, data bits, stop bits, parity; firmware command-line module only
};

// Live serial instances of both modules; created by the first open, never owns the instances.
extern LL_LIST* gComInstanceList;
// 2 while the family Quenza boot ROM is talked to at 115200 8N1, 3 once its bootstrap runs at 57600 8N1.
extern uint32_t gQuenzaConnectionFlag;

// True when the instance is in gComInstanceList (the list's cursor is then on it).
bool comInstanceListed(const COM_INSTANCE* instance);
// Creates the list when missing; false when that fails.
bool comEnsureInstanceList();
// Adds the instance at the tail; false when no node could be allocated.
bool comAddInstance(COM_INSTANCE* instance);
// Removes a listed instance; false when it is not listed.
bool comRemoveInstance(COM_INSTANCE* instance);

// ---- register operations of the four debug-port programs ----

ZELKOR_STATUS hws_operation(SERIAL_PORT_HANDLE* port, uint32_t operation, uint32_t address, uint32_t data,
                            void* value, uint8_t revision);
ZELKOR_STATUS hws_operation_quenza(SERIAL_PORT_HANDLE* port, uint32_t operation, uint32_t address,
                                   uint32_t data, void* value, uint8_t revision);
ZELKOR_STATUS hws_operation_quenza_Cli(SERIAL_PORT_HANDLE* port, uint32_t operation, uint32_t address,
                                       uint32_t data, void* value, uint8_t revision);
ZELKOR_STATUS pbs_operation(SERIAL_PORT_HANDLE* port, uint32_t operation, uint32_t address, uint32_t data,
                            void* value, uint8_t revision);
ZELKOR_STATUS pbs_operation_quenza(SERIAL_PORT_HANDLE* port, uint32_t operation, uint32_t address,
                                   uint32_t data, void* value, uint8_t revision);
// One boot-ROM word write frame; its prompt byte is left for the caller.
ZELKOR_STATUS writeBinDwordDataQuenza(SERIAL_PORT_HANDLE* port, uint32_t address, uint32_t data);
ZELKOR_STATUS writeBinDwordDataQuenzaCli(SERIAL_PORT_HANDLE* port, uint32_t address, uint32_t data);

// The "set smartcli" busy flag of the option block of the debug-port module's last live open (0 when
// none is live); hws_operation_quenza flushes both queues before each frame while it is set.
uint8_t comSmartCliBusy();

// ---- bootstrap commands ----

// Flash write through the bootstrap: 0, 1, 4 (no instance or port), 5 (no data or length 0).
ZELKOR_STATUS pbs_f_operation(COM_INSTANCE* instance, uint32_t flashType, uint32_t offset, const uint8_t* data,
                              uint32_t length);
ZELKOR_STATUS pbs_f_operation_quenza(COM_INSTANCE* instance, uint32_t flashType, uint32_t offset,
                                     const uint8_t* data, uint32_t length);
// Block read through the bootstrap: 0 with *got bytes, 1, 4, 5.
ZELKOR_STATUS pbs_rB_operation(COM_INSTANCE* instance, uint8_t* buffer, uint32_t address, uint32_t length,
                               uint32_t* got);
ZELKOR_STATUS pbs_rB_operation_Gen3(COM_INSTANCE* instance, uint8_t* buffer, uint32_t address, uint32_t length,
                                    uint32_t* got);
// Family Quenza bootstrap baud switch: step 0 sends the command, step 1 the three zero bytes.
ZELKOR_STATUS pbs_setBootstrapBaudrate_115200(SERIAL_PORT_HANDLE* port, uint32_t step);
// Family Quenza bootstrap back to the boot ROM's serial debug mode.
ZELKOR_STATUS pbs_SwitchToSdb(SERIAL_PORT_HANDLE* port);

// ---- prompt probes ----

// Sends the probe for the program expected and reads up to size bytes of its answer into the zeroed
// buffer; the status of the write or the read, with *count bytes read.
ZELKOR_STATUS readConnectionPrompt(SERIAL_PORT_HANDLE* port, uint8_t* buffer, uint32_t size, uint32_t* count,
                                   uint32_t sleep);
// One prompt byte of the family Quenza boot ROM; 1 after the message with the label when none came.
ZELKOR_STATUS readGen3Prompt(COM_INSTANCE* instance, const char* label);

// What an answer of readConnectionPrompt says runs on the port.
enum class ComProgram { None, OstrelBootstrap, QuenzaBootstrap, QuenzaRom, OstrelMonitor, Other };
ComProgram classifyConnectionAnswer(const uint8_t* answer, uint32_t count);

// ---- identification ----

// A register access as one module makes it (operation bits as REGISTER_OP, the word read into value):
// 0 on success, anything else a failure.
using ComRegisterAccess =
    std::function<int32_t(uint32_t operation, uint32_t address, uint32_t data, uint32_t* value)>;

// How a module reaches a family Ostrel chip for its identification and reports it.
struct ComOstrelProbe {
    ComRegisterAccess access;
    // The board value that tells the switch board from the 36-port one: 0, or the status to end with.
    std::function<ZELKOR_STATUS(uint32_t* board)> readBoard;
    // One log line of the identification at the level.
    std::function<void(uint32_t level, const char* text)> log;
    const char* revisionFailure; // logged when probing revision 2 fails
};

// The family Ostrel identification: the signature, the revision (revision 2 probed on the miscellaneous
// configuration), the product table. 0; 1 on a failing access; 19 for an unknown product; for the
// product whose board names the model, the board reader's failure.
ZELKOR_STATUS comIdentifyOstrel(const ComOstrelProbe& probe, ZELKOR_EXPANDER& record);

ZELKOR_STATUS getOstrelIDAndRevision(COM_INSTANCE* instance);
ZELKOR_STATUS getQuenzaIDAndRevision(COM_INSTANCE* instance);
ZELKOR_STATUS getExpanderSASAddress(COM_INSTANCE* instance);

// A register access through the instance's operation with its revision code.
ZELKOR_STATUS comReadWord(COM_INSTANCE* instance, uint32_t address, uint32_t* word);
ZELKOR_STATUS comWriteWord(COM_INSTANCE* instance, uint32_t address, uint32_t word);

// Logging of both serial modules' shared code under the debug-port module's name.
void comLog(const COM_INSTANCE* instance, const char* function, uint32_t level, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

#endif
