/*
 * zelkor: device-access library for SAS expanders.
 *
 * This is the library's whole public C interface: the records that cross the library boundary
 * (fixed field order, sizes checked at compile time) and the zelkor_ operations.
 */
#ifndef ZELKOR_H
#define ZELKOR_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
#define ZELKOR_EXTERN_C extern "C"
#define ZELKOR_BEGIN_C extern "C" {
#define ZELKOR_END_C }
#else
#define ZELKOR_EXTERN_C
#define ZELKOR_BEGIN_C
#define ZELKOR_END_C
#endif

#define ZELKOR_API __attribute__((visibility("default")))

#ifdef __cplusplus
#define ZELKOR_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define ZELKOR_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

ZELKOR_BEGIN_C

/* One unsigned status space for the whole library: 0 success, 1 failure, 2.. specific errors. */
typedef uint32_t ZELKOR_STATUS;

/* ==== section: cursor list ==== */

/* ==== end section: cursor list ==== */

/* ==== section: library log ==== */

/* Log levels and type bits of zelkor_messageLog. */
#define ZELKOR_LOG_INFO 1u
#define ZELKOR_LOG_WARN 2u
#define ZELKOR_LOG_ERROR 4u

#define ZELKOR_LOG_ENTRY 0x1u
#define ZELKOR_LOG_EXIT 0x2u
#define ZELKOR_LOG_CORE 0x4u
#define ZELKOR_LOG_COM 0x10u
#define ZELKOR_LOG_TCP 0x40u
#define ZELKOR_LOG_SAS 0x80u
#define ZELKOR_LOG_CLI 0x100u
#define ZELKOR_LOG_CONFIG 0x200u
#define ZELKOR_LOG_OSTREL 0x400u
#define ZELKOR_LOG_PALX 0x800u
#define ZELKOR_LOG_FLASH 0x1000u
#define ZELKOR_LOG_QUENZA 0x40000u
#define ZELKOR_LOG_FRONTEND 0x80000000u

/* Natural alignment puts typeMask at 504 and levelMask at 508: 512 bytes in all. */
typedef struct LOG_CONFIG {
    char name[500];
    uint8_t truncate; /* 1: "wb", 0: "a" */
    uint32_t typeMask;
    uint8_t levelMask;
} LOG_CONFIG;
ZELKOR_STATIC_ASSERT(sizeof(LOG_CONFIG) == 512, "LOG_CONFIG is 512 bytes");
ZELKOR_STATIC_ASSERT(offsetof(LOG_CONFIG, typeMask) == 504, "LOG_CONFIG layout");

typedef void (*LOG_FUNCTION)(const char* module, const char* function, uint32_t type, uint32_t level,
                             uint8_t stamp, const char* format, ...);

ZELKOR_API ZELKOR_STATUS zelkor_initLogger(LOG_CONFIG* config);
ZELKOR_API void zelkor_messageLog(const char* module, const char* function, uint32_t type, uint32_t level,
                                  uint8_t stamp, const char* format, ...)
    __attribute__((format(printf, 6, 7)));
ZELKOR_API ZELKOR_STATUS zelkor_closeLogger(void);

/* ==== end section: library log ==== */

/* ==== section: services ==== */

/* ==== end section: services ==== */

/* ==== section: expander record ==== */

/* ==== end section: expander record ==== */

/* ==== section: regions ==== */

/* ==== end section: regions ==== */

/* ==== section: topology records ==== */

/* ==== end section: topology records ==== */

/* ==== section: configuration region format ==== */

/* ==== end section: configuration region format ==== */

/* ==== section: instance and operations ==== */

/* ==== end section: instance and operations ==== */

ZELKOR_END_C

#endif /* ZELKOR_H */
