// TCP interface module: operations are reached only through the query function.
#include "core/modules.h"

// No operation is answered yet.
extern "C" ZELKOR_GENERIC_FUNCTION ial_tcp_query_symbol(const char* /*name*/) {
    return nullptr;
}
