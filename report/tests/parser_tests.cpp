#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "report/tests/report_builder.h"

namespace krv {
namespace {

using namespace krv::testing;

const std::string kDate = "5/14/02  09:31:05";

Lines header() {
    return {"ID: SOIL CORE B-17",
            "File: S0421.CNF",
            "Date: " + kDate,
            cols({{1, "LT:     3600.0 sec"}, {30, "DT:   3.2%"}}),
            "Activities reported as of Measurement Date",
            ""};
}

Lines sampleReport() {
    Lines l = header();
    append(l, block("CO-60", {row(" 1173.20", "1,482", "1,036", "1.231E+01"),
                              row(" 1332.50", "1,311", "944", "1.238E+01")}));
    append(l, block("CS-137", {row("  661.66", "12,874", "11,902", "4.567E+01")}));
    l.push_back("Analyst: R. Mendel");
    return l;
}

void expectLine(const AnalysisReport& r, int i, int j, IsotopeLine want) {
    const IsotopeLine& got = r.lines[i][j];
    EXPECT_FLOAT_EQ(got.energy, want.energy) << i << "/" << j;
    EXPECT_FLOAT_EQ(got.gross, want.gross) << i << "/" << j;
    EXPECT_FLOAT_EQ(got.net, want.net) << i << "/" << j;
    EXPECT_FLOAT_EQ(got.activity, want.activity) << i << "/" << j;
}

void expectSameModel(const AnalysisReport& a, const AnalysisReport& b) {
    EXPECT_EQ(a.idText.value(), b.idText.value());
    EXPECT_EQ(a.fileName.value(), b.fileName.value());
    EXPECT_EQ(a.dateAndTime.value(), b.dateAndTime.value());
    EXPECT_EQ(a.sampleDate.value(), b.sampleDate.value());
    EXPECT_EQ(a.countingTime, b.countingTime);
    EXPECT_EQ(a.deadTimePct, b.deadTimePct);
    ASSERT_EQ(a.isotopeCount, b.isotopeCount);
    for (int i = 1; i <= a.isotopeCount; ++i) {
        EXPECT_EQ(a.isotopeName[i].value(), b.isotopeName[i].value());
        ASSERT_EQ(a.lineCount[i], b.lineCount[i]) << i;
        for (int j = 1; j <= a.lineCount[i]; ++j) expectLine(a, i, j, b.lines[i][j]);
    }
}

TEST(ReportHeader, KeyLinesFillTheHeaderFields) {
    const AnalysisReport r = readText(join(sampleReport()));
    EXPECT_EQ(r.idText.value(), padded(" SOIL CORE B-17", 72));
    EXPECT_EQ(r.fileName.value(), padded(" S0421.CNF", 18));
    EXPECT_EQ(r.dateAndTime.value(), padded(kDate, 30));
    EXPECT_EQ(r.sampleDate.value(), padded(kDate, 24));  // "Measurement Date" stands for it
    EXPECT_FLOAT_EQ(r.countingTime, 3600.0f);
    EXPECT_FLOAT_EQ(r.deadTimePct, 3.2f);
}

TEST(ReportHeader, FixedPositionsAreCutBlindly) {
    AnalysisReport r =
        readText(join({"Date:" + kDate,  // the first date character is lost
                       "LT: 300.0   DT: 3.25", "Activities reported as of 5/13/02  12:00:00 noon",
                       "ID:" + std::string(80, 'x'), "File: F.CNF   Date: 1/2/03  04:05:06"}));
    EXPECT_EQ(r.dateAndTime.value(), padded("1/2/03  04:05:06", 30));  // File: line goes on
    EXPECT_EQ(r.fileName.value(), padded(" F.CNF   Date: 1/2", 18));
    EXPECT_FLOAT_EQ(r.countingTime, 300.0f);
    EXPECT_FLOAT_EQ(r.deadTimePct, 3.2f);  // the last character of the line is dropped
    EXPECT_EQ(r.sampleDate.value(), "5/13/02  12:00:00 noon  ");
    EXPECT_EQ(r.idText.value(), std::string(72, 'x'));

    // A sample-date line that also carries "Date:" is a date line only.
    r = readText(join({"Date:" + kDate, "Activities reported as of Date: 6/1/02"}));
    EXPECT_EQ(r.dateAndTime.value(), padded("6/1/02", 30));
    EXPECT_EQ(r.sampleDate.value(), std::string(24, '\0'));

    // Only the table columns drop thousands separators.
    r = readText(join({"LT: 1,800.0"}));
    EXPECT_FLOAT_EQ(r.countingTime, 1.0f);
}

TEST(ReportHeader, SecondReadKeepsWhatItDoesNotCarry) {
    AnalysisReport r = readText(join(sampleReport()));
    r.beginRead();
    parseReportText(join({"ID: OTHER", "", isotopeLine("AM-241", true), heading2(), "keV",
                          row2(" 59.54", "100", "90", "7.0"), ""}),
                    r);
    EXPECT_EQ(r.idText.value(), padded(" OTHER", 72));
    EXPECT_EQ(r.fileName.value(), padded(" S0421.CNF", 18));
    EXPECT_FLOAT_EQ(r.countingTime, 3600.0f);
    ASSERT_EQ(r.isotopeCount, 1);
    EXPECT_EQ(r.isotopeName[1].value(), "AM-241");
    expectLine(r, 1, 1, {59.54f, 7.0f, 90, 100});
}

TEST(IsotopeTable, FirstLayoutRowsWithCommasAndBlanks) {
    Lines l = sampleReport();
    append(l, block("K-40", {row(" 1460.8", "1,234.5", "12 34", "3.9 E+02")}));
    const AnalysisReport r = readText(join(l));
    ASSERT_EQ(r.isotopeCount, 3);
    EXPECT_EQ(r.corrCoeffPos, 0);
    EXPECT_EQ(r.isotopeName[1].value(), "CO-60 ");
    EXPECT_EQ(r.isotopeName[2].value(), "CS-137");
    ASSERT_EQ(r.lineCount[1], 2);
    expectLine(r, 1, 1, {1173.2f, 12.31f, 1036, 1482});
    expectLine(r, 1, 2, {1332.5f, 12.38f, 944, 1311});
    ASSERT_EQ(r.lineCount[2], 1);
    expectLine(r, 2, 1, {661.66f, 45.67f, 11902, 12874});
    expectLine(r, 3, 1, {1460.8f, 390, 1234, 1234.5f});
}

TEST(IsotopeTable, CorrCoeffSwitchesTheLayoutForTheRestOfTheRead) {
    Lines l = block("CO-60", {row(" 1173.20", "1,482", "1,036", "1.231E+01")});
    const std::string corrLine = isotopeLine("CS-137", true);
    append(l, {corrLine, heading2(), "keV", row2("  661.66", "12,874", "11,902", "4.567E+01"), ""});
    append(l, {isotopeLine("K-40"), heading2(), "keV", row2(" 1460.8", "2,315", "1,877", "392.1"),
               ""});
    const AnalysisReport r = readText(join(l));
    ASSERT_EQ(r.isotopeCount, 3);
    EXPECT_EQ(r.corrCoeffPos, static_cast<int>(corrLine.find("Corr. Coeff.")) + 1);
    expectLine(r, 1, 1, {1173.2f, 12.31f, 1036, 1482});
    expectLine(r, 2, 1, {661.66f, 45.67f, 11902, 12874});
    expectLine(r, 3, 1, {1460.8f, 392.1f, 1877, 2315});
}

TEST(IsotopeTable, HeadingSearch) {
    // Leading blanks of the heading do not count: A is taken from its first non-blank.
    Lines l{isotopeLine("CO-60"), "    " + heading(), kUnits, row(" 1173.2", "10", "9", "8.0"), ""};
    // Continuation fields with "Activity =" after their first character are passed over.
    append(l, {isotopeLine("CS-137"), "   Ref. Activity = 2.0E+01", heading(), kUnits,
               row("  661.66", "20", "19", "18.0"), ""});
    // A heading with a comma is two fields: its rest is the field dropped before the rows.
    append(l, {isotopeLine("K-40"), heading() + ", Uncert. %", row(" 1460.8", "30", "29", "28.0"),
               ""});
    // No "Activity" in the heading: there is no column to cut, activity reads 0.
    append(l,
           {isotopeLine("BE-7"), "Energy  Gross", kUnits, row("  477.6", "40", "39", "38.0"), ""});
    const AnalysisReport r = readText(join(l));
    ASSERT_EQ(r.isotopeCount, 4);
    for (int i = 1; i <= 4; ++i) ASSERT_EQ(r.lineCount[i], 1) << i;
    expectLine(r, 1, 1, {1173.2f, 8, 9, 10});
    expectLine(r, 2, 1, {661.66f, 18, 19, 20});
    expectLine(r, 3, 1, {1460.8f, 28, 29, 30});
    expectLine(r, 4, 1, {477.6f, 0, 39, 40});
}

TEST(IsotopeTable, EndOfFileRules) {
    const Lines rows{row(" 1173.20", "1", "1", "1"), row(" 1332.50", "2", "2", "2")};
    Lines open{isotopeLine("CO-60"), heading(), kUnits};
    append(open, rows);
    // A table that runs to the end loses its last row, with or without a final line end.
    for (const std::string& text : {join(open), join(open).substr(0, join(open).size() - 2)}) {
        const AnalysisReport r = readText(text);
        ASSERT_EQ(r.isotopeCount, 1);
        EXPECT_EQ(r.lineCount[1], 1);
    }
    // An isotope line that ends the file still counts, with no rows.
    AnalysisReport r = readText(join({"ID: X", isotopeLine("CO-60")}));
    EXPECT_EQ(r.isotopeCount, 1);
    EXPECT_EQ(r.lineCount[1], 0);
    r = readText(join(header()));
    EXPECT_EQ(r.isotopeCount, 0);
}

TEST(IsotopeTable, CapacityIsNeverExceeded) {
    Lines l;
    Lines longRows;
    for (int j = 1; j <= 30; ++j) longRows.push_back(row(std::to_string(j), "1", "1", "1"));
    append(l, block("LONG", longRows));
    for (int i = 2; i <= 101; ++i) {
        const std::string e = std::to_string(i);
        append(l, block("N" + e, {row(e, e, e, e)}));
    }
    const AnalysisReport r = readText(join(l));
    ASSERT_EQ(r.isotopeCount, kMaxIsotopes);
    EXPECT_EQ(r.lineCount[1], kMaxLinesPerIsotope);
    expectLine(r, 1, 25, {25, 1, 1, 1});
    expectLine(r, 2, 1, {2, 2, 2, 2});  // the rows past 25 were consumed, not misread
    EXPECT_EQ(r.isotopeName[100].value(), "N100  ");
    EXPECT_EQ(r.lineCount[100], 1);
    expectLine(r, 100, 1, {100, 100, 100, 100});  // the 101st block did not land here
}

TEST(ReportBytes, LineEndsAndChunkBoundariesReadAlike) {
    // A full model spans several read buffers, and every row differs from the others.
    Lines l;
    for (int i = 1; i <= kMaxIsotopes; ++i) {
        Lines rows;
        for (int j = 1; j <= kMaxLinesPerIsotope; ++j) {
            const std::string v = std::to_string(i * 100 + j);
            rows.push_back(row(v, v + ".5", v, v + "E-3"));
        }
        append(l, block("I" + std::to_string(i), rows));
    }
    append(l, header());
    const AnalysisReport reference = readText(join(l, "\r\n"));
    ASSERT_EQ(reference.isotopeCount, kMaxIsotopes);
    expectLine(reference, 100, 25, {10025, 10.025f, 10025, 10025.5f});
    for (const char* eol : {"\n", "\r"}) expectSameModel(readText(join(l, eol)), reference);

    // Shifting the text by up to a line's length puts a buffer boundary on every kind of
    // byte, the middle of a CR LF pair included.
    const auto path = std::filesystem::temp_directory_path() / "krv_parser_chunks.txt";
    for (int shift = 0; shift < 90; ++shift) {
        const std::string text = std::string(static_cast<std::size_t>(shift), 'z') + "\r\n" +
                                 join(l, shift % 10 ? "\r\n" : "\r");
        std::ofstream(path, std::ios::binary) << text;
        AnalysisReport fromFile;
        fromFile.beginRead();
        parseReportFile(path.string(), fromFile);
        SCOPED_TRACE(shift);
        expectSameModel(fromFile, reference);
    }
    std::filesystem::remove(path);
}

TEST(ReportBytes, GarbageNulsAndHugeLinesStayBounded) {
    const AnalysisReport nul = readText(std::string("ID: A\0B\r\n", 9));
    EXPECT_EQ(nul.idText.value().substr(0, 4), std::string(" A\0B", 4));

    std::mt19937 rng(7);
    std::string junk;
    for (int k = 0; k < 2000; ++k) {
        for (int b = 0; b < 300; ++b) junk.push_back(static_cast<char>(rng()));
        junk += k % 3 ? "Activity =" : "\r\n\"";
    }
    const AnalysisReport g = readText(junk);
    EXPECT_LE(g.isotopeCount, kMaxIsotopes);
    for (int i = 1; i <= g.isotopeCount; ++i) EXPECT_LE(g.lineCount[i], kMaxLinesPerIsotope);

    // A 10 MB line costs no more than its kept part, and the lines after it still count.
    const std::string huge(10 * 1024 * 1024, 'x');
    Lines l{"ID:" + huge,
            "File: AFTER.CNF",
            isotopeLine("CO-60"),
            heading(),
            kUnits,
            row(" 1173.2", "1", "1", "1") + huge,
            row(" 1332.5", "2", "2", "2"),
            ""};
    AnalysisReport r = readText(join(l));
    EXPECT_EQ(r.idText.value(), std::string(72, 'x'));
    EXPECT_EQ(r.fileName.value(), padded(" AFTER.CNF", 18));
    ASSERT_EQ(r.lineCount[1], 2);
    expectLine(r, 1, 2, {1332.5f, 2, 2, 2});
    // A heading field that opens a quote and never closes it runs to the end of the file.
    r = readText(join({isotopeLine("CO-60"), "\"" + huge, row(" 1173.2", "1", "1", "1"), ""}));
    EXPECT_EQ(r.isotopeCount, 1);
    EXPECT_EQ(r.lineCount[1], 0);
}

}  // namespace
}  // namespace krv
