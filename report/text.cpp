#include "report/text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>
#include <utility>

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

void appendCsvField(std::string& out, std::string_view s) {
    const bool plain = s.find_first_of(",\"\r\n") == std::string_view::npos &&
                       (s.empty() || (s.front() != ' ' && s.back() != ' '));
    if (plain) {
        out += s;
        return;
    }
    out += '"';
    for (char c : s) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

std::string csvField(std::string_view s) {
    std::string out;
    appendCsvField(out, s);
    return out;
}

namespace {

template <typename T>
std::string shortestText(T v) {
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : std::string();
}

}  // namespace

std::string numberText(double v) { return shortestText(v); }

std::string numberText(float v) { return shortestText(v); }

std::string exactNumberText(double v) {
    if (std::isfinite(v) && v == std::trunc(v) && std::abs(v) < 9.0e15)
        return shortestText(static_cast<std::int64_t>(v));
    return shortestText(v);
}

std::string roundedNumberText(double v, int digits) {
    char buf[64];
    const auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, digits);
    return ec == std::errc() ? std::string(buf, end) : std::string();
}

std::string stripCommas(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s)
        if (c != ',') out.push_back(c);
    return out;
}

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Walks the text with the ignored characters skipped, so a number may be spread over
// blanks ("12 34" is 1234) the way the report writer's own reader accepts it.
class Cursor {
  public:
    Cursor(std::string_view s, bool skipCommas) : s_(s), skipCommas_(skipCommas) { skip(); }
    char peek() const { return i_ < s_.size() ? s_[i_] : '\0'; }
    void next() {
        ++i_;
        skip();
    }
    std::size_t mark() const { return i_; }
    void reset(std::size_t at) { i_ = at; }

  private:
    void skip() {
        while (i_ < s_.size()) {
            const char c = s_[i_];
            if (c != ' ' && c != '\t' && c != '\n' && !(skipCommas_ && c == ',')) break;
            ++i_;
        }
    }
    std::string_view s_;
    bool skipCommas_;
    std::size_t i_ = 0;
};

struct ScannedNumber {
    bool negative = false;
    bool anyDigit = false;
    std::uint64_t leading = 0;  // the first kExactDigits significant digits
    long significant = 0;       // significant digits seen
    long fractionDigits = 0;
    long exponent = 0;
};

// Up to this many significant digits, and with a power of ten no larger than 10^22, the
// value is one exactly rounded multiplication or division of two exact doubles.
constexpr long kExactDigits = 15;
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// One pass over the number; `text`, when given, receives its digits and point.
ScannedNumber scan(std::string_view s, bool skipCommas, std::string* text) {
    ScannedNumber n;
    Cursor c(s, skipCommas);
    if (c.peek() == '+' || c.peek() == '-') {
        n.negative = c.peek() == '-';
        c.next();
    }
    const auto digits = [&](bool fraction) {
        for (char d = c.peek(); isDigit(d); c.next(), d = c.peek()) {
            if (text) text->push_back(d);
            n.anyDigit = true;
            if (fraction) ++n.fractionDigits;
            if (n.significant == 0 && d == '0') continue;
            if (++n.significant <= kExactDigits)
                n.leading = n.leading * 10 + static_cast<unsigned>(d - '0');
        }
    };
    digits(false);
    if (c.peek() == '.') {
        if (text) text->push_back('.');
        c.next();
        digits(true);
    }
    if (!n.anyDigit) return n;

    // The exponent only counts when digits follow it; "1E" and "1E+" read as 1.
    const char e = c.peek();
    if (e == 'E' || e == 'e' || e == 'D' || e == 'd') {
        const std::size_t before = c.mark();
        c.next();
        bool negativeExponent = false;
        if (c.peek() == '+' || c.peek() == '-') {
            negativeExponent = c.peek() == '-';
            c.next();
        }
        bool any = false;
        for (char d = c.peek(); isDigit(d); c.next(), d = c.peek()) {
            any = true;
            // Exponents beyond any double saturate instead of overflowing the integer.
            if (n.exponent <= 100000) n.exponent = n.exponent * 10 + (d - '0');
        }
        if (!any) c.reset(before);
        if (negativeExponent) n.exponent = -n.exponent;
    }
    return n;
}

double readNumberIn(std::string_view s, bool skipCommas) {
    const ScannedNumber n = scan(s, skipCommas, nullptr);
    if (!n.anyDigit || n.significant == 0) return 0.0;
    const long power = n.exponent - n.fractionDigits;
    if (n.significant <= kExactDigits && power >= -22 && power <= 22) {
        const double m = static_cast<double>(n.leading);
        const double v = power >= 0 ? m * kPow10[power] : m / kPow10[-power];
        return n.negative ? -v : v;
    }

    std::string number;
    scan(s, skipCommas, &number);
    if (number.front() == '.') number.insert(number.begin(), '0');
    number += 'e';
    number += std::to_string(n.exponent);
    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        // Decimal exponent of the leading significant digit tells overflow from underflow.
        const long magnitude = n.significant - n.fractionDigits - 1 + n.exponent;
        if (magnitude < 0) return 0.0;
        value = std::numeric_limits<double>::infinity();
    } else if (result.ec != std::errc{}) {
        return 0.0;
    }
    return n.negative ? -value : value;
}

}  // namespace

