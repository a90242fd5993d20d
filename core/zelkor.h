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

/* Doubly linked list with its own cursor. The list owns its nodes, never the data behind them. */

/* Results of the ll_ operations (every one but ll_new). */
#define LL_SUCCESS 0
#define LL_NULL_LIST (-1)    /* the list (or, for ll_add, the data) is null */
#define LL_NO_MEMORY (-2)    /* no memory for a node */
#define LL_EMPTY (-3)        /* the list is empty */
#define LL_PAST_END (-4)     /* the cursor stands past the last node */
#define LL_BEFORE_START (-5) /* the cursor stands before the first node */
#define LL_BAD_POSITION (-6) /* ll_moveTo outside 1..count; ll_add/ll_remove with an unknown place */

/* Where ll_add and ll_remove work. */
#define LL_AT_HEAD 0u
#define LL_AT_TAIL 1u
#define LL_AT_CURSOR 2u

typedef struct LL_NODE {
    void* data;    /* the caller's data, never freed by the list */
    uint32_t size; /* a tag stored with the data and handed back by ll_get */
    struct LL_NODE* prev;
    struct LL_NODE* next;
} LL_NODE;
ZELKOR_STATIC_ASSERT(sizeof(LL_NODE) == 32, "LL_NODE is 32 bytes");

typedef struct LL_LIST {
    int32_t index; /* 1-based cursor position; 0 before the first node, count + 1 past the last */
    int32_t count;
    LL_NODE* head;
    LL_NODE* tail;
    LL_NODE* cursor; /* null when empty, before the first or past the last node */
} LL_LIST;
ZELKOR_STATIC_ASSERT(sizeof(LL_LIST) == 32, "LL_LIST is 32 bytes");
ZELKOR_STATIC_ASSERT(offsetof(LL_LIST, cursor) == 24, "LL_LIST layout");

ZELKOR_API LL_LIST* ll_new(void);
ZELKOR_API int32_t ll_delete(LL_LIST* list);
ZELKOR_API int32_t ll_removeAll(LL_LIST* list);
ZELKOR_API int32_t ll_getCount(LL_LIST* list);
ZELKOR_API int32_t ll_getIndex(LL_LIST* list);
/* Either out pointer may be null when the caller does not want that value. */
ZELKOR_API int32_t ll_get(LL_LIST* list, void** data, uint32_t* size);
ZELKOR_API int32_t ll_moveFirst(LL_LIST* list);
ZELKOR_API int32_t ll_moveLast(LL_LIST* list);
ZELKOR_API int32_t ll_moveNext(LL_LIST* list);
ZELKOR_API int32_t ll_movePrev(LL_LIST* list);
ZELKOR_API int32_t ll_moveTo(LL_LIST* list, int32_t position);
ZELKOR_API int32_t ll_add(LL_LIST* list, void* data, uint32_t size, uint32_t where);
ZELKOR_API int32_t ll_remove(LL_LIST* list, uint32_t where);

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

/* ==== section: firmware image format ==== */

/*
 * The header at offset 0 of a firmware image file and of the firmware in flash, and the flash table the
 * header points at. Multi-byte numbers are little-endian in the image; these records are the host view
 * of the fields, in image order. Fields named reserved are not interpreted.
 */
#define ZELKOR_FW_SIGNATURE_WORDS 3u
#define ZELKOR_FW_LENGTH_UNSET 0xFFFFFFFFu /* imageLength of an image that does not give its length */

typedef struct ZELKOR_FW_HEADER {
    uint32_t reserved0;
    uint32_t signature[ZELKOR_FW_SIGNATURE_WORDS]; /* the family's three words; all 0xFFFFFFFF: blank */
    uint8_t reserved16[16];
    uint16_t palxIdentity; /* compared by the Palx image check */
    uint16_t reserved34;
    uint8_t version[4];      /* shown as bytes 3, 2, 1, 0 */
    uint32_t imageIdentity;  /* Ostrel and Quenza compare its low 16 bits, Palx all of it */
    uint16_t secondIdentity; /* Ostrel, Quenza */
    uint8_t reserved46[10];
    uint32_t imageSize; /* bytes, as the front end's image check reads it */
    uint8_t reserved60[16];
    uint32_t imageLength;      /* bytes; ZELKOR_FW_LENGTH_UNSET when not given */
    uint32_t flashTableOffset; /* of the FLASH_TABLE, from the start of the flash */
} ZELKOR_FW_HEADER;
ZELKOR_STATIC_ASSERT(sizeof(ZELKOR_FW_HEADER) == 84, "ZELKOR_FW_HEADER is 84 bytes");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_FW_HEADER, reserved0) == 0, "ZELKOR_FW_HEADER layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_FW_HEADER, signature) == 4, "ZELKOR_FW_HEADER layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_FW_HEADER, reserved16) == 16, "ZELKOR_FW_HEADER layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_FW_HEADER, palxIdentity) == 32, "ZELKOR_FW_HEADER layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_FW_HEADER, reserved34) == 34, "ZELKOR_FW_HEADER layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_FW_HEADER, version) == 36, "ZELKOR_FW_HEADER layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_FW_HEADER, imageIdentity) == 40, "ZELKOR_FW_HEADER layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_FW_HEADER, secondIdentity) == 44, "ZELKOR_FW_HEADER layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_FW_HEADER, reserved46) == 46, "ZELKOR_FW_HEADER layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_FW_HEADER, imageSize) == 56, "ZELKOR_FW_HEADER layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_FW_HEADER, reserved60) == 60, "ZELKOR_FW_HEADER layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_FW_HEADER, imageLength) == 76, "ZELKOR_FW_HEADER layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_FW_HEADER, flashTableOffset) == 80, "ZELKOR_FW_HEADER layout");

