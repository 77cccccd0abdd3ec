#pragma once

// Half-lives for decay correction: a built-in table of the nuclides a gamma lab meets,
// each entry naming the evaluation it comes from, and a user file that adds or overrides.

#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace krv::qc {

struct HalfLife {
    std::string nuclide;  // as written in the table, "Co-60"
    double seconds = 0;
    std::string written;  // value and unit as given, "5.2711 y"
    std::string source;   // the evaluation, or the user file and line
};

inline constexpr const char* kLabHalfLivesFileName = "half-lives.txt";

class HalfLifeTable {
  public:
    // The built-in table.
    static HalfLifeTable recommended();

    // Lines "NUCLIDE VALUE UNIT [SOURCE...]", unit s, min, h, d or y (a); "#" starts a
    // comment. An entry replaces the one of the same nuclide. A malformed line fails the
    // whole file with its line number, and the table stays as it was.
    Status addFromText(std::string_view text, const std::string& fileName);
    Status addFromFile(const std::string& path);
    // The lab's own file in the folder of the program's settings files, when there is
    // one; the window and krvtool both read it, so both correct alike.
    Status addLabFile();

    // The nuclide part of a column name: "CO-60@NET1" -> "CO-60", "CS-137" -> "CS-137".
    static std::string nuclideOfColumn(std::string_view column);

    // Looks a nuclide up ignoring letter case, blanks and hyphens: "CO-60", "Co60".
    const HalfLife* find(std::string_view nuclide) const;
    const std::vector<HalfLife>& entries() const { return entries_; }

  private:
    std::vector<HalfLife> entries_;
};

}  // namespace krv::qc
