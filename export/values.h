#pragma once

// How stored cells are read for the forms people open: the nuclide, line and quantity
// behind an isotope column name, texts without their padding, keyword maps.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "report/text.h"

namespace krv::exports {

using text::readStoredNumber;

// What an isotope column holds, read back from its name.
struct IsotopeColumn {
    std::string nuclide;
    std::string line;      // line number, energy for energy-named columns, empty for one line
    std::string quantity;  // "activity", "net counts", "gross counts", "background counts"
};
IsotopeColumn parseIsotopeColumn(std::string_view name);

// Removes the blanks (and the NULs of a never-filled field) that pad fixed-width texts.
inline std::string_view trimPadding(std::string_view s) { return text::trimEnd(s, text::kPadding); }

// Reads CSV text (RFC 4180: quotes, doubled quotes, line breaks inside quotes; LF or CRLF)
// into rows of fields. False when a quoted field never ends.
bool readCsv(std::string_view text, std::vector<std::vector<std::string>>& rows);

}  // namespace krv::exports
