// Byte helpers of the front-end tests: little-endian words and hexadecimal text of bytes.
#ifndef TESTS_FRONTEND_PERIPHERY_TEST_BYTES_H
#define TESTS_FRONTEND_PERIPHERY_TEST_BYTES_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline void putLe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void appendLe32(std::vector<uint8_t>& b, uint32_t v) {
    b.resize(b.size() + 4);
    putLe32(b, b.size() - 4, v);
}

// Upper-case hexadecimal, two digits a byte, as scenarios and traces write bytes.
inline std::string hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char two[3];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02X", b);
        text += two;
    }
    return text;
}

#endif
