#pragma once

// The results table's shape and the names of its columns: the one place that says what
// the table is called, which columns every record has, and how an isotope line's column
// is named and read back.

#include <string>
#include <string_view>
#include <vector>

#include "results_db/store.h"

namespace krv {

inline constexpr const char* kTableName = "SamData";
inline constexpr const char* kIndexName = "idxSeq";

inline constexpr const char* kRecordNumberField = "idxRec#";
inline constexpr const char* kFileNameField = "File Name";
inline constexpr const char* kIdTextField = "ID Text";
inline constexpr const char* kDateAndTimeField = "Date & time";
inline constexpr const char* kSampleDateField = "Sample Date";
inline constexpr const char* kCountingTimeField = "Counting Time";
inline constexpr const char* kDeadTimeField = "DT %";

// The width of the text column an isotope line gets.
inline constexpr int kIsotopeFieldSize = 10;

// The seven fixed columns, in their order.
std::vector<db::FieldInfo> fixedFields();
bool isFixedField(std::string_view name);

// What a record carries for each isotope line.
enum AppendMode : int { kActivity = 0, kNetCounts = 1, kGrossCounts = 2, kBackgroundCounts = 3 };

// The marker between nuclide and line number: "@LINE", "@NET", "@GROSS", "@BKG"; empty
// for a mode outside these.
std::string_view modeMarker(int mode);

// An isotope column's name taken apart.
struct IsotopeColumn {
    std::string nuclide;  // "CO-60", with its own point where it has one
    int mode = kActivity;
    // The line number after a marker, the energy for a column named by it ("1332.5"),
    // empty for the single line of an activity.
    std::string line;
    bool byEnergy = false;  // an activity named by its line's energy: "CO-60@1332:5"
};

// The column's name: an activity named by energy as nuclide@energy, the single line of an
// activity as the bare nuclide, anything else as nuclide, marker, line number. The first
// "." of the whole name becomes ":", as the table has always been named.
std::string isotopeColumnName(const IsotopeColumn& column);

// The reverse, for any column that is not a fixed one; the ":" that stands for a point is
// put back on the side of "@" where the writer took it.
IsotopeColumn readIsotopeColumn(std::string_view name);

}  // namespace krv
