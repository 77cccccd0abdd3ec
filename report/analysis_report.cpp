#include "report/analysis_report.h"

namespace krv {

void FixedText::assign(std::string_view value) {
    const std::size_t width = text_.size();
    text_.assign(value.substr(0, width));
    text_.resize(width, ' ');
}

std::array<FixedText, kMaxIsotopes + 1> AnalysisReport::makeNames() {
    std::array<FixedText, kMaxIsotopes + 1> names;
    names.fill(FixedText(6));
    return names;
}

void AnalysisReport::beginFreshRead() {
    static const AnalysisReport untouched;
    idText = untouched.idText;
    fileName = untouched.fileName;
    dateAndTime = untouched.dateAndTime;
    sampleDate = untouched.sampleDate;
    countingTime = untouched.countingTime;
    deadTimePct = untouched.deadTimePct;
    beginRead();
}

bool AnalysisReport::addIsotope(std::string_view name) {
    blockStored_ = isotopeCount < kMaxIsotopes;
    if (!blockStored_) return false;
    ++isotopeCount;
    lineCount[isotopeCount] = 0;
    isotopeName[isotopeCount].assign(name);
    return true;
}

bool AnalysisReport::addLine(const IsotopeLine& line) {
    if (!blockStored_ || isotopeCount < 1 || lineCount[isotopeCount] >= kMaxLinesPerIsotope)
        return false;
    ++lineCount[isotopeCount];
    lines[isotopeCount][lineCount[isotopeCount]] = line;
    return true;
}

}  // namespace krv
