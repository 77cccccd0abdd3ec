#include "export/values.h"

#include <charconv>
#include <cmath>

namespace krv::exports {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// The first ":" back to the "." the column naming replaced.
std::string restorePoint(std::string_view s) {
    std::string out(s);
    const auto colon = out.find(':');
    if (colon != std::string::npos) out[colon] = '.';
    return out;
}

}  // namespace

std::optional<double> readStoredNumber(std::string_view text) {
    text = trimBlanks(text);
    // Longer than any double needs: refuse instead of copying hostile lengths.
    if (text.empty() || text.size() > 64) return std::nullopt;
    char buf[72];
    std::size_t n = 0, i = 0;
    if (text[i] == '+' || text[i] == '-') {
        if (text[i] == '-') buf[n++] = '-';
        ++i;
    }
    std::size_t digits = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (isDigit(c)) {
            ++digits;
            buf[n++] = c;
        } else if ((c == '.' || c == ',') && !point) {
            point = true;
            buf[n++] = '.';
        } else {
            break;
        }
    }
    if (digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
        buf[n++] = 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) buf[n++] = text[i++];
        std::size_t expDigits = 0;
        for (; i < text.size() && isDigit(text[i]); ++i, ++expDigits) buf[n++] = text[i];
        if (expDigits == 0) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(buf, buf + n, value);
    if (ec != std::errc() || end != buf + n || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::string numberText(double value) {
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return ec == std::errc() ? std::string(buf, end) : std::string();
}

IsotopeColumn parseIsotopeColumn(std::string_view name) {
    IsotopeColumn c;
    c.quantity = "activity";
    const auto at = name.rfind('@');
    if (at == std::string_view::npos) {
        c.nuclide = restorePoint(name);
        return c;
    }
    const std::string_view head = name.substr(0, at), tail = name.substr(at + 1);
    static constexpr struct {
        std::string_view marker, quantity;
    } kMarkers[] = {{"LINE", "activity"},
                    {"NET", "net counts"},
                    {"GROSS", "gross counts"},
                    {"BKG", "background counts"}};
    for (const auto& m : kMarkers) {
        if (tail.size() <= m.marker.size() || tail.substr(0, m.marker.size()) != m.marker) continue;
        const std::string_view number = tail.substr(m.marker.size());
        bool allDigits = true;
        for (char ch : number) allDigits = allDigits && isDigit(ch);
        if (!allDigits) continue;
        c.nuclide = restorePoint(head);
        c.line = std::string(number);
        c.quantity = std::string(m.quantity);
        return c;
    }
    // Named after the line's energy: the naming turned the first "." of the whole name
    // into ":", which is the nuclide's own point when it has one.
    if (head.find(':') != std::string_view::npos) {
        c.nuclide = restorePoint(head);
        c.line = std::string(tail);
    } else {
        c.nuclide = std::string(head);
        c.line = restorePoint(tail);
    }
    return c;
}

std::string_view trimPadding(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.remove_suffix(1);
    return text;
}

bool readCsv(std::string_view text, std::vector<std::vector<std::string>>& rows) {
    rows.clear();
    std::vector<std::string> row;
    std::string field;
    bool quoted = false, fieldStarted = false;
    auto endField = [&] {
        row.push_back(std::move(field));
        field.clear();
        fieldStarted = false;
    };
    auto endRow = [&] {
        endField();
        rows.push_back(std::move(row));
        row.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"') {
                field += c;
            } else if (i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else {
                quoted = false;
            }
        } else if (c == '"' && !fieldStarted) {
            quoted = fieldStarted = true;
        } else if (c == ',') {
            endField();
        } else if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            if (c == '\r') ++i;
            endRow();
        } else {
            field += c;
            fieldStarted = true;
        }
    }
    if (quoted) return false;
    if (fieldStarted || !row.empty()) endRow();
    return true;
}

}  // namespace krv::exports
