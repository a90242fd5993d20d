#include "hal/iic.h"

#include "hal/flash.h"
#include "osal/osalTime.h"

#include <cstring>
#include <memory>
#include <new>

uint8_t gReadDataBuffer[SEEPROM_IMAGE_BUFFER_SIZE];
uint32_t gWorkingImageSize = 0;

namespace {

constexpr uint32_t kControllerBase[4] = {0, 0x40300000u, 0x40400000u, 0xB001C000u};

constexpr uint32_t kRegEnable = 0x00;
constexpr uint32_t kRegAck = 0x04;
constexpr uint32_t kRegSetup08 = 0x08;
constexpr uint32_t kRegSetup1C = 0x1C;
constexpr uint32_t kRegReset = 0x24;
constexpr uint32_t kRegControl = 0x28;
constexpr uint32_t kRegReceiveCount = 0x2C;
constexpr uint32_t kRegTransmitCount = 0x30;
constexpr uint32_t kRegAddress = 0x34;
constexpr uint32_t kRegFifo = 0x3C;
constexpr uint32_t kRegTransmitLevel = 0x40;
constexpr uint32_t kRegReceiveLevel = 0x44;
constexpr uint32_t kRegSetup48 = 0x48;
constexpr uint32_t kRegStatus = 0x4C;

constexpr uint32_t kDoneBits = 0xC00;
constexpr uint32_t kBusyBit = 0x08;
constexpr uint32_t kFifoDepth = 8;
constexpr uint32_t kMaxTransfer = 255;
constexpr uint32_t kPollRounds = 2000;
constexpr uint32_t kResetRounds =
    10; // soft-reset rounds of one second each before the controller is given up
constexpr uint32_t kChunk = 32;
constexpr int kTries = 5;
constexpr uint32_t kWriteCycleMs = 1000;
constexpr uint32_t kSlotUnit = 64;
constexpr uint8_t kWriteAddress = 0xA0;
constexpr uint8_t kReadAddress = 0xA1;
constexpr uint32_t kFailed = 1;
constexpr ZELKOR_STATUS kNoMemory = 6;
constexpr uint8_t kDefaultTable[4] = {0x81, 0xA1, 0xC1, 0xE1};

void bind(ZELKOR_INSTANCE* handle) {
    gZelkorObj = handle;
    gIalHandle = handle != nullptr ? handle->ialInstance : nullptr;
    gRegion = ZELKOR_REGION{ZELKOR_REGION_MEMORY, 0xC0, 0, 0, 0xFFFFFFFFu, 0, 0, 0};
}

ZELKOR_STATUS w(uint32_t reg, uint32_t value) {
    return writeToi2cRegister(reg, value, 1);
}

ZELKOR_STATUS r(uint32_t reg, uint32_t* value) {
    return readFromi2cRegister(reg, value, 1);
}

// The end of every transfer: the done bits, the acknowledgement, and the controller no longer busy.
ZELKOR_STATUS finishTransfer() {
    uint32_t polls = 0;
    for (;;) {
        uint32_t status = 0;
        if (r(kRegStatus, &status) != 0)
            polls += 2;
        else if ((status & kDoneBits) != 0)
            break;
        else
            ++polls;
        if (polls >= kPollRounds)
            return kFailed;
    }
    if (w(kRegAck, 1) != 0)
        return kFailed;
    for (uint32_t round = 0; round < kPollRounds; ++round) {
        uint32_t control = 0;
        if (r(kRegControl, &control) != 0)
            return kFailed;
        if ((control & kBusyBit) == 0)
            return 0;
    }
    return kFailed;
}

// One I2C transfer on controller 1, either way: the address byte, then the bytes fed to the transmit FIFO
// or taken from the receive FIFO as its levels allow.
ZELKOR_STATUS transfer(bool write, uint8_t* bytes, uint32_t count) {
    if (w(kRegTransmitCount, write ? count : 0) || w(kRegReceiveCount, write ? 0 : count) ||
        w(kRegAddress, write ? kWriteAddress : kReadAddress) || w(kRegControl, 1) || w(kRegControl, 9))
        return kFailed;
    uint32_t done = 0;
    uint32_t attempts = 0;
    while (done < count) {
        if (++attempts > kPollRounds)
            return kFailed;
        uint32_t level = 0;
        if (r(write ? kRegTransmitLevel : kRegReceiveLevel, &level) != 0) {
            if (!write)
                return kFailed;
            ++attempts;
            continue;
        }
        // A level past the FIFO's depth is no level.
        if (level > kFifoDepth)
            return kFailed;
        uint32_t n = write ? kFifoDepth - level : level;
        if (n > count - done)
            n = count - done;
        for (uint32_t i = 0; i < n; ++i) {
            if (write) {
                if (w(kRegFifo, bytes[done]) != 0) {
                    ++attempts; // sent again in the next round
                    break;
                }
            } else {
                uint32_t word = 0;
                if (r(kRegFifo, &word) != 0)
                    return kFailed; // a byte that did not come is no data
                bytes[done] = static_cast<uint8_t>(word);
            }
            ++done;
        }
    }
    return finishTransfer();
}

// n bytes at o, pointer set and then chunks of at most 32 bytes; a chunk tried again sets the pointer again.
ZELKOR_STATUS readSequential(uint8_t* out, uint32_t o, uint32_t n) {
    if (n < 1)
        return kFailed;
    bool pointerSet = false;
    for (int t = 0; t < kTries && !pointerSet; ++t)
        pointerSet = i2cSendNBytes(nullptr, 0, static_cast<uint16_t>(o), 1) == 0;
    if (!pointerSet)
        return kFailed;
    for (uint32_t done = 0; done < n;) {
        const uint32_t chunk = n - done < kChunk ? n - done : kChunk;
        bool taken = false;
        for (int t = 0; t < kTries && !taken; ++t) {
            if (t > 0 && i2cSendNBytes(nullptr, 0, static_cast<uint16_t>(o + done), 1) != 0)
                continue;
            taken = i2cGetNBytes(out + done, chunk) == 0;
        }
        if (!taken)
            return kFailed;
        done += chunk;
    }
    return 0;
}

// Up to five attempts of a sequential read, the controller set up again after each failed one.
ZELKOR_STATUS readWithRetries(uint8_t* out, uint32_t o, uint32_t n) {
    for (int t = 0; t < kTries; ++t) {
        if (readSequential(out, o, n) == 0)
            return 0;
        initializeI2CInterface(1);
    }
    return kFailed;
}

uint8_t checksumOf(const uint8_t* bytes, uint32_t n) {
    uint8_t sum = 0;
    for (uint32_t i = 0; i < n; ++i)
        sum = static_cast<uint8_t>(sum + bytes[i]);
    return static_cast<uint8_t>(-sum);
}

// The 32-byte chunks of the record to write: those holding the image's bytes, and the last (the checksum).
bool chunkWanted(uint32_t chunkStart, uint32_t length) {
    return chunkStart < length || chunkStart + kChunk >= SEEPROM_BOOT_RECORD_SIZE;
}

} // namespace

