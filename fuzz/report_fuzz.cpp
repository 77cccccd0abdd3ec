// Any bytes as a report: the read must end, and the model must stay within its capacity.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "report/analysis_report.h"
#include "report/parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static krv::AnalysisReport report;  // reused, as the window reuses its one model
    krv::parseReportText(std::string_view(reinterpret_cast<const char*>(data), size), report);
    if (report.isotopeCount < 0 || report.isotopeCount > krv::kMaxIsotopes) std::abort();
    for (int i = 1; i <= report.isotopeCount; ++i) {
        if (report.lineCount[i] < 0 || report.lineCount[i] > krv::kMaxLinesPerIsotope) std::abort();
        if (report.isotopeName[i].width() != 6) std::abort();
    }
    if (report.idText.width() != 72 || report.fileName.width() != 18 ||
        report.dateAndTime.width() != 30 || report.sampleDate.width() != 24)
        std::abort();
    return 0;
}
