// The hardware modules driven through their query functions the way the core drives them, over a handle
// whose interface slots are the model-backed fake interface.
#ifndef TESTS_HAL_HAL_FIXTURE_H
#define TESTS_HAL_HAL_FIXTURE_H

#include "core/lib.h"
#include "core/modules.h"
#include "tests/hal/modelInterface.h"
#include "tests/support/testSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

inline bool operator==(const ZELKOR_REGION& a, const ZELKOR_REGION& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

inline void PrintTo(const ZELKOR_REGION& r, std::ostream* os) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "{kind %u id 0x%X index %u base 0x%08X size 0x%08X flag %u type 0x%X entry %u}", r.kind,
                  r.regionId, r.index, r.base, r.size, r.descriptorFlag, r.flashType, r.entryId);
    *os << text;
}

// A region row as the modules build it (descriptor flag 0, flash type not identified).
inline ZELKOR_REGION regionRow(uint32_t kind, uint32_t id, uint32_t index, uint32_t base, uint32_t size,
                               uint32_t entryId = 0) {
    return ZELKOR_REGION{kind, id, index, base, size, 0, ZELKOR_FLASH_TYPE_UNKNOWN, entryId};
}

struct FamilyCase {
    const char* name;
    QUERY_SYMBOL_FUNCTION query;
    zsim::Family model;
    uint32_t chipType;
};

inline const FamilyCase kOstrel{"Ostrel", hal_ostrel_query_symbol, zsim::Family::Ostrel, ZELKOR_CHIP_OSTREL};
inline const FamilyCase kQuenza{"Quenza", hal_quenza_query_symbol, zsim::Family::Quenza, ZELKOR_CHIP_QUENZA};
inline const FamilyCase kPalx{"Palx", hal_palx_query_symbol, zsim::Family::Palx, ZELKOR_CHIP_PALX};

// A register access as the fake interface saw it: 'R' or 'W', the address, the word (written, or 0).
using Access = std::tuple<char, uint32_t, uint32_t>;

class HalTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // A fresh model of the family and a fresh handle on the fake interface (interface code 0, designated
    // regions wanted, the library log as its log function).
    void use(const FamilyCase& family);

    template <typename Slot> Slot op(const char* name) const {
        return reinterpret_cast<Slot>(family_->query(name));
    }

    // The module's open and close on the handle.
    ZELKOR_STATUS open();
    ZELKOR_STATUS close();

    // The handle's region list.
    std::vector<ZELKOR_REGION> regions() const;
    // The register accesses of the recorded calls (4-byte memory-window transfers), in order.
    std::vector<Access> accesses() const;
    // What the module printed on standard output while fn ran.
    template <typename F> std::string printed(F fn) {
        testing::internal::CaptureStdout();
        fn();
        return testing::internal::GetCapturedStdout();
    }

    ZELKOR_INSTANCE handle_{};
    LIB_ENTRY interfaceEntry_{};
    ZELKOR_HAL_INSTANCE* hi_ = nullptr;
    const FamilyCase* family_ = nullptr;
    std::unique_ptr<LogCapture> log_;
    ZELKOR_SHARED_VARS savedOptions_{};
    static std::vector<uint32_t> sSleeps;
    static int sProgress;
};

#endif
