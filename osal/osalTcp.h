// Socket layer and request protocol of the TCP interface: a client connection to the expander's
// management port carrying buffer commands in framed requests, and the replies that come back.
// Internal to the library; the TCP interface module is its one user.
#ifndef OSAL_TCP_H
#define OSAL_TCP_H

#include "core/zelkor.h"

#include <cstddef>
#include <cstdint>

// ---- socket layer ----

constexpr uint16_t kTcpPort = 5574;
constexpr uint32_t kTcpReceiveTimeoutSeconds = 40;

// Connects to the dotted IPv4 address on the management port; the socket, or -1.
int osal_tcpConnOpen(const char* address);
// Sends every byte; 0, or -1 when a send fails (a closed peer never raises SIGPIPE).
int osal_tcpConnWrite(int socket, const void* data, uint32_t length, uint32_t* sent);
// One receive of at most length bytes; 0 (also when the peer closed: received is then 0),
// kTcpReadReset on a connection reset, kTcpReadFailed on any other failure, the time-out included.
int osal_tcpConnRead(int socket, void* buffer, uint32_t length, uint32_t* received);
// Closes the socket unless it is negative; 0.
int osal_tcpConnClose(int socket);

constexpr int kTcpReadReset = -8;
constexpr int kTcpReadFailed = -9;

// ---- frames ----

constexpr size_t kTcpTunnelAddressSize = 8;
constexpr size_t kTcpCdbSize = 10;

// The SAS-address query, 12 bytes.
struct TCP_SAS_ADDRESS_QUERY {
    uint8_t frameType; // 0x08
    uint8_t transactionId;
    uint8_t headerCode; // 0x08
    uint8_t reserved;
    uint8_t frameLength[4]; // 12
    uint8_t queryCode[4];   // 0x000003FC
};
static_assert(sizeof(TCP_SAS_ADDRESS_QUERY) == 12, "TCP_SAS_ADDRESS_QUERY is 12 bytes");

// The request header, 50 bytes; a write request carries its data right after it.
struct TCP_REQUEST_HEADER {
    uint8_t frameType; // 0x02 read, 0x01 write
    uint8_t transactionId;
    uint8_t headerCode; // 0x0A
    uint8_t reserved3;
    uint8_t bytesSent[4];   // 50 for a read, data length + 50 for a write
    uint8_t totalLength[4]; // data length + 50
    uint8_t timeout[4];     // 300000
    uint8_t tunnelAddress[kTcpTunnelAddressSize];
    uint8_t reserved24[11];
    uint8_t cdbLength; // 0x0A
    uint8_t dataLength[4];
    uint8_t cdb[kTcpCdbSize];
};
static_assert(sizeof(TCP_REQUEST_HEADER) == 50, "TCP_REQUEST_HEADER is 50 bytes");

constexpr uint8_t kTcpFrameQuery = 0x08;
constexpr uint8_t kTcpFrameWrite = 0x01;
constexpr uint8_t kTcpFrameRead = 0x02;
constexpr uint8_t kTcpFrameData = 0x04;
constexpr uint8_t kTcpFrameResponse = 0x05;

// Reply frames: DATA carries its length n in bytes 24..27 and the data from byte 28; RESPONSE
// carries its status in bytes 24..27. Both headers are 28 bytes.
constexpr size_t kTcpReplyHeaderSize = 28;
constexpr size_t kTcpSasAddressReplySize = 32;
constexpr size_t kTcpCommBufferSize = 300;

constexpr uint32_t kTcpResponseSuccess = 0;
constexpr uint32_t kTcpResponseBusy = 8;

// Encodes the buffer command carried in a request (operation 0x3C read or 0x3B write). False, with
// the command left zeroed, when the offset or the length does not fit its field.
bool tcpPrepareCdb(uint8_t (&cdb)[kTcpCdbSize], uint8_t operation, uint8_t bufferId, uint32_t offset,
                   uint32_t length, uint8_t descriptorFlag);

void tcpBuildSasAddressQuery(TCP_SAS_ADDRESS_QUERY& query, uint8_t transactionId);
void tcpBuildRequestHeader(TCP_REQUEST_HEADER& header, uint8_t frameType, uint8_t transactionId,
                           uint32_t dataLength, const uint8_t* tunnelAddress,
                           const uint8_t (&cdb)[kTcpCdbSize]);

// Reply parsers: each is given what has arrived and answers false while its frame is incomplete.
bool tcpParseSasAddressReply(const uint8_t* reply, size_t arrived, uint32_t* sasHigh, uint32_t* sasLow,
                             uint8_t (&tunnelAddress)[kTcpTunnelAddressSize]);
bool tcpParseDataHeader(const uint8_t* frame, size_t arrived, uint32_t* dataLength);
bool tcpParseResponse(const uint8_t* frame, size_t arrived, uint32_t* status);

// ---- request protocol ----

// A busy answer (or an unexpected frame before the exchange got going) is followed by a resend after a
// short wait. An expander stays busy through long flash work, so the request is given up only after it
// has been busy for as long as the time-out it carries.
constexpr uint32_t kTcpRequestTimeoutMs = 300000;
constexpr uint32_t kTcpBusyWaitMs = 200;
constexpr uint32_t kTcpBusyRetries = kTcpRequestTimeoutMs / kTcpBusyWaitMs;
// Frames that neither carry wanted data nor end the exchange (empty or surplus DATA, late busy
// answers) are tolerated up to this many per exchange.
constexpr uint32_t kTcpMaxIdleFrames = 64;
// Largest single receive.
constexpr uint32_t kTcpReceiveChunk = 1052;

// Process-wide protocol state: the transaction counter put into every query and request.
extern uint8_t gTransactionID;

// Sends the SAS-address query and reads its reply: the expander's SAS address halves, and the tunnel
// address, which is kept for tcpTunnelAddress. 0, or 1 when the exchange fails or the reply is short.
ZELKOR_STATUS tcpQuerySasAddress(int socket, uint32_t* sasHigh, uint32_t* sasLow);
// The tunnel address of the most recent successful query (zero before one).
const uint8_t* tcpTunnelAddress();

// Reads length bytes of the buffer at offset. 0 when all of them arrived and no failing response came
// back; 1 otherwise; 5 for a null pointer, a length of 0 or an offset or length the command cannot
// carry; 6 when memory runs out.
ZELKOR_STATUS tcpReadBuffer(int socket, uint8_t bufferId, uint8_t* data, uint32_t offset, uint32_t length,
                            const uint8_t* tunnelAddress, uint8_t descriptorFlag);
// Writes length bytes to the buffer at offset. 0 on RESPONSE status 0; 1 on a failed send, another
// status or too many busy answers; 62 when the connection fails or closes while the reply is awaited;
// 5 and 6 as for the read.
ZELKOR_STATUS tcpWriteBuffer(int socket, uint8_t bufferId, const uint8_t* data, uint32_t offset,
                             uint32_t length, const uint8_t* tunnelAddress, uint8_t descriptorFlag);

constexpr ZELKOR_STATUS kTcpStatusConnectionLost = 62;

// Returns the transaction counter, the tunnel address and the reply buffer to their start values.
void tcpResetProtocolState();

#endif
