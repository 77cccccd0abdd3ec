#include "export/values.h"

#include <utility>

#include "results_db/schema.h"

namespace krv::exports {

IsotopeColumn parseIsotopeColumn(std::string_view name) {
    static constexpr std::string_view kQuantities[] = {"activity", "net counts", "gross counts",
                                                       "background counts"};
    krv::IsotopeColumn column = readIsotopeColumn(name);
    return {std::move(column.nuclide), std::move(column.line),
            std::string(kQuantities[static_cast<std::size_t>(column.mode)])};
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
