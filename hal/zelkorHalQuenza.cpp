// Quenza hardware module: operations are reached only through the query function.
#include "core/modules.h"

// No operation is answered yet.
extern "C" ZELKOR_GENERIC_FUNCTION hal_quenza_query_symbol(const char* /*name*/) {
    return nullptr;
}