/* One partition of the flash table. */
typedef struct FLASH_TABLE_ENTRY {
    uint8_t entryId;
    uint8_t reserved1[3];
    uint32_t size;   /* bytes */
    uint32_t offset; /* from the start of the flash */
} FLASH_TABLE_ENTRY;
ZELKOR_STATIC_ASSERT(sizeof(FLASH_TABLE_ENTRY) == 12, "FLASH_TABLE_ENTRY is 12 bytes");
ZELKOR_STATIC_ASSERT(offsetof(FLASH_TABLE_ENTRY, entryId) == 0, "FLASH_TABLE_ENTRY layout");
ZELKOR_STATIC_ASSERT(offsetof(FLASH_TABLE_ENTRY, reserved1) == 1, "FLASH_TABLE_ENTRY layout");
ZELKOR_STATIC_ASSERT(offsetof(FLASH_TABLE_ENTRY, size) == 4, "FLASH_TABLE_ENTRY layout");
ZELKOR_STATIC_ASSERT(offsetof(FLASH_TABLE_ENTRY, offset) == 8, "FLASH_TABLE_ENTRY layout");

/* Most entries any family reads: Ostrel reads the head and 11 entries (136 bytes), Quenza all 35. */
#define FLASH_TABLE_MAX_ENTRIES 35u

/* The flash table: a 4-byte head holding the entry count, then the entries. */
typedef struct FLASH_TABLE {
    uint8_t reserved0[2];
    uint8_t entryCount;
    uint8_t reserved3;
    FLASH_TABLE_ENTRY entries[FLASH_TABLE_MAX_ENTRIES];
} FLASH_TABLE;
ZELKOR_STATIC_ASSERT(sizeof(FLASH_TABLE) == 424, "FLASH_TABLE is 424 bytes");
ZELKOR_STATIC_ASSERT(offsetof(FLASH_TABLE, reserved0) == 0, "FLASH_TABLE layout");
ZELKOR_STATIC_ASSERT(offsetof(FLASH_TABLE, entryCount) == 2, "FLASH_TABLE layout");
ZELKOR_STATIC_ASSERT(offsetof(FLASH_TABLE, reserved3) == 3, "FLASH_TABLE layout");
ZELKOR_STATIC_ASSERT(offsetof(FLASH_TABLE, entries) == 4, "FLASH_TABLE layout");

/* ==== end section: firmware image format ==== */

/* ==== section: topology records ==== */

/* Link-rate codes: 8 = 1.5 Gb/s, 9 = 3.0, 10 = 6.0, 11 = 12.0; 1 = phy disabled. Flags hold 0 or 1. */

/* Zone group of a phy for which zoning is not enabled. */
#define ZELKOR_ZONE_GROUP_NONE 65535u

/* Phy ids a port record holds at most. */
#define ZELKOR_PORT_MAX_PHYS 48u

/* One phy, decoded from the expander's per-phy register block. */
typedef struct ZELKOR_PHY {
    uint8_t attachedPhyId;
    uint8_t phyId;
    uint8_t routingAttribute; /* 0 direct, 1 subtractive, 2 table */
    uint32_t sasAddressLow;
    uint32_t sasAddressHigh;
    uint32_t attachedSasAddressLow;
    uint32_t attachedSasAddressHigh;
    uint8_t attachedSmpInitiator;
    uint8_t attachedStpInitiator;
    uint8_t attachedSspInitiator;
    uint32_t attachedDeviceType; /* 0 none, 1 end device, 2 or 3 expander */
    uint8_t attachedSataDevice;
    uint8_t attachedSmpTarget;
    uint8_t attachedStpTarget;
    uint8_t attachedSspTarget;
    uint8_t attachedSataPortSelector;
    uint8_t supportedMinLinkRate;
    uint8_t minLinkRate;
    uint8_t supportedMaxLinkRate;
    uint8_t maxLinkRate;
    uint8_t phyChangeCount;
    uint8_t partialPathwayTimeout;
    uint8_t virtualPhy;
    uint32_t negotiatedLinkRate;
    uint16_t linkNibble;
    uint8_t linkFlag;
    uint32_t zoneGroup; /* ZELKOR_ZONE_GROUP_NONE when zoning is not enabled for the phy */
    uint8_t enabled;
    uint8_t skarvelEnabled; /* family Quenza only */
    uint32_t invalidDwordCount;
    uint32_t runningDisparityErrorCount;
    uint32_t lossOfDwordSyncCount;
    uint32_t phyResetProblemCount;
} ZELKOR_PHY;
ZELKOR_STATIC_ASSERT(sizeof(ZELKOR_PHY) == 72, "ZELKOR_PHY is 72 bytes");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_PHY, sasAddressLow) == 4, "ZELKOR_PHY layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_PHY, attachedDeviceType) == 24, "ZELKOR_PHY layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_PHY, negotiatedLinkRate) == 40, "ZELKOR_PHY layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_PHY, zoneGroup) == 48, "ZELKOR_PHY layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_PHY, invalidDwordCount) == 56, "ZELKOR_PHY layout");

