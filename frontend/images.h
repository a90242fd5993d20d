// Image checks before a download, the read-back after it, and the versions a region holds.
#ifndef IMAGES_H
#define IMAGES_H

#include "core/zelkor.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Status of postValidationOfImage for a mode it does not handle.
constexpr uint32_t POST_VALIDATION_MODE_NOT_HANDLED = 2;

// Most bytes that the read-back of mode 3 compares.
constexpr size_t POST_VALIDATION_MODE3_LIMIT = 8192;

// The family Quenza signature words in the ZELKOR_FW_HEADER that the bytes (at least its size) hold.
bool hasFwSignature(const uint8_t* header);

// The 32-bit little-endian words of the bytes summed modulo 2^32 (a trailing partial word is not counted).
uint32_t sumOfWords(const uint8_t* data, size_t size);

// Whether the read-back equals the file bytes; compare mode 0 skips the bytes that the expander rewrites when
// it stores an image (28 to 32 on chip types 2 to 5, 38 to 42 on chip type 1).
bool imageBytesMatch(const uint8_t* file, const uint8_t* data, size_t length, uint32_t compareMode,
                     uint32_t chipType);

// The lines that show an MFG Version Info page; data: the page's data bytes (56 of them).
std::string mfgVersionLines(const uint8_t* data);

uint32_t validateFwFile(FILE* image, uint32_t kind, uint32_t index, void* checksum);
uint32_t validateMfgFile(FILE* image, uint8_t* valid);
uint32_t validateBootRecordFile(FILE* image);
uint32_t getVersion(uint32_t kind, uint32_t index);
uint32_t displayMfgImageVersion(ZELKOR_REGION* region);
uint32_t isValidFWImgPresent(ZELKOR_REGION* region);
uint32_t isValidMFGImgPresent(ZELKOR_REGION* region);

// Reads the region back and compares it with the file: 1 verified, 0 failed (the reason in message, which
// holds at least 64 bytes), POST_VALIDATION_MODE_NOT_HANDLED.
uint32_t postValidationOfImage(uint32_t mode, FILE* image, uint32_t kind, uint32_t index, void* unused,
                               char* message, uint32_t dwordCount);

// Compares length bytes of the file, from its start, with the data: 0 equal, 1 different or unreadable.
uint32_t compareDownloadedDataWithFileData(FILE* image, uint32_t length, const uint8_t* data,
                                           uint32_t compareMode);

#endif
