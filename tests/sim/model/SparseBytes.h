// A large byte store of which only the written parts take memory; unwritten bytes read as the fill value.
#ifndef ZSIM_SPARSE_BYTES_H
#define ZSIM_SPARSE_BYTES_H

#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <utility>
#include <vector>

namespace zsim {

class SparseBytes {
  public:
    explicit SparseBytes(uint8_t fill = 0, uint64_t size = uint64_t{1} << 32) : fill_(fill), size_(size) {}

    uint8_t fillValue() const { return fill_; }
    uint64_t size() const { return size_; }

    uint8_t get(uint64_t offset) const;
    void set(uint64_t offset, uint8_t value);
    void read(uint64_t offset, std::span<uint8_t> out) const;
    void write(uint64_t offset, std::span<const uint8_t> in);
    // Sets count bytes from offset to the fill value (an erase for a flash).
    void clear(uint64_t offset, uint64_t count);

    // Runs of bytes that differ from the fill value, in address order, each at most maxRun bytes long.
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> runs(size_t maxRun = 4096) const;

  private:
    static constexpr uint64_t kChunk = 4096;
    using Chunk = std::array<uint8_t, kChunk>;
    Chunk& chunkFor(uint64_t offset);

    uint8_t fill_;
    uint64_t size_;
    std::map<uint64_t, Chunk> chunks_;
};

} // namespace zsim

#endif