typedef struct ZELKOR_PHY_LIST {
    ZELKOR_PHY phy;
    struct ZELKOR_PHY_LIST* next;
} ZELKOR_PHY_LIST;
ZELKOR_STATIC_ASSERT(sizeof(ZELKOR_PHY_LIST) == 80, "ZELKOR_PHY_LIST is a phy and a next pointer");

/* One port: the expander phys that see one attached SAS address. Also the shape of a device's phy sets. */
typedef struct ZELKOR_PORT {
    uint32_t portNumber;
    uint32_t sasAddressLow;
    uint32_t sasAddressHigh;
    uint8_t phyCount;
    uint8_t phyIds[ZELKOR_PORT_MAX_PHYS]; /* ascending, no repeats */
} ZELKOR_PORT;
ZELKOR_STATIC_ASSERT(sizeof(ZELKOR_PORT) == 64, "ZELKOR_PORT is 64 bytes");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_PORT, phyIds) == 13, "ZELKOR_PORT layout");

typedef struct ZELKOR_PORT_LIST {
    ZELKOR_PORT port;
    struct ZELKOR_PORT_LIST* next;
} ZELKOR_PORT_LIST;
ZELKOR_STATIC_ASSERT(sizeof(ZELKOR_PORT_LIST) == 72, "ZELKOR_PORT_LIST is a port and a next pointer");

/* One device attached to the expander. */
typedef struct ZELKOR_DEVICE {
    uint32_t sasAddressLow;
    uint32_t sasAddressHigh;
    uint32_t deviceType;    /* 0 none, 1 end device, 2 or 3 expander */
    ZELKOR_PORT parentPort; /* the expander phys that reach the device */
    uint32_t attachedDeviceType;
    uint32_t devicePhyCount;
    ZELKOR_PORT devicePort; /* the device's own phys on those links (port number and address 0) */
    uint32_t negotiatedLinkRate;
    uint8_t smpInitiator;
    uint8_t stpInitiator;
    uint8_t sspInitiator;
    uint8_t sataDevice;
    uint8_t smpTarget;
    uint8_t stpTarget;
    uint8_t sspTarget;
    uint8_t sataPortSelector;
    uint32_t parentSasAddressLow;
    uint32_t parentSasAddressHigh;
} ZELKOR_DEVICE;
ZELKOR_STATIC_ASSERT(sizeof(ZELKOR_DEVICE) == 168, "ZELKOR_DEVICE is 168 bytes");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_DEVICE, parentPort) == 12, "ZELKOR_DEVICE layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_DEVICE, devicePort) == 84, "ZELKOR_DEVICE layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_DEVICE, smpInitiator) == 152, "ZELKOR_DEVICE layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_DEVICE, parentSasAddressLow) == 160, "ZELKOR_DEVICE layout");

typedef struct ZELKOR_DEVICE_LIST {
    ZELKOR_DEVICE device;
    struct ZELKOR_DEVICE_LIST* next;
} ZELKOR_DEVICE_LIST;
ZELKOR_STATIC_ASSERT(sizeof(ZELKOR_DEVICE_LIST) == 176, "ZELKOR_DEVICE_LIST is a device and a next pointer");

/* One expander route table entry. */
typedef struct ZELKOR_ROUTE_LIST {
    uint32_t routeIndex;
    uint32_t sasAddressLow;
    uint32_t sasAddressHigh;
    struct ZELKOR_ROUTE_LIST* next;
} ZELKOR_ROUTE_LIST;
ZELKOR_STATIC_ASSERT(sizeof(ZELKOR_ROUTE_LIST) == 24, "ZELKOR_ROUTE_LIST is 24 bytes");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_ROUTE_LIST, next) == 16, "ZELKOR_ROUTE_LIST layout");

/* The zone permission row of one zone group: bit j of word i stands for zone group 32 * i + j. */
typedef struct ZELKOR_ZONE_PERMISSIONS {
    uint32_t words[8];
} ZELKOR_ZONE_PERMISSIONS;
ZELKOR_STATIC_ASSERT(sizeof(ZELKOR_ZONE_PERMISSIONS) == 32, "ZELKOR_ZONE_PERMISSIONS is eight words");

/* ==== end section: topology records ==== */

/* ==== section: configuration region format ==== */

/*
 * A manufacturing or configuration region image: one MFG_REGION_HEADER, then pages without gaps, each an
 * MFG_PAGE_HEADER followed by length - 4 data bytes. Multi-byte numbers are little-endian in the image;
 * these records are the host view of the fields, in image order.
 */
#define MFG_REGION_HEADER_SIZE 8u
#define MFG_PAGE_HEADER_SIZE 8u

