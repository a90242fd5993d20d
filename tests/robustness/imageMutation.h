// Valid image files of the kinds checked before a download, and seeded mutations of them: firmware images
// (header fields, length word, word sum) and manufacturing region images (region header, pages, page sums).
#ifndef TESTS_ROBUSTNESS_IMAGE_MUTATION_H
#define TESTS_ROBUSTNESS_IMAGE_MUTATION_H

#include "dice.h"
#include "tests/frontend_periphery/mfgImages.h"
#include "tests/hal/halFixture.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace robust {

using Bytes = std::vector<uint8_t>;

inline uint32_t le32(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
inline uint32_t le16(const Bytes& b, size_t at) {
    return b[at] | b[at + 1] << 8;
}
inline void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

inline std::string hex(const Bytes& bytes) {
    std::string text;
    char two[3];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(two, sizeof two, "%02X", bytes[i]);
        text += two;
        if (i % 32 == 31)
            text += '\n';
    }
    return text;
}

inline uint32_t wordSum(const Bytes& b, size_t words) {
    uint32_t sum = 0;
    for (size_t i = 0; i < words; ++i)
        sum += le32(b, 4 * i);
    return sum;
}

// Makes the first n words sum to 0 by adjusting word n - 1 (when the image holds it).
inline void balance(Bytes& b, size_t n) {
    if (n == 0 || 4 * n > b.size())
        return;
    put32(b, 4 * (n - 1), 0);
    put32(b, 4 * (n - 1), 0u - wordSum(b, n));
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

inline File fileOf(const Bytes& bytes) {
    File f(std::tmpfile());
    if (!bytes.empty())
        std::fwrite(bytes.data(), 1, bytes.size(), f.get());
    std::rewind(f.get());
    return f;
}

// ---- firmware images ----

// Where the words the checksum check sums end for the family, by the header's length word L and size S.
inline size_t summedWords(const FamilyCase& f, const Bytes& image) {
    const size_t size = image.size();
    if (&f == &kPalx)
        return size / 4;
    if (size < 80)
        return SIZE_MAX; // the length word is not in the file
    const uint32_t length = le32(image, 76);
    if (length == 0xFFFFFFFFu)
        return size / 4;
    if (&f == &kOstrel)
        return length >= 16 && length <= size ? length / 4 - 4 : SIZE_MAX; // SIZE_MAX: no span of the file
    return size > length ? length / 4 : size / 4;
}

// The flash header in the model and a firmware image built on it: the flash's first 136 bytes, then a
// counting pattern, the length word either unset or the image's size, words summing to 0.
inline Bytes firmwareImage(Dice& d, const FamilyCase& f, const Bytes& flashHeader) {
    const size_t size = 4 * std::max<uint32_t>(21, d.pick({21, 34, 35, 36, 64, 256}, 1024));
    Bytes b(size);
    for (size_t i = 0; i < size; ++i)
        b[i] = i < flashHeader.size() ? flashHeader[i] : static_cast<uint8_t>(i * 7 + 3);
    if (d.chance(50))
        put32(b, 76, &f == &kOstrel ? static_cast<uint32_t>(size) : static_cast<uint32_t>(size - 4 * d.below(8)));
    const size_t n = summedWords(f, b);
    balance(b, n == SIZE_MAX ? size / 4 : n);
    return b;
}

inline uint32_t fieldValue(Dice& d, size_t size) {
    const uint32_t s = static_cast<uint32_t>(size);
    return d.pick({0, 1, 3, 4, 15, 16, 17, 64, s - 17, s - 16, s - 4, s - 1, s, s + 1, s + 4, s + 16,
                   0x7FFFFFFF, 0xFFFFFFFE, 0xFFFFFFFF},
                  UINT32_MAX);
}

// A cut at one of the length classes the checks look at, or anywhere.
inline size_t cutLength(Dice& d, size_t size) {
    return std::min<size_t>(size, d.pick({0, 1, 2, 3, 4, 7, 8, 11, 12, 15, 16, 32, 33, 35, 36, 39, 40, 41, 43,
                                          44, 45, 46, 76, 79, 80, 83, 84, 135, 136, static_cast<uint32_t>(size - 1)},
                                         static_cast<uint32_t>(size)));
}

inline Bytes mutateFirmware(Dice& d, const FamilyCase& f, Bytes b) {
    if (d.chance(8))
        return d.bytes(d.pick({0, 3, 4, 16, 84, 136}, 600));
    for (uint32_t n = 1 + d.below(3); n > 0 && !b.empty(); --n) {
        switch (d.below(6)) {
        case 0: // flips
            for (uint32_t k = 1 + d.below(4); k > 0; --k)
                b[d.below(static_cast<uint32_t>(b.size()))] ^= static_cast<uint8_t>(1u << d.below(8));
            break;
        case 1:
            b.resize(cutLength(d, b.size()));
            break;
        case 2: { // random bytes appended
            const Bytes tail = d.bytes(d.pick({1, 2, 3, 4, 16}, 200));
            b.insert(b.end(), tail.begin(), tail.end());
            break;
        }
        case 3: // the length word
            if (b.size() >= 80)
                put32(b, 76, fieldValue(d, b.size()));
            break;
        case 4: { // a signature, version or identity word
            const size_t at = d.oneOf(std::vector<size_t>{4, 8, 12, 32, 36, 40, 44, 56, 80});
            if (b.size() >= at + 4)
                put32(b, at, d.chance(30) ? 0xFFFFFFFFu : d.chance(50) ? fieldValue(d, b.size()) : d.word());
            break;
        }
        default: // bytes of a random stretch
            for (size_t at = d.below(static_cast<uint32_t>(b.size())), end = at + d.below(64); at < std::min(end, b.size());
                 ++at)
                b[at] = static_cast<uint8_t>(d.word());
            break;
        }
    }
    // Often the sum is made right again over the words the check will sum, so the header fields decide.
    if (d.chance(50)) {
        const size_t n = summedWords(f, b);
        if (n != SIZE_MAX)
            balance(b, n);
    }
    return b;
}

// ---- manufacturing region images ----

inline Bytes mfgBase(Dice& d) {
    MfgImage image;
    for (uint32_t n = d.below(6); n > 0; --n) {
        // Mostly pages the front end and the engine look for.
        const uint16_t id = static_cast<uint16_t>(
            d.chance(60) ? d.oneOf(std::vector<uint32_t>{0xFF01, 0xFF02, 0xFE01, 0xFE02, 0xFF0F}) : d.chance(50) ? 0xFF00 + d.below(0x30) : d.word());
        image.page(id, d.bytes(d.pick({0, 1, 4, 24, 56}, 300)));
    }
    if (d.chance(50))
        image.end(d.chance(50) ? 0 : 0xFFFF);
    return image.bytes();
}

// Page offsets of an image as the manufacturing checksum walk meets them (byte 3 the first).
inline std::vector<size_t> pageOffsets(const Bytes& b) {
    std::vector<size_t> at;
    if (b.size() <= 3)
        return at;
    for (size_t p = b[3]; p + 8 <= b.size() && at.size() < 4096; p += 4 + le16(b, p + 4))
        at.push_back(p);
    return at;
}

// Puts every page's sum right, as far as its length fits the image.
inline void resum(Bytes& b) {
    for (size_t p : pageOffsets(b)) {
        const size_t length = le16(b, p + 4);
        if (p + 4 + length > b.size())
            break;
        uint8_t sum = 0;
        for (size_t i = 0; i < length; ++i)
            sum = static_cast<uint8_t>(sum + b[p + 4 + i]);
        b[p + 1] = sum;
    }
}

inline Bytes mutateMfg(Dice& d, Bytes b) {
    if (d.chance(8))
        return d.bytes(d.pick({0, 3, 4, 8, 16}, 400));
    for (uint32_t n = 1 + d.below(3); n > 0 && !b.empty(); --n) {
        const std::vector<size_t> pages = pageOffsets(b);
        const size_t page = pages.empty() ? 8 : pages[d.below(static_cast<uint32_t>(pages.size()))];
        switch (d.below(7)) {
        case 0:
            for (uint32_t k = 1 + d.below(4); k > 0; --k)
                b[d.below(static_cast<uint32_t>(b.size()))] ^= static_cast<uint8_t>(1u << d.below(8));
            break;
        case 1:
            b.resize(std::min(b.size(), d.chance(50) ? page + d.below(12) : size_t{d.below(static_cast<uint32_t>(b.size()))}));
            break;
        case 2: // the first page offset
            if (b.size() > 3)
                b[3] = static_cast<uint8_t>(d.pick({0, 3, 4, 7, 8, 9, static_cast<uint32_t>(b.size() - 1),
                                                    static_cast<uint32_t>(b.size()), 255},
                                                   255));
            break;
        case 3: // a page length, often of the last page and around the image's end
            if (page + 6 <= b.size()) {
                const size_t at = d.chance(50) && !pages.empty() ? pages.back() : page;
                const uint32_t rest = static_cast<uint32_t>(b.size() - at);
                const uint32_t length =
                    d.chance(50) ? rest - 4 + d.below(6) - 1
                                 : d.pick({0, 1, 3, 4, 5, rest - 5, rest - 4, rest - 3, rest, 0xFFFE, 0xFFFF}, 0xFFFF);
                b[at + 4] = static_cast<uint8_t>(length);
                b[at + 5] = static_cast<uint8_t>(length >> 8);
            }
            break;
        case 4: // a page id
            if (page + 8 <= b.size()) {
                const uint32_t id = d.pick({0, 0xFFFF, 0xFF01, 0xFF0F, 0xFE01}, 0xFFFF);
                b[page + 6] = static_cast<uint8_t>(id);
                b[page + 7] = static_cast<uint8_t>(id >> 8);
            }
            break;
        case 5: // a page repeated or dropped
            if (page + 8 <= b.size()) {
                const size_t end = std::min(b.size(), page + 4 + le16(b, page + 4));
                if (d.chance(50)) {
                    const Bytes copy(b.begin() + static_cast<long>(page), b.begin() + static_cast<long>(end));
                    b.insert(b.begin() + static_cast<long>(end), copy.begin(), copy.end());
                } else {
                    b.erase(b.begin() + static_cast<long>(page), b.begin() + static_cast<long>(end));
                }
            }
            break;
        default: // valid bit and the region header's bytes
            b[d.below(static_cast<uint32_t>(std::min<size_t>(b.size(), 8)))] = static_cast<uint8_t>(d.word());
            break;
        }
    }
    if (d.chance(60))
        resum(b);
    return b;
}

} // namespace robust

#endif
