#include "console/ReplyMutator.h"

#include <algorithm>
#include <cstdio>

namespace zsim {

namespace {

// Bytes that mean something to the product's readers: XMODEM control bytes, padding, prompt characters,
// line ends, the hexadecimal prefix and separators of the console's replies.
constexpr uint8_t kInteresting[] = {0x00, 0x01, 0x04, 0x06, 0x15, 0x18, 0x1A, '\r', '\n', '%', '#',
                                    '>',  ':',  'x',  'X',  '0',  ' ',  'q',  0xFF, 0x7F, 0x80};

constexpr const char* kFragments[] = {"\n cmd >", "\n% ", "0x", "0X", "IP Address", ": ", "Xmodem Transfer Failed"};

} // namespace

uint8_t ReplyMutator::interestingByte() {
    if (below(2) == 0)
        return kInteresting[below(sizeof kInteresting)];
    return static_cast<uint8_t>(rng_());
}

std::vector<uint8_t> ReplyMutator::noise(size_t count) {
    std::vector<uint8_t> out;
    while (out.size() < count) {
        if (below(8) == 0) {
            const std::string fragment = kFragments[below(sizeof kFragments / sizeof kFragments[0])];
            out.insert(out.end(), fragment.begin(), fragment.end());
        } else {
            out.push_back(interestingByte());
        }
    }
    out.resize(count);
    return out;
}

std::vector<uint8_t> ReplyMutator::apply(std::vector<uint8_t> chunk) {
    if (chunk.empty() || std::uniform_real_distribution<double>(0.0, 1.0)(rng_) >= rate_)
        return chunk;
    const size_t size = chunk.size();
    char note[96];
    switch (below(8)) {
    case 0: { // cut short
        const size_t keep = below(static_cast<uint32_t>(size));
        chunk.resize(keep);
        std::snprintf(note, sizeof note, "truncate %zu of %zu", keep, size);
        break;
    }
    case 1: { // bytes inserted
        const size_t at = below(static_cast<uint32_t>(size + 1));
        const size_t count = 1 + below(below(4) == 0 ? 400 : 8);
        const std::vector<uint8_t> extra = noise(count);
        chunk.insert(chunk.begin() + static_cast<long>(at), extra.begin(), extra.end());
        std::snprintf(note, sizeof note, "insert %zu at %zu of %zu", count, at, size);
        break;
    }
    case 2: { // bytes flipped
        const uint32_t flips = 1 + below(3);
        for (uint32_t i = 0; i < flips; ++i)
            chunk[below(static_cast<uint32_t>(size))] ^= static_cast<uint8_t>(1u << below(8));
        std::snprintf(note, sizeof note, "flip %u in %zu", flips, size);
        break;
    }
    case 3: { // repeated
        const std::vector<uint8_t> copy = chunk;
        chunk.insert(chunk.end(), copy.begin(), copy.end());
        std::snprintf(note, sizeof note, "repeat %zu", size);
        break;
    }
    case 4: // dropped
        chunk.clear();
        std::snprintf(note, sizeof note, "drop %zu", size);
        break;
    case 5: { // replaced by random bytes of a random length
        const size_t count = below(600);
        chunk = noise(count);
        std::snprintf(note, sizeof note, "replace %zu by %zu random", size, count);
        break;
    }
    case 6: { // one byte replaced by an interesting one
        const size_t at = below(static_cast<uint32_t>(size));
        chunk[at] = kInteresting[below(sizeof kInteresting)];
        std::snprintf(note, sizeof note, "set byte %zu of %zu to 0x%02x", at, size, chunk[at]);
        break;
    }
    default: { // a random-length tail
        const size_t count = 1 + below(below(3) == 0 ? 1000 : 16);
        const std::vector<uint8_t> extra = noise(count);
        chunk.insert(chunk.end(), extra.begin(), extra.end());
        std::snprintf(note, sizeof note, "append %zu to %zu", count, size);
        break;
    }
    }
    notes_.emplace_back(note);
    return chunk;
}

std::string hexDump(const std::vector<uint8_t>& bytes, size_t limit) {
    std::string out;
    char cell[4];
    for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
        std::snprintf(cell, sizeof cell, "%02x ", bytes[i]);
        out += cell;
    }
    if (bytes.size() > limit)
        out += "... (" + std::to_string(bytes.size()) + " bytes)";
    return out;
}

} // namespace zsim
