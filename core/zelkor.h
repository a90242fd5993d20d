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

/* Progress callback: every module calls it with event 1 and argument 0 once per unit of work. */
typedef void (*PROGRESS_CALLBACK)(int32_t event, int32_t argument);

/* Case-insensitive substring search handed to every handle. */
typedef char* (*SEARCH_FUNCTION)(const char* haystack, const char* needle);

/* The shared option block: filled by the front end, pointed to by every handle, read by the modules. */
typedef struct ZELKOR_SHARED_VARS {
    int32_t regionCount;
    uint32_t consoleEcho;
    char supportPath[5000];
    char addressCopy[200];
    uint8_t noProgress;
    uint8_t ramDebugBusy;
    uint8_t fieldSelector;
    uint8_t smartCliBusy;
    uint8_t force;
    uint8_t availWithoutAddress;
    uint32_t commandIndex;
    uint32_t subCommandIndex;
} ZELKOR_SHARED_VARS;

ZELKOR_API extern ZELKOR_SHARED_VARS gSharedVars;

struct ZELKOR_EXPANDER;

ZELKOR_API char* strIgnoreCaseStr(const char* haystack, const char* needle);
ZELKOR_API void productIDAndRevDecode(struct ZELKOR_EXPANDER* expander);

/* ==== end section: services ==== */

/* ==== section: expander record ==== */

/* Chip types of ZELKOR_EXPANDER.type */
#define ZELKOR_CHIP_PALX 1u
#define ZELKOR_CHIP_OSTREL 2u
#define ZELKOR_CHIP_OSTREL_SWITCH 3u
#define ZELKOR_CHIP_QUENZA 4u
#define ZELKOR_CHIP_QUENZA_DAX 5u

/* One expander as an interface module describes it. */
typedef struct ZELKOR_EXPANDER {
    uint32_t sasAddressLow;
    uint32_t sasAddressHigh;
    uint32_t enclosureIdLow;
    uint32_t enclosureIdHigh;
    uint32_t type;
    uint16_t productId;
    uint8_t revisionCode;
    uint8_t revisionIndex;
    char name[30];
    char revision[30];
    char macAddress[28];
    char ipAddress[16];
    char subnetMask[16];
    char gateway[16];
    uint32_t dhcp; /* 0 off, other on, 0xFFFFFFFF not known */
    uint32_t ethernetPageLength;
    uint8_t ethernetPage[255];
    uint8_t ethernetField;
    const char* familyName;
} ZELKOR_EXPANDER;
ZELKOR_STATIC_ASSERT(sizeof(ZELKOR_EXPANDER) == 432, "ZELKOR_EXPANDER is 432 bytes");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_EXPANDER, dhcp) == 160, "ZELKOR_EXPANDER layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_EXPANDER, ethernetPage) == 168, "ZELKOR_EXPANDER layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_EXPANDER, familyName) == 424, "ZELKOR_EXPANDER layout");

typedef struct ZELKOR_EXPANDER_LIST {
    ZELKOR_EXPANDER expander;
    struct ZELKOR_EXPANDER_LIST* next;
} ZELKOR_EXPANDER_LIST;

/* ==== end section: expander record ==== */

/* ==== section: regions ==== */

/* Kinds of ZELKOR_REGION.kind */
#define ZELKOR_REGION_MEMORY 0u           /* memory window: raw 32-bit expander addresses */
#define ZELKOR_REGION_FLASH 1u            /* the whole flash */
#define ZELKOR_REGION_PARTITION 2u        /* a flash partition or flash region */
#define ZELKOR_REGION_DESIGNATED_FIRST 3u /* 3 to 9: served by the interface module itself */
#define ZELKOR_REGION_DESIGNATED_LAST 9u
#define ZELKOR_REGION_BOOT_RECORD 10u /* SEEPROM boot record (Palx) */
#define ZELKOR_REGION_PAGE_STORE 12u  /* configuration page store (Quenza) */

/* ZELKOR_REGION.flashType before the flash engine identified the part. */
#define ZELKOR_FLASH_TYPE_UNKNOWN 0xFFFFFFFEu

/* One stretch of the expander's address space that an interface module reads, writes or erases. */
typedef struct ZELKOR_REGION {
    uint32_t kind;
    uint32_t regionId; /* in-band: the buffer id */
    uint32_t index;
    uint32_t base; /* expander address of the first byte */
    uint32_t size;
    uint32_t descriptorFlag;
    uint32_t flashType;
    uint32_t entryId; /* flash-table entry id (Quenza partitions), else 0 */
} ZELKOR_REGION;
ZELKOR_STATIC_ASSERT(sizeof(ZELKOR_REGION) == 32, "ZELKOR_REGION is eight 32-bit words");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_REGION, entryId) == 28, "ZELKOR_REGION layout");

typedef struct ZELKOR_REGION_LIST {
    ZELKOR_REGION region;
    struct ZELKOR_REGION_LIST* next;
} ZELKOR_REGION_LIST;
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_REGION_LIST, next) == sizeof(ZELKOR_REGION),
                     "ZELKOR_REGION_LIST layout");
ZELKOR_STATIC_ASSERT(sizeof(ZELKOR_REGION_LIST) == sizeof(ZELKOR_REGION) + sizeof(void*),
                     "ZELKOR_REGION_LIST is a region and a next pointer");

/* ==== end section: regions ==== */

/* ==== section: topology records ==== */

/* ==== end section: topology records ==== */

/* ==== section: configuration region format ==== */

/* ==== end section: configuration region format ==== */

/* ==== section: instance and operations ==== */

/* ==== end section: instance and operations ==== */

ZELKOR_END_C

#endif /* ZELKOR_H */
