#pragma once

// Results out of a results database, in the forms spreadsheets, statistics tools and the
// LIMS read. Everything goes through db::Database, a chunk of records at a time, so any
// store works and no table is ever held whole.

#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/status.h"
#include "results_db/store.h"

namespace krv::exports {

enum class Format { Csv, Xlsx, Long, Lims2d };

// "csv", "xlsx", "long", "lims2d".
std::optional<Format> formatFromName(std::string_view name);
const char* formatName(Format format);
// The file name ending each format is usually saved with.
const char* formatSuffix(Format format);

// Failure numbers of an export beyond the store's own.
inline constexpr int kCancelled = 18;        // the user stopped it
inline constexpr int kNotRepresentable = 5;  // a value the chosen form cannot carry

struct Options {
    Format format = Format::Csv;
    std::string table = "SamData";
    // Names or patterns (* and ?) in the order wanted; empty means every column.
    std::vector<std::string> columns;
    // Record positions, counted from 1 in the table's own order; 0 means open-ended.
    std::int64_t firstRecord = 0, lastRecord = 0;
    bool keepPadding = false;
    // lims2d: column name to LIMS keyword, in output order; empty means every selected
    // isotope column under its own name.
    std::vector<std::pair<std::string, std::string>> keywords;
    bool sampleIdFromFileName = false;  // lims2d: "File Name" instead of "ID Text"
    // xlsx: the viewer's stored column widths in twips by column position (0: none).
    std::array<std::int16_t, 101> widthsTwips{};
};

// Called between chunks with records done and records to do; returning false cancels.
using ProgressFn = std::function<bool(std::int64_t done, std::int64_t total)>;

// Failures that concern the output carry the numbers err::kPathFileAccess, kDiskFull,
// kPathNotFound or kBadFileName; their descriptions do not repeat the output's name.
bool isOutputFailure(const Status& status);

// Writes the export to `target`: first to a private file beside it, which is renamed into
// place only when everything was written, so a failed or cancelled export leaves the
// target as it was. A target that is a folder or the database itself is refused.
Status exportToFile(db::Database& database, const Options& options, const std::string& target,
                    const ProgressFn& progress = {}, const std::string& databasePath = {});

// Writes the export to a stream (standard output). xlsx goes through a temporary file.
Status exportToStream(db::Database& database, const Options& options, std::ostream& out,
                      const ProgressFn& progress = {});

// Reads a keyword map: CSV lines of column name and LIMS keyword; blank lines and lines
// starting with "#" are skipped.
Status readKeywordMap(std::string_view text,
                      std::vector<std::pair<std::string, std::string>>& keywords);

}  // namespace krv::exports
