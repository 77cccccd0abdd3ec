#include "report/text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>

namespace krv::text {

std::string_view left(std::string_view s, std::size_t n) { return s.substr(0, n); }

std::optional<std::string_view> slice(std::string_view s, long p, std::size_t n) {
    if (p < 1) return std::nullopt;
    const auto start = static_cast<std::size_t>(p - 1);
    if (start >= s.size()) return std::string_view{};
    return s.substr(start, n);
}

std::size_t find(std::string_view s, std::string_view key) {
    const std::size_t at = s.find(key);
    return at == std::string_view::npos ? 0 : at + 1;
}

std::string_view trim(std::string_view s) {
    const std::size_t first = s.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const std::size_t last = s.find_last_not_of(' ');
    return s.substr(first, last - first + 1);
}

std::string stripCommas(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s)
        if (c != ',') out.push_back(c);
    return out;
}

namespace {

bool isIgnored(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Walks the text with the ignored characters skipped, so a number may be spread over
// blanks ("12 34" is 1234) the way the report writer's own reader accepts it.
class Cursor {
  public:
    explicit Cursor(std::string_view s) : s_(s) { skip(); }
    bool done() const { return i_ >= s_.size(); }
    char peek() const { return done() ? '\0' : s_[i_]; }
    void next() {
        ++i_;
        skip();
    }
    std::size_t mark() const { return i_; }
    void reset(std::size_t at) { i_ = at; }

  private:
    void skip() {
        while (i_ < s_.size() && isIgnored(s_[i_])) ++i_;
    }
    std::string_view s_;
    std::size_t i_ = 0;
};

// The decimal exponent of the leading significant digit, used only to tell an overflow
// from an underflow when the value is out of a double's range.
long magnitude(const std::string& mantissa, long exponent) {
    const std::size_t point = mantissa.find('.');
    const std::size_t firstSig = mantissa.find_first_not_of("0.");
    if (firstSig == std::string::npos) return std::numeric_limits<long>::min();
    const long pos = static_cast<long>(firstSig);
    const long pt = static_cast<long>(point == std::string::npos ? mantissa.size() : point);
    return (pos < pt ? pt - pos - 1 : pt - pos) + exponent;
}

}  // namespace

double readNumber(std::string_view s) {
    Cursor c(s);
    bool negative = false;
    if (c.peek() == '+' || c.peek() == '-') {
        negative = c.peek() == '-';
        c.next();
    }
    std::string mantissa;
    bool anyDigit = false;
    while (isDigit(c.peek())) {
        mantissa.push_back(c.peek());
        anyDigit = true;
        c.next();
    }
    if (c.peek() == '.') {
        mantissa.push_back('.');
        c.next();
        while (isDigit(c.peek())) {
            mantissa.push_back(c.peek());
            anyDigit = true;
            c.next();
        }
    }
    if (!anyDigit) return 0.0;

    // The exponent only counts when digits follow it; "1E" and "1E+" read as 1.
    std::string exponentDigits;
    bool negativeExponent = false;
    const char e = c.peek();
    if (e == 'E' || e == 'e' || e == 'D' || e == 'd') {
        const std::size_t before = c.mark();
        c.next();
        if (c.peek() == '+' || c.peek() == '-') {
            negativeExponent = c.peek() == '-';
            c.next();
        }
        while (isDigit(c.peek())) {
            exponentDigits.push_back(c.peek());
            c.next();
        }
        if (exponentDigits.empty()) c.reset(before);
    }

    // Exponents beyond any double saturate here instead of overflowing the integer.
    long exponent = 0;
    for (char d : exponentDigits) {
        exponent = exponent * 10 + (d - '0');
        if (exponent > 100000) break;
    }
    if (negativeExponent) exponent = -exponent;

    std::string number = mantissa;
    if (number.front() == '.') number.insert(number.begin(), '0');
    number += 'e';
    number += std::to_string(exponent);

    double value = 0.0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    (void)end;
    if (ec == std::errc::result_out_of_range) {
        value = magnitude(mantissa, exponent) > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (ec != std::errc{}) {
        value = 0.0;
    }
    return negative ? -value : value;
}

std::optional<float> toSingle(double v) {
    if (std::isnan(v)) return std::nullopt;
    // Halfway between FLT_MAX and the next power of two: from there on, rounding to
    // nearest gives infinity.
    static const double kLimit = std::ldexp(2.0 - std::ldexp(1.0, -24), 127);
    if (!(std::fabs(v) < kLimit)) return std::nullopt;
    return static_cast<float>(v);
}

namespace {

// Windows-1252 0x80..0x9F. The five bytes the code page leaves undefined keep their C1
// control code point, so every byte converts and converts back.
constexpr char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

int cp1252Byte(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] == cp) return 0x80 + i;
    return -1;
}

// Decodes one UTF-8 sequence at s[i]; returns its length, 0 when it is not valid
// (overlong forms, surrogates and values past U+10FFFF included).
std::size_t decodeUtf8(std::string_view s, std::size_t i, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t len;
    char32_t min;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        len = 2, min = 0x80, cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, min = 0x800, cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, min = 0x10000, cp = b0 & 0x07;
    } else {
        return 0;
    }
    if (s.size() - i < len) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

}  // namespace

std::string cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        appendUtf8(out, b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : char32_t{b});
    }
    return out;
}

std::string utf8ToCp1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t cp = 0;
        const std::size_t len = decodeUtf8(utf8, i, cp);
        if (len == 0) {
            out.push_back('?');
            ++i;
            continue;
        }
        const int b = cp1252Byte(cp);
        out.push_back(b < 0 ? '?' : static_cast<char>(b));
        i += len;
    }
    return out;
}

}  // namespace krv::text