void iic_sleep(uint32_t milliseconds) {
    osal_sleepMs(milliseconds);
}

ZELKOR_STATUS seeprom_writeData(uint32_t address, uint32_t value) {
    if (gZelkorObj == nullptr || gZelkorObj->ialVectors.zelkor_ial_downloadRegion == nullptr)
        return kFailed;
    uint8_t bytes[4];
    std::memcpy(bytes, &value, 4);
    return gZelkorObj->ialVectors.zelkor_ial_downloadRegion(gIalHandle, &gRegion, address, 4, nullptr,
                                                            bytes) == 0
               ? 0
               : kFailed;
}

ZELKOR_STATUS seeprom_readData(uint32_t address, uint32_t n, uint8_t* out) {
    if (gZelkorObj == nullptr || gZelkorObj->ialVectors.zelkor_ial_uploadRegion == nullptr)
        return kFailed;
    return gZelkorObj->ialVectors.zelkor_ial_uploadRegion(gIalHandle, &gRegion, address, n, nullptr, out) == 0
               ? 0
               : kFailed;
}

ZELKOR_STATUS writeToi2cRegister(uint32_t offset, uint32_t value, uint32_t istwi) {
    if (istwi < 1 || istwi > 3)
        return 0;
    return seeprom_writeData(kControllerBase[istwi] + offset, value);
}

