// Query functions of the built-in interface and hardware modules: each answers an operation name
// ("zelkor_ial_open", "zelkor_hal_getPhys", ...) with the module's function, or null.
#ifndef MODULES_H
#define MODULES_H

#include "core/zelkor.h"

extern "C" {
ZELKOR_GENERIC_FUNCTION ial_sas_query_symbol(const char* name);
ZELKOR_GENERIC_FUNCTION ial_tcp_query_symbol(const char* name);
ZELKOR_GENERIC_FUNCTION ial_com_query_symbol(const char* name);
ZELKOR_GENERIC_FUNCTION ial_cli_query_symbol(const char* name);
ZELKOR_GENERIC_FUNCTION hal_ostrel_query_symbol(const char* name);
ZELKOR_GENERIC_FUNCTION hal_quenza_query_symbol(const char* name);
ZELKOR_GENERIC_FUNCTION hal_palx_query_symbol(const char* name);
}

#endif
