// Manufacturing pages read from the expander: the bounded page walk and the expander naming at open.
#ifndef MFG_PAGES_H
#define MFG_PAGES_H

#include "core/zelkor.h"

#include <cstddef>
#include <cstdint>

// Most bytes of a manufacturing region that a page walk reads.
constexpr size_t MFG_WALK_LIMIT = 65536;

constexpr uint32_t PAGE_BOARD = 0xFF01;
constexpr uint32_t PAGE_BOARD_GEN2 = 0xFF02;
constexpr uint32_t PAGE_ENCLOSURE_ID = 0xFE01;
constexpr uint32_t PAGE_ENCLOSURE_ID_2 = 0xFE02;
constexpr uint32_t PAGE_MFG_VERSION = 0xFF0F;

enum class PageWalk {
    Found,   // the page, fitting and with a good sum and valid bit
    End,     // a page of length 0 or 0xFFFF before it
    Past,    // no header of it within the bytes read
    Invalid, // found, but its sum, valid bit or length is wrong
};

struct PageHit {
    PageWalk result;
    size_t offset; // of the found page's header
    size_t passed; // pages walked past
};

// Walks the pages of a region image (8-byte region header, then page headers) for the page id. A found page
// must lie within the bytes and carry at least the length its reader needs (MFG_PAGE_MIN_LENGTH).
PageHit findMfgPage(const uint8_t* data, size_t size, uint32_t pageId);

// The smallest length field (data + 4) of a page whose data the front end reads; 0 for other pages.
size_t mfgPageMinLength(uint32_t pageId);

// The 8-byte region header: valid bit, 0x10 in byte 2, 0x0100 in the word at byte 6.
bool isMfgRegionHeader(const uint8_t* header);

// Copies what the page gives into the first expander record: the board name (0xFF01) or the enclosure
// logical id (0xFE01, 0xFE02). offset: of the page header in the buffer.
void populatePageData(uint32_t pageId, uint32_t offset, const uint8_t* buffer);

// The offset argument of a page read on the firmware command-line interface.
uint32_t calculatePageOffset(uint32_t pageId);

// 1 on the firmware command-line interface, where pages are read by id.
uint32_t isFulPossible();

// Finds the page in the region's manufacturing data and fills the first expander record from it.
uint32_t readMfgInfo(uint32_t kind, uint32_t index, uint32_t pageId);

// Renames the first expander after a failed page read: "Unknown Switch" or "Unknown (old name)".
void nameUnknownExpander();

#endif