ZELKOR_STATUS readFromi2cRegister(uint32_t offset, uint32_t* out, uint32_t istwi) {
    *out = 0;
    if (istwi < 1 || istwi > 3)
        return 0;
    uint8_t bytes[4] = {};
    if (seeprom_readData(kControllerBase[istwi] + offset, 4, bytes) != 0)
        return kFailed;
    std::memcpy(out, bytes, 4);
    return 0;
}

ZELKOR_STATUS initializeI2CInterface(uint32_t k) {
    if (k < 1 || k > 3) {
        iic_sleep(1000);
        return 0;
    }
    if (writeToi2cRegister(kRegReset, 1, k) != 0)
        return kFailed;
    bool over = false;
    for (uint32_t round = 0; round < kResetRounds && !over; ++round) {
        iic_sleep(1000);
        uint32_t value = 0;
        if (readFromi2cRegister(kRegReset, &value, k) != 0)
            return kFailed;
        over = (value & 1) == 0;
    }
    if (!over)
        return kFailed;
    const uint32_t setup[][2] = {{kRegControl, 7}, {kRegControl, 0x0F},   {kRegEnable, 1},
                                 {kRegSetup08, 1}, {kRegSetup48, 0xFFF0}, {0x80, 0x43},
                                 {0x84, 0x77},     {0x8C, 0xE1},          {0x90, 0x19},
                                 {0x88, 3},        {kRegSetup1C, 9}};
    for (const auto& [reg, value] : setup)
        if (writeToi2cRegister(reg, value, k) != 0)
            return kFailed;
    uint32_t level = 0;
    if (readFromi2cRegister(kRegReceiveLevel, &level, k) != 0 || level > kFifoDepth)
        return kFailed;
    for (uint32_t i = 0; i < level; ++i) {
        uint32_t discarded = 0;
        if (readFromi2cRegister(kRegFifo, &discarded, k) != 0)
            return kFailed;
    }
    return 0;
}

ZELKOR_STATUS i2cSendNBytes(const uint8_t* data, uint32_t n, uint16_t offset, uint32_t istwi) {
    (void)istwi; // transfers always go through controller 1
    if (n > kMaxTransfer)
        return kFailed;
    uint8_t bytes[kMaxTransfer + 2];
    bytes[0] = static_cast<uint8_t>(offset >> 8);
    bytes[1] = static_cast<uint8_t>(offset);
    if (n > 0)
        std::memcpy(bytes + 2, data, n);
    if (transfer(true, bytes, n + 2) != 0)
        return kFailed;
    if (n >= 1)
        iic_sleep(kWriteCycleMs);
    return 0;
}

ZELKOR_STATUS i2cGetNBytes(uint8_t* out, uint32_t n) {
    if (n > kMaxTransfer)
        return kFailed;
    return transfer(false, out, n);
}

ZELKOR_STATUS i2cWriteNBytes(const uint8_t* data, uint32_t offset, uint32_t n) {
    for (uint32_t done = 0; done < n;) {
        const uint32_t chunk = n - done < kChunk ? n - done : kChunk;
        if (i2cSendNBytes(data + done, chunk, static_cast<uint16_t>(offset + done), 1) != 0)
            return kFailed;
        done += chunk;
    }
    return 0;
}

