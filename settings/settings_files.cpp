#include "settings/settings_files.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <optional>
#include <system_error>

#include "report/text.h"

namespace krv {

namespace fs = std::filesystem;

namespace {

// How much of a widths file start-up looks at: a hundred items fit many times over, and
// a huge or runaway file can neither slow start-up down nor fill memory.
constexpr std::size_t kWidthsReadLimit = 1 << 20;

// The length of a settings file, creating it empty when nothing is there, as the first
// start of the program in a new folder does. nullopt when it cannot be used at all.
std::optional<std::uintmax_t> lengthCreatingIfMissing(const fs::path& p) {
    std::error_code ec;
    const fs::file_status st = fs::status(p, ec);
    if (st.type() == fs::file_type::not_found) {
        std::ofstream create(p, std::ios::binary | std::ios::app);
        return create ? std::optional<std::uintmax_t>(0) : std::nullopt;
    }
    if (ec || !fs::is_regular_file(st)) return std::nullopt;
    const std::uintmax_t size = fs::file_size(p, ec);
    if (ec) return std::nullopt;
    return size;
}

std::string padded(std::string cp1252) {
    cp1252.resize(kSavedPathWidth, ' ');
    return cp1252;
}

std::string trimmedUtf8(std::string_view cp1252) {
    return std::string(text::trim(text::cp1252ToUtf8(cp1252)));
}

bool isItemEnd(char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n'; }

// A width item: an optionally signed decimal number that rounds into a 16-bit integer.
// Anything else is not a width and leaves its slot 0.
std::int16_t widthFromItem(std::string_view item) {
    std::size_t i = 0;
    if (i < item.size() && (item[i] == '+' || item[i] == '-')) ++i;
    bool digits = false, point = false;
    for (; i < item.size(); ++i) {
        const char c = item[i];
        if (c >= '0' && c <= '9') {
            digits = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return 0;
        }
    }
    if (!digits) return 0;
    const double v = std::nearbyint(text::readNumber(item));  // halves go to the even side
    if (!(v >= -32768.0 && v <= 32767.0)) return 0;
    return static_cast<std::int16_t>(v);
}

// The first part of a widths file of `length` bytes, read into `widths`.
bool readWidthsPrefix(const fs::path& file, std::uintmax_t length,
                      std::array<std::int16_t, 101>& widths) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::string content(
        static_cast<std::size_t>(std::min<std::uintmax_t>(length, kWidthsReadLimit)), '\0');
    in.read(content.data(), static_cast<std::streamsize>(content.size()));
    content.resize(static_cast<std::size_t>(in.gcount()));
    readWidthsText(content, widths);
    return true;
}

}  // namespace

std::string encodeSavedPaths(const std::string& dbPathUtf8, const std::string& reportPathUtf8) {
    return padded(text::utf8ToCp1252(dbPathUtf8)) + padded(text::utf8ToCp1252(reportPathUtf8));
}

void restorePaths(const SettingsFiles& files, WindowState& state) {
    if (!files.inUse()) return;
    const auto length = lengthCreatingIfMissing(files.settingsFile);
    if (!length || *length != kSettingsRecordSize) return;
    std::ifstream in(files.settingsFile, std::ios::binary);
    std::string record(kSettingsRecordSize, '\0');
    if (!in.read(record.data(), static_cast<std::streamsize>(record.size()))) return;
    state.apathText = trimmedUtf8(std::string_view(record).substr(0, kSavedPathWidth));
    state.rpathText = trimmedUtf8(std::string_view(record).substr(kSavedPathWidth));
}

void readWidthsText(std::string_view text, std::array<std::int16_t, 101>& widths) {
    std::size_t pos = 0;
    for (int k = 0; k < kStoredWidths; ++k) {
        while (pos < text.size() &&
               (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\r' || text[pos] == '\n'))
            ++pos;
        if (pos >= text.size()) return;  // no more items: later slots keep their value
        const std::size_t start = pos;
        while (pos < text.size() && !isItemEnd(text[pos])) ++pos;
        widths[k] = widthFromItem(text.substr(start, pos - start));
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
        if (pos < text.size() && text[pos] == ',') ++pos;
    }
}

void restoreWidths(const SettingsFiles& files, WindowState& state) {
    if (!files.inUse()) return;
    const auto length = lengthCreatingIfMissing(files.widthsFile);
    if (!length || *length == 0) return;
    readWidthsPrefix(files.widthsFile, *length, state.columnWidth);
}

bool readWidthsFile(const fs::path& file, std::array<std::int16_t, 101>& widths) {
    std::error_code ec;
    const fs::file_status st = fs::status(file, ec);
    if (ec || !fs::is_regular_file(st)) return false;
    const std::uintmax_t length = fs::file_size(file, ec);
    return !ec && readWidthsPrefix(file, length, widths);
}

void saveSettings(const SettingsFiles& files, const WindowState& state) {
    if (!files.inUse()) return;
    const std::string record = encodeSavedPaths(std::string(text::trim(state.apathText)),
                                                std::string(text::trim(state.rpathText)));
    // Each step may fail (read-only folder, file in use); what succeeded stays on disk.
    // The record file is deleted, then written anew; a folder of that name is somebody
    // else's and is never removed.
    std::error_code ec;
    if (!fs::is_directory(files.settingsFile, ec)) fs::remove(files.settingsFile, ec);
    {
        std::ofstream out(files.settingsFile, std::ios::binary | std::ios::trunc);
        if (out) out.write(record.data(), static_cast<std::streamsize>(record.size()));
    }
    std::ofstream out(files.widthsFile, std::ios::binary | std::ios::trunc);
    if (!out) return;
    std::string lines;
    for (int k = 0; k < kStoredWidths; ++k) {
        const int w = state.columnWidth[k];
        lines += (w >= 0 ? " " : "") + std::to_string(w) + "\r\n";
    }
    out.write(lines.data(), static_cast<std::streamsize>(lines.size()));
}

std::string defaultReportPath() {
#ifdef _WIN32
    return "C:\\Program Files\\TVX\\Korvane\\Temp\\RESULTS.TXT";
#else
    return "/Program Files/TVX/Korvane/Temp/RESULTS.TXT";
#endif
}

std::string defaultDatabasePath() {
#ifdef _WIN32
    return "C:\\Program Files\\TVX\\Korvane\\RESULTS.MDB";
#else
    return "/Program Files/TVX/Korvane/RESULTS.MDB";
#endif
}

void startUp(WindowState& state, const SettingsFiles& files) {
    state.blindFlag = false;
    state.appendMode = 0;
    state.rpathText = defaultReportPath();
    state.apathText = defaultDatabasePath();
    restorePaths(files, state);
    restoreWidths(files, state);
}

}  // namespace krv
