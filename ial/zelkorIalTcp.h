// TCP interface module "IAL-TCP": the instance record and the module's instance list. Internal to the
// library; the core reaches the module only through ial_tcp_query_symbol.
#ifndef ZELKOR_IAL_TCP_H
#define ZELKOR_IAL_TCP_H

#include "core/zelkor.h"
#include "osal/osalTcp.h"

#include <cstdint>

// One connection to one expander's management port.
struct TCP_INSTANCE {
    ZELKOR_INSTANCE* handle;
    uint64_t socket;          // kTcpNoSocket when no connection was made
    ZELKOR_EXPANDER expander; // working record, handed out in copies by the expander listing
    // Tunnel address of this connection's last SAS-address query, carried by every request on it.
    uint8_t tunnelAddress[kTcpTunnelAddressSize];
    // Set once the chip behind this connection was identified.
    uint8_t identified;
};

constexpr uint64_t kTcpNoSocket = ~uint64_t{0};

extern LL_LIST* gTcpInstanceList;

#endif
