// Manufacturing region images built from the header layout, for the tests.
#ifndef TESTS_FRONTEND_PERIPHERY_MFG_IMAGES_H
#define TESTS_FRONTEND_PERIPHERY_MFG_IMAGES_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// A region image: the 8-byte region header, then pages with their 8-byte headers.
class MfgImage {
  public:
    MfgImage() : bytes_{0xF9, 0x04, 0x10, 0x08, 0xFF, 0xFF, 0x00, 0x01} {}

    // A page whose length field says data + 4; its sum over length, id and data, valid bit set.
    MfgImage& page(uint16_t id, const std::vector<uint8_t>& data) {
        const size_t at = bytes_.size();
        const uint16_t length = static_cast<uint16_t>(data.size() + 4);
        bytes_.insert(bytes_.end(), {0xF9, 0, 0xFF, 0xFF, static_cast<uint8_t>(length),
                                     static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(id),
                                     static_cast<uint8_t>(id >> 8)});
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        uint8_t sum = 0;
        for (size_t i = at + 4; i < bytes_.size(); ++i)
            sum = static_cast<uint8_t>(sum + bytes_[i]);
        bytes_[at + 1] = sum;
        last_ = at;
        return *this;
    }
    MfgImage& filler(size_t dataBytes) { return page(0x1234, std::vector<uint8_t>(dataBytes, 0xA5)); }
    MfgImage& end(uint16_t length) {
        bytes_.insert(bytes_.end(), {0xF9, 0, 0xFF, 0xFF, static_cast<uint8_t>(length),
                                     static_cast<uint8_t>(length >> 8), 0, 0});
        return *this;
    }
    std::vector<uint8_t>& bytes() { return bytes_; }
    size_t last() const { return last_; }

  private:
    std::vector<uint8_t> bytes_;
    size_t last_ = 0;
};

inline std::vector<uint8_t> boardData(const std::string& name) {
    std::vector<uint8_t> data(24, 0);
    std::memcpy(data.data() + 8, name.data(), std::min<size_t>(name.size(), 16));
    return data;
}

#endif
