// The SEEPROM boot-record programmer: drives the expander's I2C controller register by register (each access
// one 4-byte read or write of expander memory through the handle's interface operations) to write and read
// the 8192-byte boot record in the serial EEPROM at I2C address 0x50. It prints and logs nothing.
#ifndef ZELKOR_HAL_IIC_H
#define ZELKOR_HAL_IIC_H

#include "core/zelkor.h"

#include <cstdint>
#include <cstdio>

inline constexpr uint32_t SEEPROM_IMAGE_BUFFER_SIZE = 262144;
inline constexpr uint32_t SEEPROM_BOOT_RECORD_SIZE = 8192;
inline constexpr uint32_t SEEPROM_SLOT_WORD = 0x40000034u;
inline constexpr ZELKOR_STATUS SEEPROM_SLOT_UNREADABLE = 25;

typedef struct SEEPROM_SLOT_TABLE {
    uint8_t entry[4]; // entry k for istwi k: slot offset (entry & 0x7F) x 64
} SEEPROM_SLOT_TABLE;

extern uint8_t gReadDataBuffer[SEEPROM_IMAGE_BUFFER_SIZE];
extern uint32_t gWorkingImageSize;

// Writes the image file as the boot record of the slot the expander boots from: 0, 1, 6 or 25.
ZELKOR_STATUS downloadBinaryToSeeprom(ZELKOR_INSTANCE* handle, uint32_t, uint32_t, uint32_t, FILE* image);
// Reads the boot record into the file, or into the buffer (8192 bytes) when the file is null: 0, 1 or 25.
ZELKOR_STATUS uploadSeepromToBinary(ZELKOR_INSTANCE* handle, uint32_t, uint32_t, uint32_t, FILE* out,
                                    uint8_t* buffer);

ZELKOR_STATUS initializeI2CInterface(uint32_t istwi);
ZELKOR_STATUS i2cSendNBytes(const uint8_t* data, uint32_t n, uint16_t offset, uint32_t istwi);
ZELKOR_STATUS i2cGetNBytes(uint8_t* out, uint32_t n);
ZELKOR_STATUS i2cWriteNBytes(const uint8_t* data, uint32_t offset, uint32_t n);
ZELKOR_STATUS i2cReadNBytes(uint8_t* out, uint32_t offset, uint32_t n);
// The slot offset (a multiple of 64, never 0), or 1.
uint32_t getSeepromOffset();
ZELKOR_STATUS i2cWriteBootRecImage(uint8_t* image, uint32_t length);
ZELKOR_STATUS i2cReadBootRecImage(uint8_t* out, uint32_t* length);
// Sets byte 8191 (and the bytes after the record) by the checksum rule; returns the index of the last byte
// set.
uint32_t calculateCheckSums(uint8_t* image, uint32_t length);
ZELKOR_STATUS calculateIstwiAddr(uint8_t* out);
ZELKOR_STATUS writeToi2cRegister(uint32_t offset, uint32_t value, uint32_t istwi);
ZELKOR_STATUS readFromi2cRegister(uint32_t offset, uint32_t* out, uint32_t istwi);
ZELKOR_STATUS seeprom_writeData(uint32_t address, uint32_t value);
ZELKOR_STATUS seeprom_readData(uint32_t address, uint32_t n, uint8_t* out);
void iic_sleep(uint32_t milliseconds);

#endif
