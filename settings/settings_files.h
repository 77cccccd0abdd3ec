#pragma once

// The two small files that keep the user's paths and the viewer's column widths between
// runs (settings_folder.h says which folder holds them), and the start-up that reads them.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

#include "report/analysis_report.h"

namespace krv {

inline constexpr const char* kSettingsFileName = "ARC&FILE.DAT";
inline constexpr const char* kWidthsFileName = "ArcSiz&FILE.DAT";
inline constexpr std::size_t kSavedPathWidth = 72;
inline constexpr std::size_t kSettingsRecordSize = 2 * kSavedPathWidth;
inline constexpr int kStoredWidths = 100;

struct SettingsFiles {
    std::filesystem::path settingsFile;
    std::filesystem::path widthsFile;
    static SettingsFiles in(const std::filesystem::path& folder) {
        return {folder / kSettingsFileName, folder / kWidthsFileName};
    }
    // No usable folder: nothing is read, created or saved, and the defaults stay.
    static SettingsFiles none() { return {}; }
    bool inUse() const { return !settingsFile.empty(); }
};

// The 144-byte record: database path then report path, each Windows-1252 blank-padded.
std::string encodeSavedPaths(const std::string& dbPathUtf8, const std::string& reportPathUtf8);

// Start-up: fills the path boxes when the settings file is exactly one record long;
// otherwise they keep what they hold. A missing file is created empty.
void restorePaths(const SettingsFiles& files, WindowState& state);

// Start-up: fills column widths from the widths file, one item per slot in order. A
// missing file is created empty. An item that is not a 16-bit integer leaves its slot 0.
void restoreWidths(const SettingsFiles& files, WindowState& state);

// Parses widths text the way restoreWidths reads its file (exposed for tests and fuzzing).
void readWidthsText(std::string_view text, std::array<std::int16_t, 101>& widths);

// Reads a widths file the way start-up does, without creating it; false (widths
// untouched) when it is missing or cannot be read.
bool readWidthsFile(const std::filesystem::path& file, std::array<std::int16_t, 101>& widths);

// The unload save: writes both files, ignoring every failure.
void saveSettings(const SettingsFiles& files, const WindowState& state);

// The path boxes' texts before any settings file was written.
std::string defaultReportPath();
std::string defaultDatabasePath();

// The start-up steps that come before the command line: a fresh window state with the
// default paths, then the paths and column widths restored from the settings files.
void startUp(WindowState& state, const SettingsFiles& files);

}  // namespace krv
