// A printf subset over 32-bit argument words, for format strings that the expander supplies.
#include "frontend/traceFormat.h"

#include <cstring>

namespace {

// Output that stops growing at the line limit.
class Line {
  public:
    void put(char c) {
        if (text_.size() < TRACE_LINE_LIMIT - 1)
            text_ += c;
    }
    void put(const char* s, size_t n) {
        for (size_t i = 0; i < n; ++i)
            put(s[i]);
    }
    void pad(char c, size_t n) {
        for (size_t i = 0; i < n && !full(); ++i)
            put(c);
    }
    bool full() const { return text_.size() >= TRACE_LINE_LIMIT - 1; }
    std::string take() { return std::move(text_); }

  private:
    std::string text_;
};

struct Spec {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    bool zero = false;
    size_t width = 0;
    bool hasPrecision = false;
    size_t precision = 0;
};

// Digits beyond what a line can hold change nothing; the count stops there instead of overflowing.
size_t readCount(const char*& p, const char* end) {
    size_t value = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p)
        if (value < TRACE_LINE_LIMIT)
            value = value * 10 + static_cast<size_t>(*p - '0');
    return value;
}

bool isLengthModifier(char c) {
    return c != '\0' && std::strchr("hlLqjzt", c) != nullptr;
}

// One converted field: sign or prefix, zeros to the precision, digits, padded to the width.
void putField(Line& out, const Spec& spec, const char* prefix, const std::string& digits) {
    const size_t prefixLength = std::strlen(prefix);
    size_t zeros = spec.hasPrecision && spec.precision > digits.size() ? spec.precision - digits.size() : 0;
    const size_t body = prefixLength + zeros + digits.size();
    size_t padding = spec.width > body ? spec.width - body : 0;
    if (spec.zero && !spec.left && !spec.hasPrecision) {
        zeros += padding;
        padding = 0;
    }
    if (!spec.left)
        out.pad(' ', padding);
    out.put(prefix, prefixLength);
    out.pad('0', zeros);
    out.put(digits.data(), digits.size());
    if (spec.left)
        out.pad(' ', padding);
}

std::string digitsOf(uint32_t value, unsigned base, bool upper) {
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string reversed;
    do {
        reversed += set[value % base];
        value /= base;
    } while (value != 0);
    return std::string(reversed.rbegin(), reversed.rend());
}

void putText(Line& out, const Spec& spec, const char* text) {
    const size_t length = std::strlen(text);
    const size_t padding = spec.width > length ? spec.width - length : 0;
    if (!spec.left)
        out.pad(' ', padding);
    out.put(text, length);
    if (spec.left)
        out.pad(' ', padding);
}

// Converts one argument; false for a conversion that is not accepted.
bool convert(Line& out, Spec spec, char conversion, uint32_t word) {
    switch (conversion) {
    case 'd':
    case 'i': {
        const int32_t value = static_cast<int32_t>(word);
        const uint32_t magnitude = value < 0 ? 0u - word : word;
        const char* sign = value < 0 ? "-" : spec.plus ? "+" : spec.space ? " " : "";
        const bool none = spec.hasPrecision && spec.precision == 0 && magnitude == 0;
        putField(out, spec, sign, none ? std::string() : digitsOf(magnitude, 10, false));
        return true;
    }
    case 'u':
    case 'x':
    case 'X':
    case 'o': {
        const unsigned base = conversion == 'u' ? 10 : conversion == 'o' ? 8 : 16;
        std::string digits = spec.hasPrecision && spec.precision == 0 && word == 0
                                 ? std::string()
                                 : digitsOf(word, base, conversion == 'X');
        const char* prefix = "";
        if (spec.alternate && conversion == 'o' && (digits.empty() || digits[0] != '0')) {
            // The alternate octal form begins with a zero, also where the precision left no digit.
            if (!spec.hasPrecision || spec.precision <= digits.size())
                digits.insert(digits.begin(), '0');
        } else if (spec.alternate && word != 0 && conversion != 'u' && conversion != 'o') {
            prefix = conversion == 'X' ? "0X" : "0x";
        }
        putField(out, spec, prefix, digits);
        return true;
    }
    case 'c': {
        spec.zero = false;
        const size_t padding = spec.width > 1 ? spec.width - 1 : 0;
        if (!spec.left)
            out.pad(' ', padding);
        out.put(static_cast<char>(word & 0xFF));
        if (spec.left)
            out.pad(' ', padding);
        return true;
    }
    case 'p':
    case 's': {
        // A pointer-style hexadecimal value, as the C library writes a pointer of this value.
        if (word == 0) {
            putText(out, spec, "(nil)");
            return true;
        }
        const char* sign = spec.plus ? "+" : spec.space ? " " : "";
        const std::string digits = digitsOf(word, 16, false);
        std::string prefix = std::string(sign) + "0x";
        putField(out, spec, prefix.c_str(), digits);
        return true;
    }
    default:
        return false;
    }
}

} // namespace

std::string formatTrace(const char* format, size_t formatLength, const uint32_t* args, size_t argCount) {
    Line out;
    size_t used = 0;
    const char* p = format;
    const char* end = format + formatLength;
    while (p < end && !out.full()) {
        if (*p != '%') {
            out.put(*p++);
            continue;
        }
        const char* start = p++;
        Spec spec;
        for (; p < end; ++p) {
            if (*p == '-')
                spec.left = true;
            else if (*p == '+')
                spec.plus = true;
            else if (*p == ' ')
                spec.space = true;
            else if (*p == '#')
                spec.alternate = true;
            else if (*p == '0')
                spec.zero = true;
            else
                break;
        }
        spec.width = readCount(p, end);
        if (p < end && *p == '.') {
            ++p;
            spec.hasPrecision = true;
            spec.precision = readCount(p, end);
        }
        while (p < end && isLengthModifier(*p))
            ++p;
        if (p == end) {
            out.put(start, static_cast<size_t>(p - start));
            break;
        }
        const char conversion = *p++;
        if (conversion == '%') {
            out.put('%');
            continue;
        }
        const bool accepted = conversion != '\0' && std::strchr("diuxXocps", conversion) != nullptr;
        if (!accepted || used >= argCount || !convert(out, spec, conversion, args[used])) {
            out.put(start, static_cast<size_t>(p - start));
            continue;
        }
        ++used;
    }
    return out.take();
}
