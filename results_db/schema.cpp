#include "results_db/schema.h"

#include <algorithm>
#include <array>

namespace krv {

namespace {

constexpr std::array<std::string_view, 4> kMarkers = {"@LINE", "@NET", "@GROSS", "@BKG"};

std::string restorePoint(std::string_view s) {
    std::string out(s);
    if (const auto colon = out.find(':'); colon != std::string::npos) out[colon] = '.';
    return out;
}

bool allDigits(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::vector<db::FieldInfo> fixedFields() {
    using db::FieldType;
    return {
        {kRecordNumberField, FieldType::Int16, 0}, {kFileNameField, FieldType::Text, 255},
        {kIdTextField, FieldType::Text, 128},      {kDateAndTimeField, FieldType::Text, 30},
        {kSampleDateField, FieldType::Text, 24},   {kCountingTimeField, FieldType::Text, 10},
        {kDeadTimeField, FieldType::Text, 10},
    };
}

bool isFixedField(std::string_view name) {
    for (const char* f : {kRecordNumberField, kFileNameField, kIdTextField, kDateAndTimeField,
                          kSampleDateField, kCountingTimeField, kDeadTimeField})
        if (name == f) return true;
    return false;
}

std::string_view modeMarker(int mode) {
    return mode >= 0 && mode < static_cast<int>(kMarkers.size())
               ? kMarkers[static_cast<std::size_t>(mode)]
               : std::string_view();
}

std::string isotopeColumnName(const IsotopeColumn& column) {
    std::string name = column.nuclide;
    if (column.mode == kActivity && column.byEnergy) {
        name += "@" + column.line;
    } else if (column.mode != kActivity || !column.line.empty()) {
        name += modeMarker(column.mode);
        name += column.line;
    }
    if (const auto dot = name.find('.'); dot != std::string::npos) name[dot] = ':';
    return name;
}

IsotopeColumn readIsotopeColumn(std::string_view name) {
    IsotopeColumn c;
    const auto at = name.rfind('@');
    if (at == std::string_view::npos) {
        c.nuclide = restorePoint(name);
        return c;
    }
    const std::string_view head = name.substr(0, at), tail = name.substr(at);
    for (std::size_t m = 0; m < kMarkers.size(); ++m) {
        const std::string_view marker = kMarkers[m];
        if (tail.size() <= marker.size() || tail.substr(0, marker.size()) != marker) continue;
        const std::string_view number = tail.substr(marker.size());
        if (!allDigits(number)) continue;
        c.nuclide = restorePoint(head);
        c.mode = static_cast<int>(m);
        c.line = std::string(number);
        return c;
    }
    // Named after the line's energy: the first "." of the whole name became ":", which is
    // the nuclide's own point when it has one.
    c.byEnergy = true;
    if (head.find(':') != std::string_view::npos) {
        c.nuclide = restorePoint(head);
        c.line = std::string(tail.substr(1));
    } else {
        c.nuclide = std::string(head);
        c.line = restorePoint(tail.substr(1));
    }
    return c;
}

}  // namespace krv
