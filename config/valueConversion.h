// Field values between their XML text and their page bytes: the hexadecimal rule, text to bytes per type,
// packing children into their container, bytes back to text, and the checks of values a user supplies.
#ifndef CONFIG_VALUE_CONVERSION_H
#define CONFIG_VALUE_CONVERSION_H

#include "config/pageRecords.h"
#include "core/zelkor.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pageengine {

// Hexadecimal text to a u32: 0, 1 for invalid text (an empty value included), 5 for a null argument.
ZELKOR_STATUS convertToHex(const char* text, uint32_t* value);

// Fills a leaf node's data from its element text. The node's type, width, write mode, count and name are
// set already; pageName is for messages. 0 or 40.
ZELKOR_STATUS setNodeData(PAGE_DATA_NODE& node, std::string_view text, std::string_view pageName);

// Packs the children of the container at index container of a page's flat node list into its bytes,
// packing nested containers first. 0, 39 (offset validation) or 40.
ZELKOR_STATUS getChildNodeData(std::vector<PAGE_DATA_NODE>& nodes, std::size_t container);

// Reads field values back out of one page's data bytes in document order. Top-level fields follow each
// other; inside a container, byte-wide children take their OFFSET (or the next free byte) from the
// container's start and bit fields their bit position in its first element. No read leaves the page:
// a field that would end past it marks the page as malformed (overrun()) and gives status 1.
class PageReader {
  public:
    explicit PageReader(std::span<const uint8_t> data) : data_(data) {}

    // Text of a leaf field at its place (nothing for a bit field outside a container). 0, 1, 39 or 40.
    ZELKOR_STATUS readField(const PAGE_DATA_NODE& field, std::optional<std::string>& text);
    // A container starts at its place; its children follow until leaveContainer(). 0, 1, 39.
    ZELKOR_STATUS enterContainer(const PAGE_DATA_NODE& container);
    // The position moves to the container's start plus width x count.
    void leaveContainer();

    bool overrun() const { return overrun_; }
    std::size_t position() const { return gPageDataCounter; }

  private:
    struct Container {
        std::string name;
        std::size_t start;
        uint32_t width;
        std::size_t size;
        std::size_t nextByte; // next free byte, relative to start
        uint32_t gBitOffset;  // next free bit in the first element
    };

    ZELKOR_STATUS place(const PAGE_DATA_NODE& field, std::size_t size, std::size_t& at);
    ZELKOR_STATUS readBit(const PAGE_DATA_NODE& field, std::optional<std::string>& text);
    ZELKOR_STATUS pageOverrun(const PAGE_DATA_NODE& field);

    std::span<const uint8_t> data_;
    std::size_t gPageDataCounter = 0;
    uint32_t topBitOffset_ = 0;
    std::vector<Container> containers_;
    bool overrun_ = false;
};

// Fields whose NAME holds "Reserved" or "reserved" keep the user's own text when read back.
bool isReservedFieldName(std::string_view name);

// Checks of values a user supplies for a field of a given type code; each gives 1 valid, 0 invalid.
int validateUserInput(const char* text, uint32_t code);
int validateInputLength(const char* text, uint32_t code, uint32_t length);
int validateDecimalValueRangeForFomatAttrib(const char* text, uint32_t code, uint32_t length);

} // namespace pageengine

#endif
