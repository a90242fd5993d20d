// Seeded choices for the robustness tests: every input a case builds is a function of its seed alone, so a
// failure's seed reproduces it.
#ifndef TESTS_ROBUSTNESS_DICE_H
#define TESTS_ROBUSTNESS_DICE_H

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

namespace robust {

class Dice {
  public:
    explicit Dice(uint32_t seed) : rng_(seed) {}
    uint32_t below(uint32_t n) { return n == 0 ? 0 : static_cast<uint32_t>(rng_() % n); }
    bool chance(uint32_t percent) { return below(100) < percent; }
    uint32_t word() { return static_cast<uint32_t>(rng_()); }
    // Half the time one of the edge values, else a uniform value up to max.
    uint32_t pick(std::initializer_list<uint32_t> edges, uint32_t max) {
        if (chance(50))
            return *(edges.begin() + below(static_cast<uint32_t>(edges.size())));
        return max == UINT32_MAX ? word() : below(max + 1);
    }
    template <typename T> const T& oneOf(const std::vector<T>& items) {
        return items[below(static_cast<uint32_t>(items.size()))];
    }
    std::string oneOf(std::initializer_list<const char*> items) {
        return *(items.begin() + below(static_cast<uint32_t>(items.size())));
    }
    std::vector<uint8_t> bytes(size_t n) {
        std::vector<uint8_t> out(n);
        for (auto& b : out)
            b = static_cast<uint8_t>(rng_());
        return out;
    }
    // Random bytes as a text (any byte value, NUL included).
    std::string text(size_t n) {
        std::string out(n, '\0');
        for (auto& c : out)
            c = static_cast<char>(rng_());
        return out;
    }

  private:
    std::mt19937 rng_;
};

// How a failure names its case.
inline std::string seedText(uint32_t seed) {
    char text[24];
    std::snprintf(text, sizeof text, "seed 0x%08X", seed);
    return text;
}

} // namespace robust

#endif