ZELKOR_STATUS i2cReadNBytes(uint8_t* out, uint32_t offset, uint32_t n) {
    return readSequential(out, offset % 65536, n);
}

ZELKOR_STATUS calculateIstwiAddr(uint8_t* out) {
    uint8_t word[4] = {};
    if (seeprom_readData(SEEPROM_SLOT_WORD, 4, word) != 0)
        return SEEPROM_SLOT_UNREADABLE;
    uint32_t value = 0;
    std::memcpy(&value, word, 4);
    *out = static_cast<uint8_t>((value >> 2) & 3);
    return 0;
}

uint32_t getSeepromOffset() {
    if (initializeI2CInterface(1) != 0)
        return kFailed;
    // Without the slot word the slot is unknown: slot 0 would be a guess.
    uint8_t istwi = 0;
    if (calculateIstwiAddr(&istwi) != 0)
        return kFailed;
    SEEPROM_SLOT_TABLE table{};
    if (readWithRetries(table.entry, 0, 4) != 0)
        return kFailed;
    const bool valid = table.entry[0] && table.entry[1] && table.entry[2] && table.entry[3];
    if (!valid) {
        uint8_t back[4] = {};
        if (i2cWriteNBytes(kDefaultTable, 0, 4) != 0 || readSequential(back, 0, 4) != 0 ||
            std::memcmp(back, kDefaultTable, 4) != 0)
            return kFailed;
        std::memcpy(table.entry, kDefaultTable, 4);
    }
    // An entry naming offset 0 would put the record over the table itself.
    const uint32_t offset = (table.entry[istwi] & 0x7Fu) * kSlotUnit;
    return offset == 0 ? kFailed : offset;
}

uint32_t calculateCheckSums(uint8_t* image, uint32_t length) {
    image[SEEPROM_BOOT_RECORD_SIZE - 1] = checksumOf(image, SEEPROM_BOOT_RECORD_SIZE - 1);
    if (length <= SEEPROM_BOOT_RECORD_SIZE + 2) {
        image[SEEPROM_BOOT_RECORD_SIZE] = 0;
        image[SEEPROM_BOOT_RECORD_SIZE + 1] = 0;
        return SEEPROM_BOOT_RECORD_SIZE + 1;
    }
    image[length - 2] = 0;
    image[length - 1] = checksumOf(image + SEEPROM_BOOT_RECORD_SIZE, length - 2 - SEEPROM_BOOT_RECORD_SIZE);
    return length - 1;
}

// The image is laid over the record the slot holds, so that the checksum, taken over all 8192 bytes, stays
// true for a short image too; the image's chunks and the last one are written and read back.
ZELKOR_STATUS i2cWriteBootRecImage(uint8_t* image, uint32_t length) {
    if (length == 0 || length > SEEPROM_BOOT_RECORD_SIZE)
        return kFailed;
    std::unique_ptr<uint8_t[]> record(new (std::nothrow) uint8_t[SEEPROM_BOOT_RECORD_SIZE + 2]);
    std::unique_ptr<uint8_t[]> back(new (std::nothrow) uint8_t[SEEPROM_BOOT_RECORD_SIZE]);
    if (!record || !back)
        return kNoMemory;
    const uint32_t slot = getSeepromOffset();
    if (slot == kFailed)
        return kFailed;
    if (readWithRetries(record.get(), slot, SEEPROM_BOOT_RECORD_SIZE) != 0)
        return kFailed;
    std::memcpy(record.get(), image, length);
    calculateCheckSums(record.get(), SEEPROM_BOOT_RECORD_SIZE);
    std::memcpy(image, record.get(), SEEPROM_BOOT_RECORD_SIZE);

    bool written = false;
    for (int t = 0; t < kTries && !written; ++t) {
        written = true;
        for (uint32_t at = 0; at < SEEPROM_BOOT_RECORD_SIZE && written; at += kChunk)
            if (chunkWanted(at, length))
                written = i2cSendNBytes(record.get() + at, kChunk, static_cast<uint16_t>(slot + at), 1) == 0;
        if (!written)
            initializeI2CInterface(1);
    }
    if (!written)
        return kFailed;
    for (uint32_t at = 0; at < SEEPROM_BOOT_RECORD_SIZE; at += kChunk) {
        if (!chunkWanted(at, length))
            continue;
        if (readWithRetries(back.get() + at, slot + at, kChunk) != 0 ||
            std::memcmp(back.get() + at, record.get() + at, kChunk) != 0)
            return kFailed;
    }
    return 0;
}