#define MFG_FLAGS_WRITTEN 0xF9u /* flags byte of every header the engine writes */
#define MFG_FLAG_VALID 0x01u    /* bit 0 of a flags byte: header valid */
#define MFG_REGION_CONSTANT 0x04u
#define MFG_REGION_FORMAT_CODE 0x10u
#define MFG_REGION_FORMAT_VERSION 0x0100u
#define MFG_RESERVED_ERASED 0xFFFFu

/* A page length of 0 or 0xFFFF ends a walk: erased or zeroed space behind the last page. */
#define MFG_PAGE_LENGTH_ZERO 0x0000u
#define MFG_PAGE_LENGTH_ERASED 0xFFFFu
/* Largest length field a page can carry: a multiple of 4 below the erased marker. */
#define MFG_PAGE_LENGTH_MAX 0xFFFCu

/* Pages with fixed ids */
#define MFG_PAGE_MANUFACTURER_CONFIG 0xFF01u
#define MFG_PAGE_ENCLOSURE_ID_1 0xFE01u
#define MFG_PAGE_ENCLOSURE_ID_2 0xFE02u
#define MFG_PAGE_MAC_ADDRESS_QUENZA 0xFE05u
#define MFG_PAGE_VERSION_INFO 0xFF0Fu
#define MFG_PAGE_ETHERNET_OSTREL 0xFF10u
#define MFG_PAGE_ETHERNET_QUENZA 0xFF27u

typedef struct MFG_REGION_HEADER {
    uint8_t flags;           /* 0xF9; bit 0 = valid */
    uint8_t constant;        /* 0x04 */
    uint8_t formatCode;      /* 0x10 */
    uint8_t firstPageOffset; /* 0x08, the size of this header */
    uint16_t reserved;       /* 0xFFFF */
    uint16_t version;        /* 0x0100 */
} MFG_REGION_HEADER;
ZELKOR_STATIC_ASSERT(sizeof(MFG_REGION_HEADER) == 8, "MFG_REGION_HEADER is 8 bytes");
ZELKOR_STATIC_ASSERT(offsetof(MFG_REGION_HEADER, reserved) == 4, "MFG_REGION_HEADER layout");
ZELKOR_STATIC_ASSERT(offsetof(MFG_REGION_HEADER, version) == 6, "MFG_REGION_HEADER layout");

typedef struct MFG_PAGE_HEADER {
    uint8_t flags;     /* 0xF9; bit 0 = page valid */
    uint8_t checksum;  /* 8-bit sum of the length bytes from the length field on */
    uint16_t reserved; /* 0xFFFF */
    uint16_t length;   /* 4 + data bytes; 0 or 0xFFFF: no further page */
    uint16_t pageId;
} MFG_PAGE_HEADER;
ZELKOR_STATIC_ASSERT(sizeof(MFG_PAGE_HEADER) == 8, "MFG_PAGE_HEADER is 8 bytes");
ZELKOR_STATIC_ASSERT(offsetof(MFG_PAGE_HEADER, length) == 4, "MFG_PAGE_HEADER layout");
ZELKOR_STATIC_ASSERT(offsetof(MFG_PAGE_HEADER, pageId) == 6, "MFG_PAGE_HEADER layout");

/* Supplies the value of a field marked QUERY. *value points to a malloc'd, NUL-terminated buffer holding the
 * element's text (or zeroes), with room for the longest valid answer to a field of that LENGTH; the callback
 * writes the answer into it, or frees it and stores another malloc'd, NUL-terminated buffer. typeName is the
 * element's type; length the field's LENGTH, or 0 when the type came from the XSD. A non-zero status ends
 * the resolution with that status. */
typedef ZELKOR_STATUS (*QUERY_VALUE_CALLBACK)(void* context, char** value, const char* typeName,
                                              uint32_t length);

/* ==== end section: configuration region format ==== */

/* ==== section: instance and operations ==== */

/* Records of other sections that the operations only point at. */
typedef struct ZELKOR_REGION ZELKOR_REGION;
typedef struct ZELKOR_REGION_LIST ZELKOR_REGION_LIST;
typedef struct ZELKOR_PHY ZELKOR_PHY;
typedef struct ZELKOR_PHY_LIST ZELKOR_PHY_LIST;
typedef struct ZELKOR_PORT_LIST ZELKOR_PORT_LIST;
typedef struct ZELKOR_DEVICE_LIST ZELKOR_DEVICE_LIST;
typedef struct ZELKOR_ROUTE_LIST ZELKOR_ROUTE_LIST;

/* A module registry entry; its content is the library's own. */
struct LIB_ENTRY;

/* A hardware module's own instance, opaque to the core. */
typedef struct ZELKOR_HAL_INSTANCE ZELKOR_HAL_INSTANCE;

typedef struct ZELKOR_INSTANCE ZELKOR_INSTANCE;

/* What a module's query function hands out for an operation name: the operation, to be called
 * through the type of the slot it is bound to, or null when the module has none. */
typedef void (*ZELKOR_GENERIC_FUNCTION)(void);
typedef ZELKOR_GENERIC_FUNCTION (*QUERY_SYMBOL_FUNCTION)(const char* operationName);

