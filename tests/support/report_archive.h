#pragma once

// A folder of archived reports as a lab's share holds them, for the bulk import and the
// folder watch, whether called as a library or run as `krvtool import-reports`.

#include <filesystem>
#include <string>
#include <vector>

#include "ingest/report_import.h"
#include "platform/platform.h"
#include "report/tests/report_builder.h"
#include "tests/support/test_folder.h"

namespace krv::testing {

inline std::string report(const std::string& id, const Lines& isotopes,
                          const std::string& lt = "3600.0") {
    Lines lines{"ID: " + id, "File: " + id + ".CNF", "Date: 5/14/02  09:31:05"};
    if (!lt.empty()) lines.push_back(cols({{1, "LT:"}, {5, lt}, {30, "DT:   3.2%"}}));
    lines.push_back("Activities reported as of Measurement Date");
    lines.push_back("");
    append(lines, isotopes);
    lines.push_back("Analyst: R. Mendel");
    return join(lines);
}

// Reports that differ in isotopes, lines, layout and header lines, plus files that are not
// reports, in a folder with a subfolder.
inline void writeArchive(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder / "b-sub");
    writeFile(folder / "a1.txt",
              report("A1", block("CS-137", {row("661.66", "12,874", "11,902", "4.567E+01")})));
    writeFile(folder / "a2.txt", report("A2", [] {
                  Lines l = block("CO-60", {row("1173.20", "1,482", "1,036", "1.231E+01"),
                                            row("1332.50", "1,311", "944", "1.238E+01")});
                  append(l, block("K-40", {row("1460.82", "2,315", "1,877", "3.921E+02")}));
                  return l;
              }()));
    // No "LT:" line: a fresh run would store 0, not the previous report's time.
    writeFile(folder / "b-sub" / "c.txt",
              report("C", block("CO-60", {row2("1332.50", "500", "400", "2.0E+00")}, true), ""));
    writeFile(folder / "d-notes.txt", "shopping list\r\n");
    // Only an ID: every other header field empty, and isotopes in another order than their
    // columns.
    writeFile(folder / "g-bare.txt", [] {
        Lines l{"ID: G", ""};
        append(l, block("K-40", {row("1460.82", "2,000", "1,500", "3.0E+02")}));
        append(l, block("CS-137", {row("661.66", "9,000", "8,000", "4.0E+01")}));
        return join(l);
    }());
    writeFile(folder / "e-empty.txt", "");
    writeFile(folder / "f.txt", report("F", {}));
}

// The reports of writeArchive in the order the import stores them.
inline const std::vector<std::string> kReportOrder = {"a1.txt", "a2.txt", "b-sub/c.txt", "f.txt",
                                                      "g-bare.txt"};

// `count` reports of one Cs-137 line each, numbered from `first` in their file names.
inline void writeManyReports(const std::filesystem::path& folder, int count, int first = 0) {
    std::filesystem::create_directories(folder);
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "r%05d.txt", first + i);
        writeFile(folder / name,
                  report("R" + std::to_string(i),
                         block("CS-137", {row("661.66", std::to_string(1000 + i), "900", "1.0")})));
    }
}

inline ingest::ReportImportOptions optionsFor(int mode) {
    ingest::ReportImportOptions o;
    o.mode = mode;
    o.decimalSeparator = platform::systemDecimalSeparator();
    return o;
}

}  // namespace krv::testing
