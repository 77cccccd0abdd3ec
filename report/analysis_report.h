#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace krv {

// A text that always holds exactly its width in characters: shorter values are padded
// with blanks, longer ones cut. Characters are single bytes in Windows-1252, as the
// reports are written. A fresh field is full of NUL characters, which an append made
// before any read writes as they are.
class FixedText {
  public:
    explicit FixedText(std::size_t width = 0) : text_(width, '\0') {}
    void assign(std::string_view value);
    const std::string& value() const { return text_; }
    std::size_t width() const { return text_.size(); }

  private:
    std::string text_;
};

inline constexpr int kMaxIsotopes = 100;
inline constexpr int kMaxLinesPerIsotope = 25;

struct IsotopeLine {
    float energy = 0;
    float activity = 0;
    float net = 0;
    float gross = 0;
};

// One analysis report as the parser left it. Slots beyond the counts keep leftovers of
// earlier reads and are never read; slot 0 of either index is never used.
struct AnalysisReport {
    FixedText idText{72};
    FixedText fileName{18};
    FixedText dateAndTime{30};
    FixedText sampleDate{24};
    float countingTime = 0;
    float deadTimePct = 0;

    std::int16_t isotopeCount = 0;  // 0..kMaxIsotopes
    std::int16_t corrCoeffPos = 0;  // nonzero selects the second row layout
    std::array<FixedText, kMaxIsotopes + 1> isotopeName = makeNames();
    std::array<std::int16_t, kMaxIsotopes + 1> lineCount{};
    std::array<std::array<IsotopeLine, kMaxLinesPerIsotope + 1>, kMaxIsotopes + 1> lines{};

    // Starts a read: the counts go back to 0, every header field keeps its value.
    void beginRead() {
        isotopeCount = 0;
        corrCoeffPos = 0;
        blockStored_ = false;
    }
    // Starts a read as a model no read has touched would: the header empty, the counts 0.
    // The line slots keep their leftovers, which are never read, so a bulk import need not
    // clear 40 KB per report.
    void beginFreshRead();
    // Returns false (storing nothing) once the model is full; the lines of a block that
    // was not stored are refused too, so they never land on the last stored isotope.
    bool addIsotope(std::string_view name);
    bool addLine(const IsotopeLine& line);

  private:
    bool blockStored_ = false;
    static std::array<FixedText, kMaxIsotopes + 1> makeNames();
};

// What the main window holds beside the report and the handlers share.
struct WindowState {
    AnalysisReport report;
    std::int16_t appendMode = 0;  // 0 activity, 1 net, 2 gross, 3 background counts
    bool blindFlag = false;       // while true no question is asked and no failure shown

    // The two path boxes, as typed (UTF-8).
    std::string rpathText;
    std::string apathText;

    // Captions the handlers set on the main window.
    std::string currentFileCaption = "null";
    std::string numbIsoCaption = "null";
    std::string numFieldsCaption = "null";
    std::string numbRecCaption = "null";
    bool appendItRed = false;  // the append button turns red after an append that opened

    // Column widths of the results viewer's grid in twips, 0 meaning none stored. Slots
    // 0..99 are used and stored; slot 100 never is.
    std::array<std::int16_t, 101> columnWidth{};
};

}  // namespace krv
