// An endpoint in front of another whose answers a ReplyMutator damages: the host's bytes reach the inner
// endpoint unchanged, and each chunk the inner endpoint puts out crosses the mutator. It keeps what the
// host saw and every write of the host, with whether the inner endpoint was then in a transfer.
#ifndef ZSIM_MUTATING_ENDPOINT_H
#define ZSIM_MUTATING_ENDPOINT_H

#include "console/LineEndpoint.h"
#include "console/ReplyMutator.h"

#include <functional>
#include <utility>

namespace zsim {

class MutatingEndpoint : public LineEndpoint {
  public:
    struct HostWrite {
        std::vector<uint8_t> bytes;
        bool duringTransfer = false;
    };

    // inTransfer tells whether the inner endpoint is in a transfer (may be empty: never).
    MutatingEndpoint(LineEndpoint& inner, ReplyMutator& mutator, std::function<bool()> inTransfer = {})
        : inner_(inner), mutator_(mutator), inTransfer_(std::move(inTransfer)) {}

    void begin(uint64_t now) override {
        inner_.begin(now);
        pump();
    }
    void onBytes(const uint8_t* bytes, size_t count, uint64_t now) override {
        writes_.push_back({std::vector<uint8_t>(bytes, bytes + count), inTransfer_ && inTransfer_()});
        inner_.onBytes(bytes, count, now);
        pump();
    }
    void onTime(uint64_t now) override {
        inner_.onTime(now);
        pump();
    }
    std::optional<uint64_t> nextDeadline() const override { return inner_.nextDeadline(); }
    std::vector<uint8_t>& output() override { return output_; }
    bool dropped() const override { return dropped_ || inner_.dropped(); }
    // The line drops once the inner endpoint has put out this many chunks (none: never).
    void dropAfter(uint32_t chunks) { dropAfter_ = chunks; }
    std::optional<UartFrame> frame() const override { return inner_.frame(); }
    void onFrame(const UartFrame& frame) override { inner_.onFrame(frame); }

    // Every byte the host was offered, in order.
    const std::vector<uint8_t>& shown() const { return shown_; }
    const std::vector<HostWrite>& writes() const { return writes_; }

  private:
    void pump() {
        std::vector<uint8_t>& out = inner_.output();
        if (out.empty())
            return;
        std::vector<uint8_t> chunk = mutator_.apply(std::move(out));
        out.clear();
        if (dropAfter_ && ++chunks_ > *dropAfter_) {
            dropped_ = true;
            return;
        }
        output_.insert(output_.end(), chunk.begin(), chunk.end());
        shown_.insert(shown_.end(), chunk.begin(), chunk.end());
    }

    LineEndpoint& inner_;
    ReplyMutator& mutator_;
    std::function<bool()> inTransfer_;
    std::vector<uint8_t> output_;
    std::vector<uint8_t> shown_;
    std::vector<HostWrite> writes_;
    std::optional<uint32_t> dropAfter_;
    uint32_t chunks_ = 0;
    bool dropped_ = false;
};

} // namespace zsim

#endif
