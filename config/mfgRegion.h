// The manufacturing/configuration region image: header encoding, page checksum, the bounded page walk,
// and the writer of the engine's page list.
#ifndef CONFIG_MFG_REGION_H
#define CONFIG_MFG_REGION_H

#include "config/pageRecords.h"
#include "core/zelkor.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <span>
#include <vector>

struct ZELKOR_INSTANCE;

namespace pageengine {

// Most data bytes one page can hold (the length field also counts its own 4 bytes).
inline constexpr uint32_t MFG_PAGE_DATA_MAX = MFG_PAGE_LENGTH_MAX - 4;

std::array<uint8_t, MFG_REGION_HEADER_SIZE> encodeRegionHeader();
MFG_REGION_HEADER decodeRegionHeader(const uint8_t* bytes);
std::array<uint8_t, MFG_PAGE_HEADER_SIZE> encodePageHeader(const MFG_PAGE_HEADER& header);
MFG_PAGE_HEADER decodePageHeader(const uint8_t* bytes);

// 8-bit additive sum, no seed, no complement.
uint8_t mfgChecksum(std::span<const uint8_t> bytes);

// One page as the walk hands it out; data is the length - 4 bytes after the header.
struct MfgPage {
    std::size_t offset;
    MFG_PAGE_HEADER header;
    std::span<const uint8_t> data;
};

enum class PageWalkEnd {
    Complete, // reached the end of the image, or a length of 0 or 0xFFFF
    BadPage,  // a page failed its checks or does not fit in the image
    Stopped,  // the visitor returned a non-zero status
};

struct PageWalkResult {
    PageWalkEnd end;
    ZELKOR_STATUS status; // 0 when complete, 1 for a bad page, else the visitor's status
    std::size_t offset;   // where the walk ended
};

using PageVisitor = std::function<ZELKOR_STATUS(const MfgPage& page)>;

// Walks the pages of a whole image from offset 8 (the region header is not examined). A page must lie
// wholly inside the image, carry a length of at least 4, have its valid bit set and its checksum right;
// otherwise the walk ends as a bad page.
PageWalkResult walkRegionImage(std::span<const uint8_t> image, const PageVisitor& visit);

// The bytes one field writes into its page (nothing for a bit field).
std::vector<uint8_t> serializeNode(const PAGE_DATA_NODE& node);

ZELKOR_STATUS writeRegionHeaderToFile(FILE* file);
ZELKOR_STATUS writePageHeaderToFile(FILE* file, const PAGE_RECORD& page);
ZELKOR_STATUS writeDataToFile(const PAGE_DATA_NODE* node, FILE* file);

// Writes the whole image of the page list built by zelkor_ParseXmlFile into an open file.
ZELKOR_STATUS zelkor_CreateBinaryFile(ZELKOR_INSTANCE* handle, FILE* file);

// The 32-bit stamp of page 0xFF0F: minute, hour, day, month and two-digit year in their bit fields.
uint32_t mfgTimestamp(const std::tm& local);

// Stamps the local time into the "timestamp" field of page 0xFF0F; other pages are left alone.
ZELKOR_STATUS modifyPepperedXmlOutput(PAGE_RECORD& page);

// The clock the stamp is taken from; null restores the system clock. Returns the previous one.
using TimestampClock = std::time_t (*)();
TimestampClock setTimestampClock(TimestampClock clock);

} // namespace pageengine

#endif