ZELKOR_STATUS i2cReadBootRecImage(uint8_t* out, uint32_t* length) {
    const uint32_t slot = getSeepromOffset();
    if (slot == kFailed)
        return kFailed;
    if (readWithRetries(out, slot, SEEPROM_BOOT_RECORD_SIZE) != 0)
        return kFailed;
    *length = SEEPROM_BOOT_RECORD_SIZE;
    return 0;
}

ZELKOR_STATUS downloadBinaryToSeeprom(ZELKOR_INSTANCE* handle, uint32_t, uint32_t, uint32_t, FILE* image) {
    bind(handle);
    if (image == nullptr || std::fseek(image, 0, SEEK_END) != 0)
        return kFailed;
    const long size = std::ftell(image);
    std::rewind(image);
    if (size <= 0)
        return kFailed; // nothing to write, or a file that cannot be measured
    const uint32_t length = size < static_cast<long>(SEEPROM_BOOT_RECORD_SIZE) ? static_cast<uint32_t>(size)
                                                                               : SEEPROM_BOOT_RECORD_SIZE;
    std::memset(gReadDataBuffer, 0, sizeof gReadDataBuffer);
    if (std::fread(gReadDataBuffer, 1, length, image) != length)
        return kFailed;
    gWorkingImageSize = length;
    uint8_t istwi = 0;
    if (calculateIstwiAddr(&istwi) != 0)
        return SEEPROM_SLOT_UNREADABLE;
    return i2cWriteBootRecImage(gReadDataBuffer, length);
}

ZELKOR_STATUS uploadSeepromToBinary(ZELKOR_INSTANCE* handle, uint32_t, uint32_t, uint32_t, FILE* out,
                                    uint8_t* buffer) {
    bind(handle);
    uint8_t istwi = 0;
    if (calculateIstwiAddr(&istwi) != 0)
        return SEEPROM_SLOT_UNREADABLE;
    if (out == nullptr && buffer == nullptr)
        return kFailed;
    if (initializeI2CInterface(1) != 0)
        return kFailed;
    uint32_t length = 0;
    if (i2cReadBootRecImage(gReadDataBuffer, &length) != 0)
        return kFailed;
    gWorkingImageSize = SEEPROM_BOOT_RECORD_SIZE;
    // The record handed out always sums to 0: its checksum byte is computed, not taken from the SEEPROM.
    gReadDataBuffer[SEEPROM_BOOT_RECORD_SIZE - 1] = checksumOf(gReadDataBuffer, SEEPROM_BOOT_RECORD_SIZE - 1);
    gReadDataBuffer[SEEPROM_BOOT_RECORD_SIZE] = 0;
    gReadDataBuffer[SEEPROM_BOOT_RECORD_SIZE + 1] = 0;
    if (out == nullptr) {
        std::memcpy(buffer, gReadDataBuffer, SEEPROM_BOOT_RECORD_SIZE);
        return 0;
    }
    if (std::fwrite(gReadDataBuffer, 1, SEEPROM_BOOT_RECORD_SIZE, out) != SEEPROM_BOOT_RECORD_SIZE ||
        std::fflush(out) != 0)
        return kFailed;
    return 0;
}