/* Interface operations; the instance is the interface module's own. */
typedef ZELKOR_STATUS (*IAL_OPEN_FUNCTION)(ZELKOR_INSTANCE* handle, uint64_t target, void** ialInstance);
typedef ZELKOR_STATUS (*IAL_CLOSE_FUNCTION)(void* ialInstance);
typedef ZELKOR_STATUS (*IAL_VERSION_FUNCTION)(uint8_t* major, uint8_t* minor);
typedef ZELKOR_STATUS (*IAL_GET_EXPANDERS_FUNCTION)(void* ialInstance, ZELKOR_EXPANDER_LIST** expanders);
typedef ZELKOR_STATUS (*IAL_TRANSFER_FUNCTION)(void* ialInstance, ZELKOR_REGION* region, uint32_t offset,
                                               uint32_t size, FILE* file, uint8_t* buffer);
typedef ZELKOR_STATUS (*IAL_DOWNLOAD_RAMDEBUG_FUNCTION)(void* ialInstance, const char* ttyPath,
                                                        uint32_t baudChange, FILE* image,
                                                        uint8_t postValidate);
typedef ZELKOR_STATUS (*IAL_ERASE_FUNCTION)(void* ialInstance, ZELKOR_REGION* region);

typedef struct IAL_VECTORS {
    IAL_OPEN_FUNCTION zelkor_ial_open;
    IAL_CLOSE_FUNCTION zelkor_ial_close;
    IAL_VERSION_FUNCTION zelkor_ial_version;
    IAL_GET_EXPANDERS_FUNCTION zelkor_ial_getExpanders;
    IAL_TRANSFER_FUNCTION zelkor_ial_downloadRegion;            /* write */
    IAL_DOWNLOAD_RAMDEBUG_FUNCTION zelkor_ial_downloadRamdebug; /* bound for interface code 7 only */
    IAL_TRANSFER_FUNCTION zelkor_ial_uploadRegion;              /* read */
    IAL_ERASE_FUNCTION zelkor_ial_eraseRegion;
} IAL_VECTORS;
ZELKOR_STATIC_ASSERT(sizeof(IAL_VECTORS) == 8 * sizeof(void*), "IAL_VECTORS holds eight slots");

/* Hardware operations; the instance is the hardware module's own. */
typedef ZELKOR_STATUS (*HAL_OPEN_FUNCTION)(ZELKOR_INSTANCE* handle, ZELKOR_HAL_INSTANCE** halInstance,
                                           uint32_t chipType);
typedef ZELKOR_STATUS (*HAL_INSTANCE_FUNCTION)(ZELKOR_HAL_INSTANCE* hi); /* close, setSmartCli */
typedef ZELKOR_STATUS (*HAL_VERSION_FUNCTION)(uint8_t* major, uint8_t* minor);
typedef ZELKOR_STATUS (*HAL_GET_REGIONS_FUNCTION)(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION_LIST** regions);
typedef ZELKOR_STATUS (*HAL_GET_REGION_VERSION_FUNCTION)(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* region,
                                                         char* version);
typedef ZELKOR_STATUS (*HAL_GET_DEVICES_FUNCTION)(ZELKOR_HAL_INSTANCE* hi, ZELKOR_DEVICE_LIST** devices);
typedef ZELKOR_STATUS (*HAL_GET_PHYS_FUNCTION)(ZELKOR_HAL_INSTANCE* hi, ZELKOR_PHY_LIST** phys);
typedef ZELKOR_STATUS (*HAL_GET_PHY_FUNCTION)(ZELKOR_HAL_INSTANCE* hi, uint32_t phy, ZELKOR_PHY* out);
typedef ZELKOR_STATUS (*HAL_GET_PORTS_FUNCTION)(ZELKOR_HAL_INSTANCE* hi, ZELKOR_PORT_LIST** ports);
typedef ZELKOR_STATUS (*HAL_GET_ROUTE_TABLE_FUNCTION)(ZELKOR_HAL_INSTANCE* hi, uint32_t phy,
                                                      ZELKOR_ROUTE_LIST** routes);
typedef ZELKOR_STATUS (*HAL_GET_ZONE_PERMISSIONS_FUNCTION)(ZELKOR_HAL_INSTANCE* hi, uint32_t zoneGroup,
                                                           uint32_t row[8]);
typedef ZELKOR_STATUS (*HAL_SET_MORV_FUNCTION)(ZELKOR_HAL_INSTANCE* hi, uint8_t* value, uint8_t selector);
typedef ZELKOR_STATUS (*HAL_RESET_EXPANDER_FUNCTION)(ZELKOR_HAL_INSTANCE* hi, uint8_t kind);
typedef ZELKOR_STATUS (*HAL_RESET_PHY_FUNCTION)(ZELKOR_HAL_INSTANCE* hi, uint32_t phy);
typedef ZELKOR_STATUS (*HAL_XML2BIN_FUNCTION)(ZELKOR_HAL_INSTANCE* hi, const char* xmlPath, const char* third,
                                              FILE* output, void* context);
typedef ZELKOR_STATUS (*HAL_BIN2XML_FUNCTION)(ZELKOR_HAL_INSTANCE* hi, const char* templatePath,
                                              const char* outputPath, FILE* image);
typedef ZELKOR_STATUS (*HAL_TEST_PHY_FUNCTION)(ZELKOR_HAL_INSTANCE* hi, uint32_t first, uint32_t second,
                                               void* data);
