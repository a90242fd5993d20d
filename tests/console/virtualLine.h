// A line between the product's console protocols and a simulated endpoint (the console persona or its
// XMODEM peer) in virtual time: silence
// costs no real time, and the peer's timed answers (a receiver's NAK after a quiet second) come when the
// virtual clock reaches them. A dropped line fails every later call, as a hung-up tty does.
#ifndef TESTS_CONSOLE_VIRTUAL_LINE_H
#define TESTS_CONSOLE_VIRTUAL_LINE_H

#include "console/LineEndpoint.h"
#include "osal/serialLine.h"

#include <algorithm>
#include <cstring>

class VirtualLine : public SerialLine {
  public:
    static constexpr uint64_t kSilenceMs = 200; // a read ends after this much quiet

    explicit VirtualLine(zsim::LineEndpoint& peer) : peer_(peer) { peer_.begin(now_); }

    // Lets time pass on the line with nothing written (the product sleeping).
    void idle(uint64_t milliseconds) {
        const uint64_t target = now_ + milliseconds;
        for (auto next = peer_.nextDeadline(); next && *next <= target; next = peer_.nextDeadline()) {
            now_ = std::max(now_, *next);
            peer_.onTime(now_);
        }
        now_ = std::max(now_, target);
    }

    bool read(uint8_t* buffer, uint32_t count, uint32_t& got) override {
        got = 0;
        while (got < count) {
            if (peer_.dropped())
                return got > 0;
            auto& out = peer_.output();
            const uint32_t n = std::min<uint32_t>(count - got, static_cast<uint32_t>(out.size()));
            if (n > 0)
                std::memcpy(buffer + got, out.data(), n);
            out.erase(out.begin(), out.begin() + n);
            got += n;
            if (got == count)
                break;
            const uint64_t quietUntil = now_ + kSilenceMs;
            advanceTo(quietUntil);
            if (peer_.output().empty())
                return !peer_.dropped() || got > 0;
        }
        return true;
    }
    bool write(const uint8_t* data, uint32_t count) override {
        if (peer_.dropped())
            return false;
        written_.insert(written_.end(), data, data + count);
        peer_.onBytes(data, count, now_);
        return true;
    }
    bool dropInput() override {
        peer_.output().clear();
        return !peer_.dropped();
    }
    bool waitInput(uint32_t milliseconds) override {
        if (peer_.dropped())
            return false;
        if (!peer_.output().empty())
            return true;
        advanceTo(now_ + milliseconds);
        return !peer_.output().empty() && !peer_.dropped();
    }
    uint64_t nowMs() override { return now_; }

    // Every byte the product wrote.
    const std::vector<uint8_t>& written() const { return written_; }

  private:
    // Moves the clock on, stopping early when the peer has something to say.
    void advanceTo(uint64_t target) {
        while (peer_.output().empty()) {
            const auto next = peer_.nextDeadline();
            if (!next || *next > target)
                break;
            now_ = std::max(now_, *next);
            peer_.onTime(now_);
        }
        if (peer_.output().empty())
            now_ = std::max(now_, target);
    }

    zsim::LineEndpoint& peer_;
    uint64_t now_ = 0;
    std::vector<uint8_t> written_;
};

#endif
