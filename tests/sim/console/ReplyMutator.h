// Seeded damage to a device's answers, for robustness tests: each chunk of bytes a far end sends may be
// cut short, dropped, repeated, replaced by random bytes of a random length, or get bytes flipped or
// inserted (random bytes, NULs, XMODEM control bytes, prompts). The same seed gives the same damage, and
// every change is noted, so that a failing case can be named and replayed.
#ifndef ZSIM_REPLY_MUTATOR_H
#define ZSIM_REPLY_MUTATOR_H

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace zsim {

class ReplyMutator {
  public:
    // rate: the chance (0 to 1) that one chunk is damaged.
    ReplyMutator(uint32_t seed, double rate) : rng_(seed), rate_(rate) {}

    // The chunk as it reaches the host.
    std::vector<uint8_t> apply(std::vector<uint8_t> chunk);

    // One line per change made.
    const std::vector<std::string>& notes() const { return notes_; }
    uint32_t changes() const { return static_cast<uint32_t>(notes_.size()); }

    // Random bytes with a bias to the bytes line protocols react to.
    std::vector<uint8_t> noise(size_t count);

  private:
    uint32_t below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(rng_() % n); }
    uint8_t interestingByte();

    std::mt19937 rng_;
    double rate_;
    std::vector<std::string> notes_;
};

// The bytes as hexadecimal text (at most limit of them), for failure messages.
std::string hexDump(const std::vector<uint8_t>& bytes, size_t limit = 512);

} // namespace zsim

#endif
