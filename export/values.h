#pragma once

// How stored cells are read for the forms people open: numbers out of the general-number
// texts the table keeps, and the nuclide, line and quantity behind an isotope column name.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace krv::exports {

// A stored text read as a number: blanks around it, an optional sign, digits with at most
// one decimal separator ("." or ","; the table keeps whatever the writing locale used)
// and an optional E exponent. Anything else (thousands separators, units, "ND") is no
// number.
std::optional<double> readStoredNumber(std::string_view text);

// The shortest text that reads back as the same double, with "." as separator.
std::string numberText(double value);

// What an isotope column holds, read back from its name.
struct IsotopeColumn {
    std::string nuclide;
    std::string line;      // line number, energy for energy-named columns, empty for one line
    std::string quantity;  // "activity", "net counts", "gross counts", "background counts"
};
IsotopeColumn parseIsotopeColumn(std::string_view name);

// Removes the blanks (and the NULs of a never-filled field) that pad fixed-width texts.
std::string_view trimPadding(std::string_view text);

// Reads CSV text (RFC 4180: quotes, doubled quotes, line breaks inside quotes; LF or CRLF)
// into rows of fields. False when a quoted field never ends.
bool readCsv(std::string_view text, std::vector<std::vector<std::string>>& rows);

}  // namespace krv::exports
