#include "model/SparseBytes.h"

#include <algorithm>

namespace zsim {

SparseBytes::Chunk& SparseBytes::chunkFor(uint64_t offset) {
    const uint64_t index = offset / kChunk;
    auto found = chunks_.find(index);
    if (found != chunks_.end())
        return found->second;
    Chunk& chunk = chunks_[index];
    chunk.fill(fill_);
    return chunk;
}

uint8_t SparseBytes::get(uint64_t offset) const {
    const auto found = chunks_.find(offset / kChunk);
    return found == chunks_.end() ? fill_ : found->second[offset % kChunk];
}

void SparseBytes::set(uint64_t offset, uint8_t value) {
    if (offset >= size_)
        return;
    if (value == fill_ && chunks_.find(offset / kChunk) == chunks_.end())
        return;
    chunkFor(offset)[offset % kChunk] = value;
}

// Chunk by chunk: one lookup per chunk touched.
void SparseBytes::read(uint64_t offset, std::span<uint8_t> out) const {
    size_t i = 0;
    while (i < out.size()) {
        const uint64_t at = offset + i;
        const size_t n = std::min<uint64_t>(out.size() - i, kChunk - at % kChunk);
        const auto found = at < size_ ? chunks_.find(at / kChunk) : chunks_.end();
        for (size_t k = 0; k < n; ++k)
            out[i + k] = found != chunks_.end() && at + k < size_ ? found->second[at % kChunk + k] : fill_;
        i += n;
    }
}

void SparseBytes::write(uint64_t offset, std::span<const uint8_t> in) {
    size_t i = 0;
    while (i < in.size()) {
        const uint64_t at = offset + i;
        const size_t n = std::min<uint64_t>(in.size() - i, kChunk - at % kChunk);
        if (at >= size_)
            return;
        const bool plain =
            std::all_of(in.begin() + i, in.begin() + i + n, [&](uint8_t b) { return b == fill_; });
        if (!plain || chunks_.count(at / kChunk) != 0) {
            Chunk& chunk = chunkFor(at);
            for (size_t k = 0; k < n && at + k < size_; ++k)
                chunk[at % kChunk + k] = in[i + k];
        }
        i += n;
    }
}

void SparseBytes::clear(uint64_t offset, uint64_t count) {
    const uint64_t end = std::min(size_, offset + count);
    for (auto it = chunks_.begin(); it != chunks_.end();) {
        const uint64_t first = it->first * kChunk;
        const uint64_t last = first + kChunk;
        if (last <= offset || first >= end) {
            ++it;
        } else if (first >= offset && last <= end) {
            it = chunks_.erase(it);
        } else {
            for (uint64_t a = std::max(first, offset); a < std::min(last, end); ++a)
                it->second[a - first] = fill_;
            ++it;
        }
    }
}

std::vector<std::pair<uint64_t, std::vector<uint8_t>>> SparseBytes::runs(size_t maxRun) const {
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> result;
    for (const auto& [index, chunk] : chunks_) {
        for (uint64_t i = 0; i < kChunk; ++i) {
            if (chunk[i] == fill_)
                continue;
            const uint64_t address = index * kChunk + i;
            if (!result.empty()) {
                auto& [start, bytes] = result.back();
                if (start + bytes.size() == address && bytes.size() < maxRun) {
                    bytes.push_back(chunk[i]);
                    continue;
                }
            }
            result.push_back({address, {chunk[i]}});
        }
    }
    return result;
}

} // namespace zsim
