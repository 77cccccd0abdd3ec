#include <gtest/gtest.h>

#include <QStringEncoder>
#include <cfloat>
#include <cmath>
#include <locale>
#include <span>
#include <sstream>

#include "report/parser.h"
#include "report/tests/report_builder.h"
#include "report/text.h"
#include "tests/support/case_table.h"
#include "tests/support/recording_dialogs.h"
#include "tests/support/test_folder.h"

namespace krv {
namespace {

using namespace krv::testing;
using namespace krv::text;

struct CommaPoint : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
};

TEST(NumberReading, ReadsTheLeadingNumberInAnyLocaleAndNarrowsToSingle) {
    std::locale::global(std::locale(std::locale::classic(), new CommaPoint));
    for (const auto& c : caseTable("report_numbers.tsv", 2)) {
        EXPECT_EQ(readNumber(c[0]), std::stod(c[1])) << c.where("report_numbers.tsv");
        EXPECT_EQ(readNumberSkippingCommas(c[0]), readNumber(stripCommas(c[0]))) << c[0];
    }
    std::locale::global(std::locale::classic());

    // Narrowing to single rounds to nearest, or refuses what does not fit.
    EXPECT_EQ(toSingle(0.1), 0.1f);
    EXPECT_EQ(toSingle(1e-50), 0.0f);
    EXPECT_EQ(toSingle(double{FLT_MAX} * (1 + 2e-8)), FLT_MAX);
    for (const double v : {3.5e38, -3.5e38, double{NAN}}) EXPECT_FALSE(toSingle(v)) << v;
}

TEST(CodePage, EveryByteSurvivesTheRoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    EXPECT_EQ(utf8ToCp1252(cp1252ToUtf8(all)), all);
    EXPECT_EQ(cp1252ToUtf8("\x80\xB5\x9F\x81"), "\u20AC\u00B5\u0178\u0081");
    // A C1 control the page lacks, a cut-short sequence, an overlong form and a surrogate.
    EXPECT_EQ(utf8ToCp1252("\u00FC\u2122 \u65E5\u0080 \xC0\xAF\xED\xA0\x80 a\xC3"),
              "\xFC\x99 ?? ????? a?");
}

// A line far longer than the reader keeps; what follows it must still be read.
const std::string kHuge(10 * 1024 * 1024, 'x');

AnalysisReport readText(std::string_view text) {
    AnalysisReport r;
    parseReportText(text, r);
    return r;
}

// The isotope table as readers walk it: one line per isotope, energy/gross/net/activity.
std::string table(const AnalysisReport& r) {
    std::ostringstream s;
    for (int i = 1; i <= r.isotopeCount; ++i) {
        s << '\n' << r.isotopeName[i].value() << ':';
        for (const IsotopeLine& l : std::span(r.lines[i]).subspan(1, r.lineCount[i]))
            s << ' ' << l.energy << '/' << l.gross << '/' << l.net << '/' << l.activity;
    }
    return s.str();
}

TEST(ReportHeader, KeyLinesAndTheirFixedPositions) {
    // A sample-date line that carries "Date:" is a date line only; a File: line goes on to
    // its date, where the character after the colon is skipped even when it is not a blank.
    const AnalysisReport r = readText(
        join({std::string("ID: A\0B", 7) + kHuge, "LT: 1,800.0   DT: 3.25",
              "Activities reported as of 5/13/02  12:00:00 noon, local",
              "Activities reported as of Date:6/1/02", "File: F.CNF   Date:1/2/03  04:05:06"}));
    EXPECT_EQ(r.idText.value(), std::string(" A\0B", 4) + std::string(68, 'x'));  // NUL kept
    EXPECT_EQ(r.countingTime, 1.0f);  // header values keep their commas
    EXPECT_EQ(r.deadTimePct, 3.2f);   // the line's last character is dropped first
    EXPECT_EQ(r.sampleDate.value(), "5/13/02  12:00:00 noon, ");
    EXPECT_EQ(r.fileName.value(), " F.CNF   Date:1/2/");
    EXPECT_EQ(r.dateAndTime.value(), "/2/03  04:05:06" + std::string(15, ' '));
}

TEST(IsotopeTable, HeadingSearchRowLayoutsAndTheLastRow) {
    // The report's blocks: leading blanks of a heading do not count (B); "Activity ="
    // fields are passed over (B); a heading with a comma is two fields, its rest dropped in
    // place of the units line (C); without "Activity" in the heading there is no column to
    // cut, so the activity reads 0 (D). The first Corr. Coeff. line switches every later
    // table; one that runs to the end of the file loses its last row, with or without a
    // final line end. "{huge}" stands for kHuge.
    std::string text = readFile(KRV_TEST_DATA "/report_isotope_tables.txt");
    text.replace(text.find("{huge}"), 6, kHuge);
    for (const std::string& t : {text, text.substr(0, text.size() - 2)}) {
        const AnalysisReport r = readText(t);
        EXPECT_EQ(r.corrCoeffPos, 34);
        EXPECT_EQ(table(r),
                  "\nCO-60 : 1173.2/1482/1036/12.31 1332.5/1234.5/1234/390"
                  "\nB     : 2/20/19/18\nC     : 3/30/29/28\nD     : 4/40/39/0"
                  "\nCS-137: 661.66/12874/11902/45.67\nK-40  : 1460.8/2315/1877/392.1");
    }
    EXPECT_EQ(readText(join({"ID: X", isotopeLine("CO-60")})).isotopeCount, 1);  // no rows
}

TEST(ReportBytes, CapacityLineEndsAndReadBufferBoundaries) {
    // Every row differs; the first block holds more rows than a slot and a 101st block
    // follows a block of one row in the last slot.
    Lines l;
    for (int i = 1; i <= kMaxIsotopes + 1; ++i) {
        append(l, {isotopeLine("I" + std::to_string(i)), kHeading, kUnits});
        for (int j = 1; j <= (i == 1 ? 30 : i == kMaxIsotopes ? 1 : kMaxLinesPerIsotope); ++j)
            l.push_back(row(std::to_string(i * 100 + j), "12,345.5", "12 34", "1.5E-3"));
        l.push_back("");
    }
    const AnalysisReport r = readText(join(l));
    EXPECT_EQ(r.isotopeCount, kMaxIsotopes);
    EXPECT_EQ(r.lineCount[1], kMaxLinesPerIsotope);
    EXPECT_EQ(r.lines[2][1].energy, 201);     // the rows past the 25th were read through
    EXPECT_EQ(r.lineCount[kMaxIsotopes], 1);  // nothing of the block past the last slot

    // The text spans several read buffers; shifting it by up to a line's length puts a
    // buffer boundary on every kind of byte, the middle of a CR LF pair included.
    const TestFolder folder;
    for (int shift = 0; shift < 90; ++shift) {
        const char* eol = shift % 10 == 1 ? "\n" : shift % 10 == 2 ? "\r" : "\r\n";
        writeFile(folder / "R.TXT", std::string(shift, 'z') + "\r\n" + join(l, eol));
        AnalysisReport fromFile;
        parseReportFile(folder.file("R.TXT"), fromFile);
        ASSERT_EQ(table(fromFile), table(r)) << shift;
    }
}

// The same characters in a Unicode form, after its byte order mark.
std::string marked(const std::string& cp1252, QStringConverter::Encoding form) {
    QStringEncoder to(form, QStringConverter::Flag::WriteBom);
    return QByteArray(to(QString::fromStdString(cp1252ToUtf8(cp1252)))).toStdString();
}

TEST(ReportBytes, ByteOrderMarksGiveTheSameCharactersAsTheCodePage) {
    const TestFolder folder;
    const std::string sample = readFile(KRV_SAMPLES_DIR "/RESULTS.TXT");
    AnalysisReport plain;
    parseReportFile(KRV_SAMPLES_DIR "/RESULTS.TXT", plain);
    ASSERT_GT(plain.isotopeCount, 0);
    // A first line of accented letters longer than a read buffer, shifted so that a
    // buffer boundary cuts characters of every width in two.
    for (int shift = 0; shift < 4; ++shift) {
        const std::string text = std::string(static_cast<std::size_t>(shift), 'z') +
                                 std::string(40000, '\xE9') + "\x80\r\n" + sample;
        const AnalysisReport expected = readText(text);
        for (const auto form :
             {QStringConverter::Utf8, QStringConverter::Utf16LE, QStringConverter::Utf16BE}) {
            const char* name = QStringConverter::nameForEncoding(form);
            writeFile(folder / "R.TXT", marked(text, form));
            AnalysisReport r;
            parseReportFile(folder.file("R.TXT"), r);
            EXPECT_EQ(r.idText.value(), plain.idText.value()) << name << shift;
            EXPECT_EQ(r.sampleDate.value(), plain.sampleDate.value()) << name << shift;
            EXPECT_EQ(table(r), table(expected)) << name << shift;
            EXPECT_EQ(table(r), table(plain)) << name << shift;
        }
    }
    // Characters the code page lacks read as "?", and a mark alone is an empty report.
    AnalysisReport r;
    parseReportText("\xEF\xBB\xBFID: \xE6\x97\xA5\xC3\xB8\r\n", r);
    EXPECT_EQ(r.idText.value().substr(0, 4), " ?\xF8 ");
    // A character outside the BMP is one "?"; half a unit at the end is another.
    parseReportText(std::string("\xFF\xFEI\0D\0:\0 \0=\xD8\x01\xDCx", 15), r);
    EXPECT_EQ(r.idText.value().substr(0, 4), " ?? ");
}

TEST(ReadKrvFile, ReadsTheSampleCreatesAMissingFileAndShowsOpenFailuresUnlessBlind) {
    WindowState sample;
    sample.rpathText = "  " KRV_SAMPLES_DIR "/RESULTS.TXT ";
    RecordingDialogs quiet;
    ASSERT_TRUE(readKrvFile(sample, quiet).ok);
    // The identifier at full padded width, converted from the report's code page, and the
    // sample date taken from a "Date: " line by "Measurement Date".
    EXPECT_EQ(sample.currentFileCaption + "|" + sample.numbIsoCaption + "|" +
                  sample.report.sampleDate.value(),
              " SOIL CORE B-17 \u00D850 DEPTH 0-5 CM  BATCH 2002-118" + std::string(24, ' ') +
                  "|3|5/14/02  09:31:05       ");

    const TestFolder folder;
    writeFile(folder / "locked.txt", "ID: X\r\n");
    std::filesystem::permissions(folder / "locked.txt", std::filesystem::perms::none);
    const bool enforced = !std::ifstream(folder / "locked.txt");  // not when run as root
    const std::pair<std::string, std::string> cases[] = {
        {folder.file("NEW.TXT"), ""},
        {folder.path().string(), "Path/File access error"},
        {folder.file("no_such_folder/R.TXT"), "Path not found"},
        {"", "Bad file name or number"},
        {folder.file("locked.txt"), enforced ? "Permission denied" : "root"}};
    for (const auto& [path, why] : cases) {
        for (const bool blind : {false, true}) {
            if (why == "root") continue;
            WindowState state;
            state.blindFlag = blind;
            state.rpathText = path;
            RecordingDialogs dialogs;
            // Nothing was read, so a job must not go on to append.
            EXPECT_FALSE(readKrvFile(state, dialogs).ok) << path;
            EXPECT_EQ(state.currentFileCaption + "|" + state.numbIsoCaption, "|null");
            std::string shown;
            for (const auto& d : dialogs.shown) shown += d.title + ": " + d.text;
            const std::string message = "Invalid path or file name [ " + path + " ] <" + why + ">";
            EXPECT_EQ(shown, blind || why.empty() ? "" : kAppTitle + (": " + message));
        }
    }
    EXPECT_EQ(std::filesystem::file_size(folder / "NEW.TXT"), 0u);
}

}  // namespace
}  // namespace krv
