// Manufacturing pages: one bounded walk over a region image, and the expander's name from its board page.
#include "frontend/mfgPages.h"

#include "frontend/handlerSupport.h"
#include "frontend/regions.h"

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace morv;

namespace {

constexpr size_t kRegionHeader = 8;
constexpr size_t kPageHeader = 8;
constexpr size_t kBoardNameAt = 8;
constexpr size_t kBoardNameLength = 16;
constexpr uint32_t kStatusFailure = 1;
constexpr uint32_t kStatusNoMemory = 6;
constexpr uint32_t kStatusInvalidPage = 37;

// The record's name as "<first> (<second>)", cut to what the field holds.
void setCombinedName(ZELKOR_EXPANDER& e, const std::string& first, const std::string& second) {
    std::snprintf(e.name, sizeof e.name, "%s (%s)", first.c_str(), second.c_str());
}

// Quiet on and busy off, whichever way the read ends.
struct MfgReadScope {
    ~MfgReadScope() { gClParser.optionFlags |= CL_OPT_QUIET; }
    BusyScope busy;
};

} // namespace

size_t mfgPageMinLength(uint32_t pageId) {
    switch (pageId) {
    case PAGE_BOARD:
        return 4 + kBoardNameAt + kBoardNameLength;
    case PAGE_ENCLOSURE_ID:
    case PAGE_ENCLOSURE_ID_2:
        return 4 + 8;
    case PAGE_MFG_VERSION:
        return 4 + 56;
    default:
        return 0;
    }
}

bool isMfgRegionHeader(const uint8_t* header) {
    return (header[0] & 1) != 0 && header[2] == 0x10 && readLe16(header + 6) == 0x0100;
}

PageHit findMfgPage(const uint8_t* data, size_t size, uint32_t pageId) {
    PageHit hit{PageWalk::Past, 0, 0};
    for (size_t p = kRegionHeader; p <= size && size - p >= kPageHeader;) {
        const uint16_t length = readLe16(data + p + 4);
        const uint16_t id = readLe16(data + p + 6);
        if (length == 0 || length == 0xFFFF) {
            hit.result = PageWalk::End;
            return hit;
        }
        if (id == pageId) {
            hit.offset = p;
            // The page must lie within the bytes read and hold what its reader copies.
            if (length > size - p - 4 || length < mfgPageMinLength(pageId)) {
                hit.result = PageWalk::Invalid;
                return hit;
            }
            uint8_t sum = 0;
            for (size_t i = 0; i < length; ++i)
                sum = static_cast<uint8_t>(sum + data[p + 4 + i]);
            hit.result = sum == data[p + 1] && (data[p] & 1) != 0 ? PageWalk::Found : PageWalk::Invalid;
            return hit;
        }
        ++hit.passed;
        p += 4 + static_cast<size_t>(length);
    }
    return hit;
}

void populatePageData(uint32_t pageId, uint32_t offset, const uint8_t* buffer) {
    if (gInstance.expanderList == nullptr || buffer == nullptr)
        return;
    ZELKOR_EXPANDER& e = gInstance.expanderList->expander;
    // Pages read by id start at their length field; pages of a region image at their header.
    const uint8_t* data = buffer + offset + (isFulPossible() != 0 ? 4 : kPageHeader);
    if (pageId == PAGE_BOARD) {
        const char* name = reinterpret_cast<const char*>(data + kBoardNameAt);
        size_t length = 0;
        while (length < kBoardNameLength && name[length] != '\0' && name[length] != ' ')
            ++length;
        const std::string board(name, length);
        if (e.type == ZELKOR_CHIP_OSTREL_SWITCH) {
            std::snprintf(e.name, sizeof e.name, "%s", board.c_str());
        } else if (e.type == ZELKOR_CHIP_OSTREL || e.type == ZELKOR_CHIP_QUENZA ||
                   e.type == ZELKOR_CHIP_QUENZA_DAX) {
            setCombinedName(e, board, fieldText(e.name));
        }
    } else if (pageId == PAGE_ENCLOSURE_ID || pageId == PAGE_ENCLOSURE_ID_2) {
        e.enclosureIdHigh = readLe32(data);
        e.enclosureIdLow = readLe32(data + 4);
    }
}

uint32_t calculatePageOffset(uint32_t pageId) {
    return pageId << 16 | 0x200;
}

uint32_t isFulPossible() {
    return gInstance.interfaceCode == ZELKOR_INTERFACE_CLI ? 1 : 0;
}

