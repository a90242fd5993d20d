// Services the library hands to its modules and shares with the front end.
#include "core/zelkor.h"

#include <array>
#include <cstring>

extern "C" char* strIgnoreCaseStr(const char* haystack, const char* needle) {
    if (haystack == nullptr || needle == nullptr)
        return nullptr;
    const size_t hayLength = std::strlen(haystack);
    const size_t needleLength = std::strlen(needle);
    if (needleLength > hayLength)
        return nullptr;
    // The C locale's mapping, whatever locale the host program chose: only A-Z change.
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    for (size_t start = 0; start + needleLength <= hayLength; ++start) {
        size_t i = 0;
        while (i < needleLength && lower(haystack[start + i]) == lower(needle[i]))
            ++i;
        if (i == needleLength)
            return const_cast<char*>(haystack + start);
    }
    return nullptr;
}

namespace {

struct ProductRow {
    uint16_t productId;
    uint32_t chipType;
    const char* name;
    const char* family;
};

constexpr std::array<ProductRow, 12> kProducts{{
    {0x230, ZELKOR_CHIP_QUENZA, "Vellor_48", "Quenza"},
    {0x231, ZELKOR_CHIP_QUENZA, "Vellor_44", "Quenza"},
    {0x232, ZELKOR_CHIP_QUENZA, "Vellor_40", "Quenza"},
    {0x233, ZELKOR_CHIP_QUENZA, "Vellor_36", "Quenza"},
    {0x235, ZELKOR_CHIP_QUENZA, "Vellor_28", "Quenza"},
    {0x236, ZELKOR_CHIP_QUENZA, "Vellor_24", "Quenza"},
    {0x238, ZELKOR_CHIP_QUENZA_DAX, "Kestan_48", "Dax"},
    {0x239, ZELKOR_CHIP_QUENZA_DAX, "Kestan_44", "Dax"},
    {0x23A, ZELKOR_CHIP_QUENZA_DAX, "Kestan_40", "Dax"},
    {0x23B, ZELKOR_CHIP_QUENZA_DAX, "Kestan_36", "Dax"},
    {0x23C, ZELKOR_CHIP_QUENZA_DAX, "Kestan_28", "Dax"},
    {0x23D, ZELKOR_CHIP_QUENZA_DAX, "Kestan_24", "Dax"},
}};

constexpr std::array<const char*, 4> kRevisions{"A0", "B0", "C0", "C1"};

template <size_t N> void copyText(char (&field)[N], const char* text) {
    std::strncpy(field, text, N - 1);
    field[N - 1] = '\0';
}

} // namespace

extern "C" void productIDAndRevDecode(ZELKOR_EXPANDER* expander) {
    if (expander == nullptr)
        return;
    if (expander->revisionCode < kRevisions.size()) {
        expander->revisionIndex = expander->revisionCode;
        copyText(expander->revision, kRevisions[expander->revisionCode]);
    } else {
        copyText(expander->revision, "Unknown Revision");
    }
    for (const ProductRow& row : kProducts) {
        if (row.productId == expander->productId) {
            expander->type = row.chipType;
            copyText(expander->name, row.name);
            expander->familyName = row.family;
            return;
        }
    }
    copyText(expander->name, "Unknown");
    expander->familyName = "Unknown";
}