/* bootRecordValidation, fwExpanderValidation, fwImageValidation, mfgImageValidation, mfgChecksumValidation */
typedef ZELKOR_STATUS (*HAL_FILE_FUNCTION)(ZELKOR_HAL_INSTANCE* hi, FILE* image);
typedef ZELKOR_STATUS (*HAL_FW_CHECKSUM_FUNCTION)(ZELKOR_HAL_INSTANCE* hi, FILE* image, uint32_t* words);
typedef ZELKOR_STATUS (*HAL_GET_FW_VERSION_FUNCTION)(ZELKOR_HAL_INSTANCE* hi, FILE* image, char* version);
typedef ZELKOR_STATUS (*HAL_GET_REGION_CHECKSUM_FUNCTION)(ZELKOR_HAL_INSTANCE* hi, FILE* image,
                                                          ZELKOR_REGION* region);
typedef ZELKOR_STATUS (*HAL_TRANSFER_FUNCTION)(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* region,
                                               uint32_t offset, uint32_t length, FILE* file, uint8_t* buffer);
typedef ZELKOR_STATUS (*HAL_DOWNLOAD_RAMDEBUG_FUNCTION)(ZELKOR_HAL_INSTANCE* hi, const char* ttyPath,
                                                        uint32_t baudChange, FILE* image,
                                                        uint8_t postValidate);
typedef ZELKOR_STATUS (*HAL_ERASE_FUNCTION)(ZELKOR_HAL_INSTANCE* hi, ZELKOR_REGION* region);

/* A family lacking an operation leaves its slot null. */
typedef struct HAL_VECTORS {
    HAL_OPEN_FUNCTION zelkor_hal_open;
    HAL_INSTANCE_FUNCTION zelkor_hal_close;
    HAL_VERSION_FUNCTION zelkor_hal_version;
    HAL_GET_REGIONS_FUNCTION zelkor_hal_getRegions;
    HAL_GET_REGION_VERSION_FUNCTION zelkor_hal_getRegionVersion;
    HAL_GET_DEVICES_FUNCTION zelkor_hal_getDevices;
    HAL_GET_PHYS_FUNCTION zelkor_hal_getPhys;
    HAL_GET_PHY_FUNCTION zelkor_hal_getPhy;
    HAL_GET_PORTS_FUNCTION zelkor_hal_getPorts;
    HAL_GET_ROUTE_TABLE_FUNCTION zelkor_hal_getRouteTable;
    HAL_GET_ZONE_PERMISSIONS_FUNCTION zelkor_hal_getZonePermissions;
    HAL_SET_MORV_FUNCTION zelkor_hal_setMorv;
    HAL_INSTANCE_FUNCTION zelkor_hal_setSmartCli;
    HAL_RESET_EXPANDER_FUNCTION zelkor_hal_resetExpander;
    HAL_RESET_PHY_FUNCTION zelkor_hal_resetPhy;
    HAL_XML2BIN_FUNCTION zelkor_hal_xml2bin;
    HAL_BIN2XML_FUNCTION zelkor_hal_bin2xml;
    HAL_TEST_PHY_FUNCTION zelkor_hal_testPhy;
    HAL_FILE_FUNCTION zelkor_hal_bootRecordValidation;
    HAL_FILE_FUNCTION zelkor_hal_fwExpanderValidation;
    HAL_FW_CHECKSUM_FUNCTION zelkor_hal_fwChecksumValidation;
    HAL_GET_FW_VERSION_FUNCTION zelkor_hal_getFwVersion;
    HAL_FILE_FUNCTION zelkor_hal_fwImageValidation;
    HAL_FILE_FUNCTION zelkor_hal_mfgImageValidation;
    HAL_FILE_FUNCTION zelkor_hal_mfgChecksumValidation;
    HAL_GET_REGION_CHECKSUM_FUNCTION zelkor_hal_getRegionChecksum;
    HAL_TRANSFER_FUNCTION zelkor_hal_downloadRegion;
    HAL_DOWNLOAD_RAMDEBUG_FUNCTION zelkor_hal_downloadRamdebug;
    HAL_TRANSFER_FUNCTION zelkor_hal_uploadRegion;
    HAL_ERASE_FUNCTION zelkor_hal_eraseRegion;
} HAL_VECTORS;
ZELKOR_STATIC_ASSERT(sizeof(HAL_VECTORS) == 30 * sizeof(void*), "HAL_VECTORS holds thirty slots");

/* Interface codes of zelkor_open. */
#define ZELKOR_INTERFACE_SAS 0u            /* target: the 64-bit SAS address */
#define ZELKOR_INTERFACE_COM 1u            /* target: pointer to the serial device path */
#define ZELKOR_INTERFACE_CLI 2u            /* target: pointer to the serial device path */
#define ZELKOR_INTERFACE_NONE 3u           /* always fails with 8 */
#define ZELKOR_INTERFACE_TCP 4u            /* target: pointer to the host address text */
#define ZELKOR_INTERFACE_OFFLINE_OSTREL 5u /* no interface: an offline expander of chip type 2 */
#define ZELKOR_INTERFACE_OFFLINE_QUENZA 6u /* no interface: an offline expander of chip type 4 */
#define ZELKOR_INTERFACE_RAMDEBUG 7u       /* debug port for RAM-debug download */

