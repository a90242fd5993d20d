#include "config/mfgRegion.h"

#include "config/engineState.h"

#include <algorithm>
#include <cstring>

namespace pageengine {

namespace {

TimestampClock sTimestampClock = nullptr;

uint16_t readU16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

void putU16(uint8_t* bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value & 0xFF);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

ZELKOR_STATUS writeBytes(FILE* file, const uint8_t* bytes, std::size_t size) {
    if (size == 0)
        return STATUS_OK;
    return std::fwrite(bytes, 1, size, file) == size ? STATUS_OK : STATUS_FAILURE;
}

} // namespace

std::array<uint8_t, MFG_REGION_HEADER_SIZE> encodeRegionHeader() {
    std::array<uint8_t, MFG_REGION_HEADER_SIZE> bytes{};
    bytes[0] = MFG_FLAGS_WRITTEN;
    bytes[1] = MFG_REGION_CONSTANT;
    bytes[2] = MFG_REGION_FORMAT_CODE;
    bytes[3] = MFG_REGION_HEADER_SIZE;
    putU16(&bytes[4], MFG_RESERVED_ERASED);
    putU16(&bytes[6], MFG_REGION_FORMAT_VERSION);
    return bytes;
}

MFG_REGION_HEADER decodeRegionHeader(const uint8_t* bytes) {
    MFG_REGION_HEADER header{};
    header.flags = bytes[0];
    header.constant = bytes[1];
    header.formatCode = bytes[2];
    header.firstPageOffset = bytes[3];
    header.reserved = readU16(&bytes[4]);
    header.version = readU16(&bytes[6]);
    return header;
}

std::array<uint8_t, MFG_PAGE_HEADER_SIZE> encodePageHeader(const MFG_PAGE_HEADER& header) {
    std::array<uint8_t, MFG_PAGE_HEADER_SIZE> bytes{};
    bytes[0] = header.flags;
    bytes[1] = header.checksum;
    putU16(&bytes[2], header.reserved);
    putU16(&bytes[4], header.length);
    putU16(&bytes[6], header.pageId);
    return bytes;
}

MFG_PAGE_HEADER decodePageHeader(const uint8_t* bytes) {
    MFG_PAGE_HEADER header{};
    header.flags = bytes[0];
    header.checksum = bytes[1];
    header.reserved = readU16(&bytes[2]);
    header.length = readU16(&bytes[4]);
    header.pageId = readU16(&bytes[6]);
    return header;
}

uint8_t mfgChecksum(std::span<const uint8_t> bytes) {
    uint8_t sum = 0;
    for (uint8_t byte : bytes)
        sum = static_cast<uint8_t>(sum + byte);
    return sum;
}

PageWalkResult walkRegionImage(std::span<const uint8_t> image, const PageVisitor& visit) {
    std::size_t offset = MFG_REGION_HEADER_SIZE;
    while (offset < image.size()) {
        if (image.size() - offset < MFG_PAGE_HEADER_SIZE)
            return {PageWalkEnd::BadPage, STATUS_FAILURE, offset};
        MFG_PAGE_HEADER header = decodePageHeader(&image[offset]);
        if (header.length == MFG_PAGE_LENGTH_ZERO || header.length == MFG_PAGE_LENGTH_ERASED)
            return {PageWalkEnd::Complete, STATUS_OK, offset};
        // The length counts the length and id fields; the page must end inside the image.
        if (header.length < 4 || header.length > image.size() - offset - 4)
            return {PageWalkEnd::BadPage, STATUS_FAILURE, offset};
        std::span<const uint8_t> summed = image.subspan(offset + 4, header.length);
        if ((header.flags & MFG_FLAG_VALID) == 0 || mfgChecksum(summed) != header.checksum)
            return {PageWalkEnd::BadPage, STATUS_FAILURE, offset};
        MfgPage page{offset, header, image.subspan(offset + MFG_PAGE_HEADER_SIZE, header.length - 4u)};
        if (ZELKOR_STATUS status = visit(page); status != STATUS_OK)
            return {PageWalkEnd::Stopped, status, offset};
        offset += 4u + header.length;
    }
    return {PageWalkEnd::Complete, STATUS_OK, offset};
}

std::vector<uint8_t> serializeNode(const PAGE_DATA_NODE& node) {
    std::vector<uint8_t> bytes;
    switch (node.writeMode) {
    case WRITE_NUMBER: {
        if (node.width == WIDTH_BIT || node.width == WIDTH_WIDE_TEXT)
            break;
        std::size_t size = std::min<std::size_t>(std::size_t{node.width} * node.count, node.data.size());
        bytes.assign(node.data.begin(), node.data.begin() + static_cast<std::ptrdiff_t>(size));
        break;
    }
    case WRITE_TEXT_SPACE_PADDED:
    case WRITE_TEXT_ZERO_PADDED: {
        std::size_t size = std::min<std::size_t>(node.count, node.data.size());
        bytes.assign(node.data.begin(), node.data.begin() + static_cast<std::ptrdiff_t>(size));
        break;
    }
    case WRITE_WIDE_TEXT: {
        // count is characters + 1; each character becomes a 16-bit unit, then a zero unit.
        std::size_t characters = node.count > 0 ? std::min<std::size_t>(node.count - 1, node.data.size()) : 0;
        bytes.reserve(2 * characters + 2);
        for (std::size_t i = 0; i < characters; ++i) {
            bytes.push_back(node.data[i]);
            bytes.push_back(0);
        }
        bytes.push_back(0);
        bytes.push_back(0);
        break;
    }
    default:
        break;
    }
    return bytes;
}

ZELKOR_STATUS writeRegionHeaderToFile(FILE* file) {
    if (file == nullptr)
        return STATUS_NULL_ARGUMENT;
    auto bytes = encodeRegionHeader();
    return writeBytes(file, bytes.data(), bytes.size());
}

ZELKOR_STATUS writePageHeaderToFile(FILE* file, const PAGE_RECORD& page) {
    if (file == nullptr)
        return STATUS_NULL_ARGUMENT;
    // A length the 16-bit field cannot carry would be written wrapped and break every later page.
    if (page.length < 4 || page.length > MFG_PAGE_LENGTH_MAX)
        return STATUS_FAILURE;
    MFG_PAGE_HEADER header{MFG_FLAGS_WRITTEN, page.checksum, MFG_RESERVED_ERASED,
                           static_cast<uint16_t>(page.length), page.pageId};
    auto bytes = encodePageHeader(header);
    if (ZELKOR_STATUS status = writeBytes(file, bytes.data(), bytes.size()); status != STATUS_OK)
        return status;
    if (engineSwitches().gFlagVerbose) {
        EngineState& state = engineState();
        userMessage("Writing new Page.......... ");
        std::printf("PageName      %s \n", page.name.c_str());
        std::printf("PageId        %x \n", page.pageId);
        std::printf("PageLength    %d \n", static_cast<int>(page.length));
        std::printf("PageOffset    %u \n\n", state.Page_offset);
        std::fflush(stdout);
        state.Page_offset += page.length + 4;
    }
    return STATUS_OK;
}

ZELKOR_STATUS writeDataToFile(const PAGE_DATA_NODE* node, FILE* file) {
    if (node == nullptr || file == nullptr)
        return STATUS_NULL_ARGUMENT;
    std::vector<uint8_t> bytes = serializeNode(*node);
    return writeBytes(file, bytes.data(), bytes.size());
}

ZELKOR_STATUS zelkor_CreateBinaryFile(ZELKOR_INSTANCE* /*handle*/, FILE* file) {
    if (file == nullptr)
        return STATUS_NULL_ARGUMENT;
    EngineState& state = engineState();
    if (state.gXMLPagelist.empty()) {
        engineLog(FUNCTION_XML2BIN, ZELKOR_LOG_ERROR, "Cannot create binary File.NULL Data List.\n");
        return STATUS_FAILURE;
    }
    if (ZELKOR_STATUS status = writeRegionHeaderToFile(file); status != STATUS_OK)
        return status;
    state.Page_offset = 14;
    for (const PAGE_RECORD& page : state.gXMLPagelist) {
        if (ZELKOR_STATUS status = writePageHeaderToFile(file, page); status != STATUS_OK)
            return status;
        for (const PAGE_DATA_NODE& node : page.nodes) {
            if (!node.topLevel)
                continue;
            if (ZELKOR_STATUS status = writeDataToFile(&node, file); status != STATUS_OK)
                return status;
        }
    }
    return std::fflush(file) == 0 ? STATUS_OK : STATUS_FAILURE;
}

uint32_t mfgTimestamp(const std::tm& local) {
    // Each part is kept inside its own bit field so that an odd clock cannot spill into its neighbour.
    uint32_t minute = static_cast<uint32_t>(local.tm_min) & 0x3F;
    uint32_t hour = static_cast<uint32_t>(local.tm_hour) & 0x1F;
    uint32_t day = static_cast<uint32_t>(local.tm_mday) & 0x1F;
    uint32_t month = static_cast<uint32_t>(local.tm_mon + 1) & 0x0F;
    uint32_t year = static_cast<uint32_t>(local.tm_year + 1900 - 2000) & 0xFF;
    return (minute << 22) + (hour << 17) + (day << 12) + (month << 8) + year;
}

ZELKOR_STATUS modifyPepperedXmlOutput(PAGE_RECORD& page) {
    if (page.pageId != MFG_PAGE_VERSION_INFO)
        return STATUS_OK;
    auto field = std::find_if(page.nodes.begin(), page.nodes.end(),
                              [](const PAGE_DATA_NODE& node) { return node.name == "timestamp"; });
    if (field == page.nodes.end())
        return STATUS_OK;
    // The stamp needs four bytes that the field really writes into the image.
    bool holdsStamp = false;
    if (field->writeMode == WRITE_NUMBER && field->width != WIDTH_BIT && field->width != WIDTH_WIDE_TEXT)
        holdsStamp = std::size_t{field->width} * field->count >= 4;
    else if (field->writeMode == WRITE_TEXT_SPACE_PADDED || field->writeMode == WRITE_TEXT_ZERO_PADDED)
        holdsStamp = field->count >= 4;
    if (!holdsStamp || field->data.size() < 4) {
        userMessage("\nERROR : Invalid content for element \"%s\" in page \"%s\".\n\n", field->name.c_str(),
                    page.name.c_str());
        return STATUS_INVALID_XML;
    }
    std::time_t now = sTimestampClock != nullptr ? sTimestampClock() : std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    uint32_t stamp = mfgTimestamp(local);
    for (int i = 0; i < 4; ++i)
        field->data[static_cast<std::size_t>(i)] = static_cast<uint8_t>(stamp >> (8 * i));
    return STATUS_OK;
}

TimestampClock setTimestampClock(TimestampClock clock) {
    TimestampClock previous = sTimestampClock;
    sTimestampClock = clock;
    return previous;
}

} // namespace pageengine
