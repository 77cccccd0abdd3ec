#pragma once

#include <cstdint>
#include <string>

#include "analysis_report.h"
#include "platform/dialogs.h"
#include "platform/status.h"

namespace krv {

// Longest line the reader keeps; the rest of a longer line is consumed and dropped, so
// memory does not grow with the file.
inline constexpr std::size_t kMaxKeptLine = 64 * 1024;

// The open test of a report: opens the path as the report writer's tools do, creating an
// empty file when the path names a missing file in an existing folder. On success
// `length` is the file's size in bytes.
Status openTestReport(const std::string& path, std::int64_t& length);

// Reads a report file body into the model (the steps after the open test): the main loop
// over key lines and the isotope blocks. Nothing after the open is reported.
void parseReportFile(const std::string& path, AnalysisReport& report);

// Same, over text already in memory (tests, fuzzing, bulk import). Returns whether the
// text held an "ID:" key line, the mark of a results report.
bool parseReportText(std::string_view bytes, AnalysisReport& report);

// The whole "Read Krv Results Text file" handler over the window state: trims the report
// path, starts the read, runs the open test (message unless BlindFlag), clears the
// identifier label, reads the body and shows the isotope count.
JobOutcome readKrvFile(WindowState& state, Dialogs& dialogs);

}  // namespace krv