/* The library handle, one per opened connection. */
struct ZELKOR_INSTANCE {
    uint32_t interface;         /* 0, 1, 2, 4 or 7; 0 for the offline codes 5 and 6 */
    struct LIB_ENTRY* ialEntry; /* null for the offline codes */
    struct LIB_ENTRY* halEntry;
    void* ialInstance;
    ZELKOR_HAL_INSTANCE* halInstance;
    uint8_t designatedRegions; /* set by the interface open, read by the hardware open */
    char* xsdPath;             /* the option block's file-name buffer */
    uint8_t fieldSelector;     /* Ethernet field selector, written by the hardware setMorv */
    char* hostText;            /* the option block's address-text buffer */
    ZELKOR_REGION_LIST* regions;
    IAL_VECTORS ialVectors;
    HAL_VECTORS halVectors;
    PROGRESS_CALLBACK progress; /* may be null */
    LOG_FUNCTION log;           /* zelkor_messageLog */
    SEARCH_FUNCTION search;     /* strIgnoreCaseStr */
    ZELKOR_SHARED_VARS* options;
};
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_INSTANCE, regions) == 72, "ZELKOR_INSTANCE layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_INSTANCE, ialVectors) == 80, "ZELKOR_INSTANCE layout");
ZELKOR_STATIC_ASSERT(offsetof(ZELKOR_INSTANCE, progress) == 384, "ZELKOR_INSTANCE layout");
ZELKOR_STATIC_ASSERT(sizeof(ZELKOR_INSTANCE) == 416, "ZELKOR_INSTANCE is 416 bytes");

/* Opens a handle on an interface (see the codes above). Results 26 and 32 (and 57) are warnings: the
 * handle is open.
 * Expander lists (here and from zelkor_getExpanders) belong to the caller, who frees every node with free()
 * whenever it likes, before or after zelkor_close: no later call and no close frees them. The in-band
 * interface (code 0) builds its list once per run and hands that same list out every time, so its caller
 * frees it once. A failed open sets *outExpanders to null; a list it had obtained is freed (the in-band
 * one stays with its module, which hands it out at the next open). */
ZELKOR_API ZELKOR_STATUS zelkor_open(uint32_t interface, uint64_t target, ZELKOR_INSTANCE** outHandle,
                                     PROGRESS_CALLBACK progress, ZELKOR_EXPANDER_LIST** outExpanders);
ZELKOR_API ZELKOR_STATUS zelkor_close(ZELKOR_INSTANCE* handle);
ZELKOR_API ZELKOR_STATUS zelkor_version(uint8_t* major, uint8_t* minor);

ZELKOR_API ZELKOR_STATUS zelkor_getExpanders(ZELKOR_INSTANCE* handle, ZELKOR_EXPANDER_LIST** expanders);
ZELKOR_API ZELKOR_STATUS zelkor_getRegions(ZELKOR_INSTANCE* handle, ZELKOR_REGION_LIST** regions);
ZELKOR_API ZELKOR_STATUS zelkor_getRegionVersion(ZELKOR_INSTANCE* handle, ZELKOR_REGION* region,
                                                 char* version);
ZELKOR_API ZELKOR_STATUS zelkor_getDevices(ZELKOR_INSTANCE* handle, ZELKOR_DEVICE_LIST** devices);
ZELKOR_API ZELKOR_STATUS zelkor_getPhys(ZELKOR_INSTANCE* handle, ZELKOR_PHY_LIST** phys);
ZELKOR_API ZELKOR_STATUS zelkor_getPhy(ZELKOR_INSTANCE* handle, uint32_t phy, ZELKOR_PHY* out);
ZELKOR_API ZELKOR_STATUS zelkor_getPorts(ZELKOR_INSTANCE* handle, ZELKOR_PORT_LIST** ports);
ZELKOR_API ZELKOR_STATUS zelkor_getRouteTable(ZELKOR_INSTANCE* handle, uint32_t phy,
                                              ZELKOR_ROUTE_LIST** routes);
ZELKOR_API ZELKOR_STATUS zelkor_getZonePermissions(ZELKOR_INSTANCE* handle, uint32_t zoneGroup,
                                                   uint32_t row[8]);
/* selector: 0 IP address, 1 subnet mask, 2 gateway, 3 DHCP; value: four bytes */
ZELKOR_API ZELKOR_STATUS zelkor_setMorv(ZELKOR_INSTANCE* handle, uint8_t* value, uint8_t selector);
ZELKOR_API ZELKOR_STATUS zelkor_setSmartCli(ZELKOR_INSTANCE* handle);
/* kind: 1 chip reset, 2 watchdog reset */
ZELKOR_API ZELKOR_STATUS zelkor_resetExpander(ZELKOR_INSTANCE* handle, uint8_t kind);
ZELKOR_API ZELKOR_STATUS zelkor_resetPhy(ZELKOR_INSTANCE* handle, uint32_t phy);
ZELKOR_API ZELKOR_STATUS zelkor_testPhy(ZELKOR_INSTANCE* handle, uint32_t first, uint32_t second, void* data);
ZELKOR_API ZELKOR_STATUS zelkor_eraseRegion(ZELKOR_INSTANCE* handle, ZELKOR_REGION* region);
/* Reads from the expander into the file or the buffer. */
ZELKOR_API ZELKOR_STATUS zelkor_uploadRegion(ZELKOR_INSTANCE* handle, ZELKOR_REGION* region, uint32_t offset,
                                             uint32_t length, FILE* file, uint8_t* buffer);
