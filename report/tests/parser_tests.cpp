#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "report/tests/report_builder.h"

namespace krv {
namespace {

using namespace krv::testing;

const Lines kHeader{"ID: SOIL CORE B-17",
                    "File: S0421.CNF",
                    "Date: 5/14/02  09:31:05",
                    cols({{1, "LT:     3600.0 sec"}, {30, "DT:   3.2%"}}),
                    "Activities reported as of Measurement Date",
                    ""};

// The isotope table as readers walk it: one line per isotope, energy/gross/net/activity.
std::string table(const AnalysisReport& r) {
    std::ostringstream s;
    for (int i = 1; i <= r.isotopeCount; ++i) {
        s << r.isotopeName[i].value() << ':';
        for (int j = 1; j <= r.lineCount[i]; ++j) {
            const IsotopeLine& l = r.lines[i][j];
            s << ' ' << l.energy << '/' << l.gross << '/' << l.net << '/' << l.activity;
        }
        s << '\n';
    }
    return s.str();
}

// Everything a reader of the model may look at, as one comparable text.
std::string dump(const AnalysisReport& r) {
    std::ostringstream s;
    s << r.idText.value() << '|' << r.fileName.value() << '|' << r.dateAndTime.value() << '|'
      << r.sampleDate.value() << '|' << r.countingTime << '|' << r.deadTimePct << '|'
      << r.corrCoeffPos << '\n';
    return s.str() + table(r);
}

TEST(ReportHeader, KeyLinesAndTheirFixedPositions) {
    AnalysisReport r = readText(join(kHeader));
    EXPECT_EQ(r.idText.value(), padded(" SOIL CORE B-17", 72));
    EXPECT_EQ(r.fileName.value(), padded(" S0421.CNF", 18));
    EXPECT_EQ(r.dateAndTime.value(), padded("5/14/02  09:31:05", 30));
    EXPECT_EQ(r.sampleDate.value(), padded("5/14/02  09:31:05", 24));  // "Measurement Date"
    EXPECT_EQ(r.countingTime, 3600.0f);
    EXPECT_EQ(r.deadTimePct, 3.2f);

    r = readText(join({"Date:5/14/02  09:31:05", "LT: 1,800.0   DT: 3.25",
                       "Activities reported as of 5/13/02  12:00:00 noon",
                       "ID:" + std::string(80, 'x'), "File: F.CNF   Date: 1/2/03  04:05:06"}));
    EXPECT_EQ(r.dateAndTime.value(), padded("1/2/03  04:05:06", 30));  // a File: line goes on
    EXPECT_EQ(r.fileName.value(), " F.CNF   Date: 1/2");
    EXPECT_EQ(r.countingTime, 1.0f);  // header values keep their commas
    EXPECT_EQ(r.deadTimePct, 3.2f);   // the line's last character is dropped first
    EXPECT_EQ(r.sampleDate.value(), "5/13/02  12:00:00 noon  ");
    EXPECT_EQ(r.idText.value(), std::string(72, 'x'));

    // The character after "Date:" is skipped even when it is not a blank, and a sample-date
    // line that carries "Date:" is a date line only.
    r = readText(join({"Activities reported as of Date:6/1/02"}));
    EXPECT_EQ(r.dateAndTime.value(), padded("/1/02", 30));
    EXPECT_EQ(r.sampleDate.value(), std::string(24, '\0'));
}

TEST(IsotopeTable, RowLayoutsFollowTheFirstCorrCoeffLine) {
    Lines l = block("CO-60", {row(" 1173.20", "1,482", "1,036", "1.231E+01"),
                              row(" 1332.50", "1,234.5", "12 34", "3.9 E+02")});
    append(l, block("CS-137", {row2("  661.66", "12,874", "11,902", "4.567E+01")}, true));
    append(l, {isotopeLine("K-40"), kHeading2, kUnits, row2(" 1460.8", "2,315", "1,877", "392.1"),
               ""});
    const AnalysisReport r = readText(join(l));
    EXPECT_EQ(r.corrCoeffPos, static_cast<int>(isotopeLine("CS-137", true).find("Corr.")) + 1);
    EXPECT_EQ(table(r),
              "CO-60 : 1173.2/1482/1036/12.31 1332.5/1234.5/1234/390\n"
              "CS-137: 661.66/12874/11902/45.67\n"
              "K-40  : 1460.8/2315/1877/392.1\n");
}

TEST(IsotopeTable, HeadingSearch) {
    // Leading blanks of the heading do not count: A is taken from its first non-blank.
    Lines l{isotopeLine("A"), "    " + kHeading, kUnits, row("1", "10", "9", "8"), ""};
    // Fields with "Activity =" after their first character are passed over.
    append(l, {isotopeLine("B"), "   Ref. Activity = 2.0E+01", kHeading, kUnits,
               row("2", "20", "19", "18"), ""});
    // A heading with a comma is two fields; its rest is the field dropped before the rows.
    append(l, {isotopeLine("C"), kHeading + ", Uncert. %", row("3", "30", "29", "28"), ""});
    // Without "Activity" in the heading there is no column to cut: the activity reads 0.
    append(l, {isotopeLine("D"), "Energy  Gross", kUnits, row("4", "40", "39", "38"), ""});
    EXPECT_EQ(table(readText(join(l))),
              "A     : 1/10/9/8\nB     : 2/20/19/18\nC     : 3/30/29/28\nD     : 4/40/39/0\n");
}

TEST(IsotopeTable, EndOfFileAndCapacity) {
    Lines open{isotopeLine("CO-60"), kHeading, kUnits, row("1", "1", "1", "1"),
               row("2", "2", "2", "2")};
    // A table that runs to the end loses its last row, with or without a final line end.
    for (const std::string& text :
         {join(open), join(open, "\n").substr(0, join(open, "\n").size() - 1)})
        EXPECT_EQ(readText(text).lineCount[1], 1);
    EXPECT_EQ(readText(join({"ID: X", isotopeLine("CO-60")})).isotopeCount, 1);  // no rows
    EXPECT_EQ(readText(join(kHeader)).isotopeCount, 0);

    Lines l, longRows;
    for (int j = 1; j <= 30; ++j) longRows.push_back(row(std::to_string(j), "1", "1", "1"));
    append(l, block("LONG", longRows));
    for (int i = 2; i <= 101; ++i)
        append(l, block("N" + std::to_string(i), {row(std::to_string(i), "7", "7", "7")}));
    const AnalysisReport r = readText(join(l));
    ASSERT_EQ(r.isotopeCount, kMaxIsotopes);
    EXPECT_EQ(r.lineCount[1], kMaxLinesPerIsotope);
    EXPECT_EQ(r.lines[1][25].energy, 25);
    EXPECT_EQ(r.lines[2][1].energy, 2);  // the rows past 25 were consumed, not misread
    EXPECT_EQ(r.isotopeName[100].value(), "N100  ");
    EXPECT_EQ(r.lineCount[100], 1);
    EXPECT_EQ(r.lines[100][1].energy, 100);  // the 101st block did not land here
}

TEST(ReportBytes, LineEndsAndReadBufferBoundariesReadAlike) {
    Lines l;  // a full model spans several read buffers, and every row differs
    for (int i = 1; i <= kMaxIsotopes; ++i) {
        Lines rows;
        for (int j = 1; j <= kMaxLinesPerIsotope; ++j) {
            const std::string v = std::to_string(i * 100 + j);
            rows.push_back(row(v, v + ".5", v, v + "E-3"));
        }
        append(l, block("I" + std::to_string(i), rows));
    }
    append(l, kHeader);
    const std::string reference = dump(readText(join(l)));
    ASSERT_NE(reference.find("10025/10025.5/10025/10.025\n"), std::string::npos);
    EXPECT_EQ(dump(readText(join(l, "\n"))), reference);
    EXPECT_EQ(dump(readText(join(l, "\r"))), reference);

    // Shifting the text by up to a line's length puts a buffer boundary on every kind of
    // byte, the middle of a CR LF pair included.
    const auto path = std::filesystem::temp_directory_path() / "krv_parser_chunks.txt";
    for (int shift = 0; shift < 90; ++shift) {
        std::ofstream(path, std::ios::binary) << std::string(shift, 'z') << "\r\n"
                                              << join(l, shift % 10 ? "\r\n" : "\r");
        AnalysisReport fromFile;
        fromFile.beginRead();
        parseReportFile(path.string(), fromFile);
        ASSERT_EQ(dump(fromFile), reference) << shift;
    }
    std::filesystem::remove(path);
}

TEST(ReportBytes, GarbageNulsAndHugeLinesStayBounded) {
    EXPECT_EQ(readText(std::string("ID: A\0B\r\n", 9)).idText.value().substr(0, 4),
              std::string(" A\0B", 4));

    std::mt19937 rng(7);
    std::string junk;
    for (int k = 0; k < 2000; ++k) {
        for (int b = 0; b < 300; ++b) junk.push_back(static_cast<char>(rng()));
        junk += k % 3 ? "Activity =" : "\r\n\"";
    }
    const AnalysisReport g = readText(junk);
    EXPECT_LE(g.isotopeCount, kMaxIsotopes);
    for (int i = 1; i <= g.isotopeCount; ++i) EXPECT_LE(g.lineCount[i], kMaxLinesPerIsotope);

    // A 10 MB line is kept only in part, and the lines after it still count.
    const std::string huge(10 * 1024 * 1024, 'x');
    AnalysisReport r =
        readText(join({"ID:" + huge, "File: AFTER.CNF", isotopeLine("CO-60"), kHeading, kUnits,
                       row("1", "1", "1", "1") + huge, row("2", "2", "2", "2"), ""}));
    EXPECT_EQ(r.idText.value(), std::string(72, 'x'));
    EXPECT_EQ(r.fileName.value(), padded(" AFTER.CNF", 18));
    EXPECT_EQ(r.lineCount[1], 2);
    // A heading field that opens a quote and never closes it runs to the end of the file.
    r = readText(join({isotopeLine("CO-60"), "\"" + huge, row("1", "1", "1", "1"), ""}));
    EXPECT_EQ(r.lineCount[1], 0);
}

}  // namespace
}  // namespace krv
