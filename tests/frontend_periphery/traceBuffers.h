// Trace buffers as the expander firmware lays them out, built for the tests.
#ifndef TESTS_FRONTEND_PERIPHERY_TRACE_BUFFERS_H
#define TESTS_FRONTEND_PERIPHERY_TRACE_BUFFERS_H

#include "tests/frontend_periphery/testBytes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct TraceEntry {
    TraceEntry(uint16_t i, uint8_t s, std::vector<uint32_t> a, int c = -1)
        : index(i), subsystem(s), args(std::move(a)), countOverride(c) {}
    uint16_t index;
    uint8_t subsystem;
    std::vector<uint32_t> args;
    int countOverride; // the argument count byte, when it should differ from args.size()
};

// A trace buffer: seven string blocks and the entries after them, with the header's lengths.
struct TraceBuffer {
    std::array<std::vector<std::string>, 7> strings;
    std::vector<TraceEntry> entries;

    std::vector<uint8_t> build(size_t* stringsLengthAt = nullptr) const {
        std::vector<uint8_t> b(16, 0);
        for (const auto& block : strings) {
            std::vector<uint8_t> header(16, 0);
            std::string bytes;
            for (const std::string& s : block)
                bytes += s + '\0';
            header[2] = static_cast<uint8_t>(block.size());
            header[3] = static_cast<uint8_t>(block.size() >> 8);
            putLe32(header, 4, static_cast<uint32_t>(bytes.size()));
            b.insert(b.end(), header.begin(), header.end());
            b.insert(b.end(), bytes.begin(), bytes.end());
        }
        putLe32(b, 12, static_cast<uint32_t>(b.size() - 16));
        if (stringsLengthAt != nullptr)
            *stringsLengthAt = b.size();
        for (const TraceEntry& e : entries) {
            b.push_back(static_cast<uint8_t>(e.index));
            b.push_back(static_cast<uint8_t>(e.index >> 8));
            b.push_back(e.subsystem);
            b.push_back(static_cast<uint8_t>(e.countOverride >= 0 ? e.countOverride : e.args.size()));
            for (uint32_t a : e.args)
                appendLe32(b, a);
        }
        putLe32(b, 4, static_cast<uint32_t>(b.size()));
        return b;
    }
};

#endif