/* Writes the file or the buffer to the expander. */
ZELKOR_API ZELKOR_STATUS zelkor_downloadRegion(ZELKOR_INSTANCE* handle, ZELKOR_REGION* region,
                                               uint32_t offset, uint32_t length, FILE* file, uint8_t* buffer);
ZELKOR_API ZELKOR_STATUS zelkor_downloadRamdebug(ZELKOR_INSTANCE* handle, const char* ttyPath,
                                                 uint32_t baudChange, FILE* image, uint8_t postValidate);
ZELKOR_API ZELKOR_STATUS zelkor_getRegionChecksum(ZELKOR_INSTANCE* handle, FILE* image,
                                                  ZELKOR_REGION** region);
ZELKOR_API ZELKOR_STATUS zelkor_getFwVersion(ZELKOR_INSTANCE* handle, FILE* image, char** version);
ZELKOR_API ZELKOR_STATUS zelkor_fwChecksumValidation(ZELKOR_INSTANCE* handle, FILE* image, uint32_t* words);
ZELKOR_API ZELKOR_STATUS zelkor_fwExpanderValidation(ZELKOR_INSTANCE* handle, FILE* image);
ZELKOR_API ZELKOR_STATUS zelkor_fwImageValidation(ZELKOR_INSTANCE* handle, FILE* image);
ZELKOR_API ZELKOR_STATUS zelkor_mfgImageValidation(ZELKOR_INSTANCE* handle, FILE* image);
ZELKOR_API ZELKOR_STATUS zelkor_mfgChecksumValidation(ZELKOR_INSTANCE* handle, FILE* image);
ZELKOR_API ZELKOR_STATUS zelkor_bootRecordValidation(ZELKOR_INSTANCE* handle, FILE* image);
ZELKOR_API ZELKOR_STATUS zelkor_xml2bin(ZELKOR_INSTANCE* handle, const char* xmlPath, const char* third,
                                        FILE* output, void* context);
ZELKOR_API ZELKOR_STATUS zelkor_bin2xml(ZELKOR_INSTANCE* handle, const char* templatePath,
                                        const char* outputPath, FILE* image);
ZELKOR_API ZELKOR_STATUS zelkor_readFlashRegionData(ZELKOR_INSTANCE* handle, ZELKOR_REGION* region,
                                                    uint32_t offset, uint32_t length, uint8_t* buffer);
/* offset: the page id */
ZELKOR_API ZELKOR_STATUS zelkor_readManufacturingPage(ZELKOR_INSTANCE* handle, ZELKOR_REGION* region,
                                                      uint32_t offset, uint32_t length, uint8_t* buffer);
ZELKOR_API ZELKOR_STATUS zelkor_testRegion(ZELKOR_INSTANCE* handle);

/* ==== end section: instance and operations ==== */

/* ==== section: configuration XML without a handle ==== */

/* Bytes of gXmlName and of the option block's file-name buffer. */
#define ZELKOR_XML_NAME_SIZE 5000

/* The resolved path of the XML file of the current conversion. */
ZELKOR_API extern char gXmlName[ZELKOR_XML_NAME_SIZE];

/* Switches of the page engine; set once, never cleared. Verbose prints each page header while an image is
 * written; unit keeps only pages with UNIT="TRUE", general only pages without UNIT. */
ZELKOR_API ZELKOR_STATUS zelkor_setVerboseFlag(void);
ZELKOR_API ZELKOR_STATUS zelkor_setUnitFlag(void);
ZELKOR_API ZELKOR_STATUS zelkor_setGeneralFlag(void);

/* Finds a bare file name under ZELKOR_SUPPORT_FILES; outPath holds ZELKOR_XML_NAME_SIZE bytes.
 * 0, 5, 52, 53, 58. */
ZELKOR_API ZELKOR_STATUS zelkor_retrieveFileFromEnv(const char* name, char* outPath);
/* Resolves the XML into gXmlName and its XSD (xsdName, else its schema location) into
 * gSharedVars.supportPath. 0, 1, 5, 36, 40, 41, 60, 61. */
ZELKOR_API ZELKOR_STATUS zelkor_retrieveXsdFromXml(const char* xmlName, const char* xsdName, uint8_t quiet);
/* Writes the user's XML, valid under its XSD, with its QUERY, USE and FORMAT stamps resolved, to outName
 * and reports the chip type of its Product (2, 4 or 5). outName is replaced only by a complete result. */
ZELKOR_API ZELKOR_STATUS zelkor_xml2xml(const char* xmlName, const char* xsdName, const char* outName,
                                        QUERY_VALUE_CALLBACK queryCallback, uint32_t* outChipType);
/* Validates a manufacturing XML: its schema, then its FORMAT stamps. */
ZELKOR_API ZELKOR_STATUS zelkor_upMfgXmlValidation(const char* xmlName, const char* xsdName);

/* ==== end section: configuration XML without a handle ==== */

ZELKOR_END_C

#endif /* ZELKOR_H */
