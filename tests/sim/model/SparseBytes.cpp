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

void SparseBytes::read(uint64_t offset, std::span<uint8_t> out) const {
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = offset + i < size_ ? get(offset + i) : fill_;
}

void SparseBytes::write(uint64_t offset, std::span<const uint8_t> in) {
    for (size_t i = 0; i < in.size(); ++i)
        set(offset + i, in[i]);
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
