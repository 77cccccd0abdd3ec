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
#include "results_db/schema.h"
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

// Which SENAITE the two-dimension file is read by. Its importer changed twice: from 2.1 it
// keeps "-", "+" and "." in keywords (before, only letters, digits and "_"), and from 2.5
// an empty cell gives no result (before, 0).
enum class LimsRules { Senaite25, Senaite21, Senaite20 };
// "2.6", "2.4", "1.3" and the like to the rules that version follows; nothing for a version
// outside 1.x and 2.x.
std::optional<LimsRules> limsRulesFor(std::string_view version);
// The keyword SENAITE looks the analysis up by, cleaned as that version cleans it.
std::string limsLookupKeyword(std::string_view keyword, LimsRules rules);

// Records of one sample identifier, which the LIMS would merge into one sample.
enum class Duplicates { Fail, First, Last };

struct Options {
    Format format = Format::Csv;
    std::string table = kTableName;
    // Names or patterns (* and ?) in the order wanted; empty means every column.
    std::vector<std::string> columns;
    // Record positions, counted from 1 in the table's own order; 0 means open-ended.
    std::int64_t firstRecord = 0, lastRecord = 0;
    bool keepPadding = false;
    // lims2d: column name to LIMS keyword, in output order; empty means every selected
    // isotope column under its own name.
    std::vector<std::pair<std::string, std::string>> keywords;
    bool sampleIdFromFileName = false;  // lims2d: "File Name" instead of "ID Text"
    LimsRules limsRules = LimsRules::Senaite25;
    Duplicates duplicates = Duplicates::Fail;
    // Replace a target file that is marked read-only.
    bool replaceReadOnly = false;
    // xlsx: the viewer's stored column widths in twips by column position (0: none).
    std::array<std::int16_t, 101> widthsTwips{};
};

// Called between chunks with records done and records to do; returning false cancels.
using ProgressFn = std::function<bool(std::int64_t done, std::int64_t total)>;

// What an export that succeeded wants said: a cell the form could not carry exactly as
// stored (record position from 1, column, what changed), or with record 0 a remark on the
// export as a whole (a record range cut at the table's end).
struct Note {
    std::int64_t record = 0;
    std::string column;
    std::string text;
    bool changedCell() const { return record > 0; }
};
using NoteFn = std::function<void(const Note&)>;

// Failures that concern the output carry the numbers err::kPathFileAccess, kDiskFull,
// kPathNotFound, kBadFileName or kPermissionDenied (a read-only target); their
// descriptions do not repeat the output's name.
bool isOutputFailure(const Status& status);

// Writes the export to `target`: first to a private file beside it, which is synced and
// renamed into place only when everything was written, so a failed or cancelled export
// leaves the target as it was. A replaced file keeps its permissions. A target that is a
// folder, the database itself or (unless replaceReadOnly) a read-only file is refused.
// Private files that runs on this machine left behind when they were killed are removed.
Status exportToFile(db::Database& database, const Options& options, const std::string& target,
                    const ProgressFn& progress = {}, const std::string& databasePath = {},
                    const NoteFn& notes = {});

// Writes the export to a stream (standard output). xlsx goes through a temporary file.
// Whatever can make lims2d fail is checked before the first byte goes out.
Status exportToStream(db::Database& database, const Options& options, std::ostream& out,
                      const ProgressFn& progress = {}, const NoteFn& notes = {});

// Reads a keyword map: CSV lines of column name and LIMS keyword; blank lines and lines
// starting with "#" are skipped.
Status readKeywordMap(std::string_view text,
                      std::vector<std::pair<std::string, std::string>>& keywords);

}  // namespace krv::exports