double readNumber(std::string_view s) { return readNumberIn(s, false); }

double readNumberSkippingCommas(std::string_view s) { return readNumberIn(s, true); }

std::optional<double> readStoredNumber(std::string_view s) {
    s = trim(s, " \t");
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t digits = 0;
    bool point = false;
    for (; i < s.size(); ++i) {
        if (isDigit(s[i])) {
            ++digits;
        } else if ((s[i] == '.' || s[i] == ',') && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digits == 0) return std::nullopt;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        const std::size_t exponentStart = i;
        while (i < s.size() && isDigit(s[i])) ++i;
        if (i == exponentStart) return std::nullopt;
    }
    if (i != s.size()) return std::nullopt;
    // from_chars takes neither a leading plus nor a decimal comma; only such texts are copied.
    std::string copy;
    if (s.front() == '+' || (point && s.find(',') != std::string_view::npos)) {
        copy.assign(s.substr(s.front() == '+' ? 1 : 0));
        for (char& c : copy)
            if (c == ',') c = '.';
        s = copy;
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<float> toSingle(double v) {
    // Halfway between FLT_MAX and the next power of two: from there on, rounding to
    // nearest gives infinity.
    constexpr double kLimit = 0x1.ffffffp+127;
    if (!(std::fabs(v) < kLimit)) return std::nullopt;  // NaN fails here too
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

Encoding detectByteOrderMark(std::string_view head, std::size_t& markLength) {
    markLength = 0;
    if (head.substr(0, 3) == "\xEF\xBB\xBF") {
        markLength = 3;
        return Encoding::Utf8;
    }
    if (head.substr(0, 2) == "\xFF\xFE") {
        markLength = 2;
        return Encoding::Utf16Le;
    }
    if (head.substr(0, 2) == "\xFE\xFF") {
        markLength = 2;
        return Encoding::Utf16Be;
    }
    return Encoding::Cp1252;
}

namespace {

// Bytes a UTF-8 sequence starting with `lead` takes; 1 for a byte that starts none.
std::size_t utf8Length(unsigned char lead) {
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 1;
}

void appendCp1252(std::string& out, char32_t cp) {
    const int b = cp1252Byte(cp);
    out.push_back(b < 0 ? '?' : static_cast<char>(b));
}

}  // namespace

void Cp1252Decoder::decode(std::string_view piece, std::string& out) {
    std::string joined;
    if (!pending_.empty()) {
        joined = std::exchange(pending_, std::string());
        joined.append(piece);
        piece = joined;
    }
    if (encoding_ == Encoding::Cp1252) {
        out.append(piece);
        return;
    }
    if (encoding_ != Encoding::Utf8) {
        decodeUtf16(piece, out);
        return;
    }
    for (std::size_t i = 0; i < piece.size();) {
        const auto lead = static_cast<unsigned char>(piece[i]);
        if (lead < 0x80) {
            out.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        const std::size_t need = utf8Length(lead);
        if (need > 1 && piece.size() - i < need) {
            pending_.assign(piece.substr(i));
            return;
        }
        char32_t cp = 0;
        const std::size_t len = decodeUtf8(piece, i, cp);
        if (len == 0) {
            out.push_back('?');
            ++i;
            continue;
        }
        appendCp1252(out, cp);
        i += len;
    }
}

void Cp1252Decoder::decodeUtf16(std::string_view bytes, std::string& out) {
    const bool little = encoding_ == Encoding::Utf16Le;
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        const auto b1 = static_cast<unsigned char>(bytes[i + 1]);
        const char32_t unit = little ? char32_t(b0 | b1 << 8) : char32_t(b1 | b0 << 8);
        if (unit >= 0xDC00 && unit <= 0xDFFF && inSurrogatePair_) {
            inSurrogatePair_ = false;  // the second half of a character already written
            continue;
        }
        inSurrogatePair_ = unit >= 0xD800 && unit <= 0xDBFF;
        appendCp1252(out, unit >= 0xD800 && unit <= 0xDFFF ? char32_t{0xFFFD} : unit);
    }
    if (i < bytes.size()) pending_.assign(bytes.substr(i));
}

void Cp1252Decoder::finish(std::string& out) {
    // Each byte of a cut UTF-8 sequence is a broken one; half a UTF-16 unit is one.
    if (!pending_.empty()) out.append(encoding_ == Encoding::Utf8 ? pending_.size() : 1, '?');
    pending_.clear();
}

std::string utf8ToCp1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    Cp1252Decoder decoder(Encoding::Utf8);
    decoder.decode(utf8, out);
    decoder.finish(out);
    return out;
}

void appendHex(std::string& out, std::string_view bytes, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    out.reserve(out.size() + 2 * bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += digits[b >> 4];
        out += digits[b & 15];
    }
}

bool fromHex(std::string_view hex, std::string& out) {
    if (hex.size() % 2) return false;
    const auto digit = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    out.resize(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = digit(hex[i]), low = digit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        out[i / 2] = static_cast<char>(high * 16 + low);
    }
    return true;
}

}  // namespace krv::text
