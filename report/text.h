#pragma once

// Text primitives of the report reader. Positions are 1-based and comparisons are
// case-sensitive, matching how the report's fixed character positions are documented.

#include <optional>
#include <string>
#include <string_view>

namespace krv::text {

std::string_view left(std::string_view s, std::size_t n);
// Up to n characters from position p (1-based); empty when p is past the end.
// p < 1 is not a valid position: returns nullopt, the caller keeps its old value.
std::optional<std::string_view> slice(std::string_view s, long p, std::size_t n);
// 1-based position of the first occurrence of key, 0 when absent.
std::size_t find(std::string_view s, std::string_view key);
// Whether `c` is one of `chars`: a plain loop, as the sets are a few characters and the
// trims below run for every cell of an export.
constexpr bool isOneOf(char c, std::string_view chars) {
    for (char x : chars)
        if (x == c) return true;
    return false;
}
// Removes `chars` at the end only.
constexpr std::string_view trimEnd(std::string_view s, std::string_view chars) {
    while (!s.empty() && isOneOf(s.back(), chars)) s.remove_suffix(1);
    return s;
}
// Removes `chars` at both ends; by default blanks (code 32) only.
constexpr std::string_view trim(std::string_view s, std::string_view chars = " ") {
    while (!s.empty() && isOneOf(s.front(), chars)) s.remove_prefix(1);
    return trimEnd(s, chars);
}
// What pads a fixed-width field: blanks, and the NULs of one never filled.
inline constexpr std::string_view kPadding{" \0", 2};
std::string stripCommas(std::string_view s);

// Reads a leading number the way the report's writer expects it to be read back: blanks,
// tabs and line feeds are ignored anywhere; optional sign, digits, optional point and
// digits, optional E or D exponent; reading stops at the first character that cannot
// continue the number. No number gives 0. The point is the separator in every locale.
double readNumber(std::string_view s);
// readNumber(stripCommas(s)) without the copy: how table columns with thousands
// separators are read.
double readNumberSkippingCommas(std::string_view s);

// A value as the table stores it, read strictly: blanks and tabs around it, an optional
// sign, digits with at most one decimal separator ("." or ","; the table keeps whatever
// the writing locale used) and an optional E exponent. Anything else (thousands
// separators, units, "ND", infinities) is no number.
std::optional<double> readStoredNumber(std::string_view s);

// The shortest text that reads back as the same number ("0.1", "1e+06"), with "." as the
// separator in every locale. A float gets its own shortest text, not its double's.
std::string numberText(double v);
std::string numberText(float v);
// Whole numbers below 9e15 digit by digit ("1000000"), anything else as numberText:
// identities and counts as people count them.
std::string exactNumberText(double v);
// Rounded to `digits` significant digits in printf's "%g" style, whatever the locale.
std::string roundedNumberText(double v, int digits);

// One CSV field (RFC 4180) appended to `out`: quoted, with its quotes doubled, when it
// holds a comma, a quote or a line break, or starts or ends with a blank that a reader
// could trim away.
void appendCsvField(std::string& out, std::string_view s);
std::string csvField(std::string_view s);

// Each byte as two hex digits (lowercase unless `upper`), so no byte needs escaping.
void appendHex(std::string& out, std::string_view bytes, bool upper = false);
// Lowercase hex digits back to bytes; false on an odd length or any other character.
bool fromHex(std::string_view hex, std::string& out);

// Narrows to a 32-bit float, rounding to nearest; nullopt when the value does not fit.
std::optional<float> toSingle(double v);

// Report bytes are Windows-1252, one byte per character.
std::string cp1252ToUtf8(std::string_view bytes);
// Characters Windows-1252 cannot hold become "?". Invalid UTF-8 bytes become "?" too.
std::string utf8ToCp1252(std::string_view utf8);

// How a report's characters are stored; a byte-order mark at its start says which.
enum class Encoding { Cp1252, Utf8, Utf16Le, Utf16Be };
// The encoding the first bytes of a file announce; `markLength` bytes of mark to skip.
Encoding detectByteOrderMark(std::string_view head, std::size_t& markLength);

// Turns text of a Unicode encoding into the Windows-1252 bytes the same characters have,
// piece by piece: a character cut between two pieces is completed by the next one.
// Characters Windows-1252 cannot hold, and broken sequences, become "?".
class Cp1252Decoder {
  public:
    explicit Cp1252Decoder(Encoding encoding) : encoding_(encoding) {}
    void decode(std::string_view piece, std::string& out);
    // An incomplete character left at the very end.
    void finish(std::string& out);

  private:
    void decodeUtf16(std::string_view bytes, std::string& out);
    Encoding encoding_;
    std::string pending_;
    bool inSurrogatePair_ = false;
};

}  // namespace krv::text
