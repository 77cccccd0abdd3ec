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

inline std::string report(const std::string& id, const Lines& isotopes) {
    Lines lines{"ID: " + id, "File: " + id + ".CNF", "Date: 5/14/02  09:31:05"};
    append(lines, {cols({{1, "LT:"}, {5, "3600.0"}, {30, "DT:   3.2%"}}),
                   "Activities reported as of Measurement Date", ""});
    append(lines, isotopes);
    lines.push_back("Analyst: R. Mendel");
    return join(lines);
}

// Reports that differ in isotopes, lines, layout and header lines, plus files that are not
// reports, in a folder with a subfolder: c.txt has no "LT:" line (a fresh run would store 0,
// not the previous report's time), g-bare.txt only an ID and isotopes in another order than
// their columns.
inline void writeArchive(const std::filesystem::path& folder) {
    std::filesystem::copy(KRV_TEST_DATA "/report_archive", folder,
                          std::filesystem::copy_options::recursive);
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
