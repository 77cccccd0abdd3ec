#include "qc/half_life.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/platform.h"
#include "qc/reading.h"
#include "report/text.h"
#include "results_db/schema.h"
#include "settings/settings_folder.h"

namespace krv::qc {

namespace {

// The year of the evaluations: 365.24219 days.
constexpr double kDay = 86400.0;
constexpr double kYear = 365.24219 * kDay;

std::string key(std::string_view nuclide) {
    std::string k;
    for (char c : nuclide) {
        if (c == ' ' || c == '-' || c == '\t') continue;
        k += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return k;
}

double unitSeconds(std::string_view unit) {
    if (unit == "s") return 1;
    if (unit == "min" || unit == "m") return 60;
    if (unit == "h") return 3600;
    if (unit == "d") return kDay;
    if (unit == "y" || unit == "a") return kYear;
    return 0;
}

constexpr const char* kDdep = "DDEP recommended data (LNHB Table of Radionuclides)";
constexpr const char* kEnsdf = "ENSDF (Nuclear Data Sheets)";

struct Builtin {
    const char* nuclide;
    double value;
    const char* unit;
    const char* source;
};

// Values and units as the evaluations print them.
constexpr Builtin kBuiltin[] = {
    {"Be-7", 53.22, "d", kDdep},    {"Na-22", 2.6029, "y", kDdep}, {"K-40", 1.248e9, "y", kEnsdf},
    {"Mn-54", 312.19, "d", kDdep},  {"Co-57", 271.81, "d", kDdep}, {"Co-60", 5.2711, "y", kDdep},
    {"Zn-65", 243.93, "d", kDdep},  {"I-131", 8.0233, "d", kDdep}, {"Ba-133", 10.539, "y", kDdep},
    {"Cs-134", 2.0644, "y", kDdep}, {"Cs-137", 30.05, "y", kDdep}, {"Eu-152", 13.522, "y", kDdep},
    {"Eu-154", 8.601, "y", kDdep},  {"Pb-210", 22.23, "y", kDdep}, {"Ra-226", 1600, "y", kDdep},
    {"Th-228", 1.9126, "y", kDdep}, {"Am-241", 432.6, "y", kDdep},
};

}  // namespace

HalfLifeTable HalfLifeTable::recommended() {
    HalfLifeTable t;
    for (const Builtin& b : kBuiltin) {
        t.entries_.push_back({b.nuclide, b.value * unitSeconds(b.unit),
                              text::roundedNumberText(b.value, 10) + " " + b.unit, b.source});
    }
    return t;
}

std::string HalfLifeTable::nuclideOfColumn(std::string_view column) {
    return std::string(trimmed(readIsotopeColumn(column).nuclide));
}

const HalfLife* HalfLifeTable::find(std::string_view nuclide) const {
    const std::string k = key(nuclide);
    if (k.empty()) return nullptr;
    for (const HalfLife& h : entries_) {
        if (key(h.nuclide) == k) return &h;
    }
    return nullptr;
}

Status HalfLifeTable::addFromText(std::string_view text, const std::string& fileName) {
    std::vector<HalfLife> added;
    std::istringstream in{std::string(text)};
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::string nuclide, value, unit;
        if (!(words >> nuclide)) continue;
        const std::string where = fileName + ":" + std::to_string(number);
        words >> value >> unit;
        const auto v = readValue(value);
        const double perUnit = unitSeconds(unit);
        if (key(nuclide).empty() || !v || *v <= 0 || perUnit == 0) {
            return Status::failure(err::kTypeMismatch,
                                   where +
                                       ": expected NUCLIDE VALUE UNIT (s, min, h, d or y), "
                                       "got '" +
                                       std::string(trimmed(line)) + "'");
        }
        std::string source;
        std::getline(words, source);
        source = std::string(trimmed(source));
        added.push_back({nuclide, *v * perUnit, value + " " + unit,
                         source.empty() ? where : source + " (" + where + ")"});
    }
    for (HalfLife& h : added) {
        const HalfLife* old = find(h.nuclide);
        if (old)
            entries_[static_cast<std::size_t>(old - entries_.data())] = std::move(h);
        else
            entries_.push_back(std::move(h));
    }
    return Status::success();
}

Status HalfLifeTable::addFromFile(const std::string& path) {
    std::ifstream in(platform::toPath(path), std::ios::binary);
    if (!in) return Status::failure(err::kFileNotFound, path + ": cannot be read");
    std::ostringstream all;
    all << in.rdbuf();
    return addFromText(all.str(), path);
}

Status HalfLifeTable::addLabFile() {
    const auto path = labFile(platform::programFolder(), kLabHalfLivesFileName);
    std::error_code ec;
    if (path.empty() || !std::filesystem::exists(path, ec)) return Status::success();
    return addFromFile(platform::fromPath(path));
}

}  // namespace krv::qc