void nameUnknownExpander() {
    if (gInstance.expanderList == nullptr)
        return;
    ZELKOR_EXPANDER& e = gInstance.expanderList->expander;
    if (e.type == ZELKOR_CHIP_OSTREL_SWITCH)
        std::snprintf(e.name, sizeof e.name, "%s%s", "Unknown ", "Switch");
    else if (e.type == ZELKOR_CHIP_OSTREL || e.type == ZELKOR_CHIP_QUENZA || e.type == ZELKOR_CHIP_QUENZA_DAX)
        setCombinedName(e, "Unknown", fieldText(e.name));
}

uint32_t readMfgInfo(uint32_t kind, uint32_t index, uint32_t pageId) {
    const char* fn = "readMfgInfo";
    FunctionTrace functionTrace(fn);
    const ZELKOR_EXPANDER* first = firstExpander();
    if (first != nullptr && first->type == ZELKOR_CHIP_OSTREL)
        pageId = PAGE_BOARD_GEN2;
    ZELKOR_REGION_LIST* node = findRegion(kind, index);
    if (node == nullptr)
        return kStatusFailure;
    MfgReadScope scope;
    ZELKOR_REGION* region = &node->region;
    std::vector<uint8_t> buffer;
    try {
        buffer.assign(MFG_WALK_LIMIT, 0);
    } catch (const std::bad_alloc&) {
        logOnly(fn, ZELKOR_LOG_ERROR, "Failed allocating memory.\n");
        return kStatusNoMemory;
    }

    if (isFulPossible() != 0) {
        const uint32_t offset = calculatePageOffset(pageId);
        if (zelkor_readManufacturingPage(gInstance.handle, region, offset, 4, buffer.data()) != 0) {
            messageLog(kMorvModule, ZELKOR_LOG_WARN, 1, fn, MSG_DEST_LOG,
                       "Reading %d bytes of Page header **** FAILED ****", 4);
            messageLog(kMorvModule, ZELKOR_LOG_WARN, 1, fn, MSG_DEST_LOG, "Manufacturing Page (0x%x) not found.",
                       pageId);
            return kStatusFailure;
        }
        const uint16_t length = readLe16(buffer.data());
        messageLog(kMorvModule, ZELKOR_LOG_INFO, 1, fn, MSG_DEST_LOG, "Reading %d bytes at 0x%08x offset ", length,
                   offset);
        if (zelkor_readManufacturingPage(gInstance.handle, region, offset, length, buffer.data()) != 0) {
            messageLog(kMorvModule, ZELKOR_LOG_ERROR, 1, fn, MSG_DEST_LOG,
                       "Reading %d bytes at 0x%08x offset **** FAILED ****", length, offset);
            return kStatusFailure;
        }
        // The reply must carry what is copied from it.
        if (readLe16(buffer.data()) != length || length < mfgPageMinLength(pageId))
            return kStatusInvalidPage;
        populatePageData(pageId, 0, buffer.data());
        return 0;
    }

    const uint32_t headerStatus = zelkor_readFlashRegionData(gInstance.handle, region, 0, 8, buffer.data());
    progressDot();
    if (headerStatus != 0) {
        messageLog(kMorvModule, ZELKOR_LOG_ERROR, 1, fn, MSG_DEST_LOG,
                   "Reading %d bytes at 0x%08x offset **** FAILED ****", 8, 0);
        return headerStatus;
    }
    if (!isMfgRegionHeader(buffer.data()))
        return kStatusFailure;
    const size_t size = std::min<size_t>(MFG_WALK_LIMIT, region->size);
    const uint32_t readStatus =
        zelkor_readFlashRegionData(gInstance.handle, region, 0, static_cast<uint32_t>(size), buffer.data());
    progressDot();
    if (readStatus != 0) {
        messageLog(kMorvModule, ZELKOR_LOG_ERROR, 1, fn, MSG_DEST_LOG,
                   "Reading %d bytes at 0x%08x offset **** FAILED ****", static_cast<int>(size), 0);
        return readStatus;
    }
    const PageHit hit = findMfgPage(buffer.data(), size, pageId);
    for (size_t i = 0; i < hit.passed; ++i)
        progressDot();
    switch (hit.result) {
    case PageWalk::Found:
        populatePageData(pageId, static_cast<uint32_t>(hit.offset), buffer.data());
        return 0;
    case PageWalk::Invalid:
        return kStatusInvalidPage;
    case PageWalk::End:
        return kStatusFailure;
    case PageWalk::Past:
        break;
    }
    return 0;
}
