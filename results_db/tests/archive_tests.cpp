#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "db_test_support.h"
#include "results_db/archive.h"
#include "tests/support/recording_dialogs.h"

namespace krv {
namespace {

using testing::RawDb;
using testing::RecordingDialogs;
using testing::Rows;
using testing::TempFolder;

struct Line {
    float energy, activity, net, gross;
};

void addIsotope(AnalysisReport& r, const std::string& name, std::initializer_list<Line> lines) {
    r.addIsotope(name);
    for (const Line& l : lines) r.addLine({l.energy, l.activity, l.net, l.gross});
}

// CO-60 with two lines and CS-137 with one, as the lab's reports most often carry them.
void cobaltAndCaesium(AnalysisReport& r) {
    r.beginRead();
    r.idText.assign("Sample 7 \xB5Sv");
    r.fileName.assign("S7.CNF");
    r.dateAndTime.assign("14-May-02 10:00:00");
    r.sampleDate.assign("13-May-02 12:00:00");
    r.countingTime = 3600;
    r.deadTimePct = 1.25f;
    addIsotope(r, "CO-60", {{1173.2f, 11.5f, 900, 1000}, {1332.5f, 12.5f, 800, 850}});
    addIsotope(r, "CS-137", {{661.66f, 3.25f, 400, 400}});
}

class Archive : public ::testing::Test {
  protected:
    Archive() {
        state.apathText = "  " + tmp.file("Results DB.mdb") + " ";
        path = tmp.file("Results DB.mdb");
    }
    JobOutcome append() { return appendIt(state, dialogs, *engine, '.'); }
    JobOutcome reset() { return createDb(state, dialogs, *engine); }

    TempFolder tmp;
    std::string path;
    WindowState state;
    RecordingDialogs dialogs;
    std::unique_ptr<db::Engine> engine = db::makeSqliteEngine();
};

const std::vector<std::string> kFixedColumns = {
    "idxRec# SMALLINT",        "File Name VARCHAR(255)",  "ID Text VARCHAR(128)",
    "Date & time VARCHAR(30)", "Sample Date VARCHAR(24)", "Counting Time VARCHAR(10)",
    "DT % VARCHAR(10)"};

TEST_F(Archive, ResetReplacesTheDatabaseOnlyWhenItCan) {
    dialogs.answers = {true, true, false, true};
    ASSERT_TRUE(reset().ok);
    cobaltAndCaesium(state.report);
    ASSERT_TRUE(append().ok);
    ASSERT_TRUE(reset().ok);
    EXPECT_EQ(dialogs.shown[1].text, "Delete ALL data and create a new DataBase, are you SURE ?");
    EXPECT_EQ(dialogs.shown[1].title, "");
    EXPECT_EQ(state.numFieldsCaption, "7");
    EXPECT_EQ(state.numbRecCaption, "0");
    {
        RawDb raw(path);
        EXPECT_EQ(raw.columns(), kFixedColumns);
        EXPECT_EQ(raw.scalar("SELECT count(*) FROM SamData"), "0");
        EXPECT_EQ(raw.query("SELECT \"unique\", (SELECT name FROM pragma_index_info('idxSeq'))"
                            " FROM pragma_index_list('SamData') WHERE name = 'idxSeq'"),
                  (Rows{{"0", "idxRec#"}}));
        EXPECT_EQ(raw.scalar("PRAGMA journal_mode"), "delete");
    }

    // Answered No: nothing changes. A folder that does not exist: the failure is shown.
    ASSERT_TRUE(append().ok);
    const std::string before = testing::readBytes(path);
    EXPECT_FALSE(reset().ok);
    EXPECT_EQ(testing::readBytes(path), before);
    EXPECT_EQ(state.numbRecCaption, "1");
    state.apathText = tmp.file("no such folder/r.mdb");
    EXPECT_FALSE(reset().ok);
    ASSERT_EQ(dialogs.shown.size(), 5u);
    EXPECT_EQ(dialogs.shown[4].text, "Could not create database");
    EXPECT_EQ(dialogs.shown[4].title, kAppTitle);
    EXPECT_EQ(state.numbRecCaption, "1");

    // Unattended: no question, no message, the same failures.
    state.blindFlag = true;
    EXPECT_FALSE(reset().ok);
    state.apathText = "   ";
    EXPECT_FALSE(reset().ok);
    EXPECT_EQ(dialogs.shown.size(), 5u);
}

TEST(IsotopeColumnName, FollowsModeLayoutAndLineCount) {
    WindowState s;
    cobaltAndCaesium(s.report);
    struct Case {
        int mode;
        bool corrCoeff;
        std::vector<std::string> names;  // CO-60 line 1, line 2, CS-137 line 1
    };
    const Case cases[] = {
        {0, true, {"CO-60@1173:2", "CO-60@1332:5", "CS-137@661:66"}},
        {0, false, {"CO-60@LINE1", "CO-60@LINE2", "CS-137"}},
        {1, true, {"CO-60@NET1", "CO-60@NET2", "CS-137@NET1"}},
        {2, false, {"CO-60@GROSS1", "CO-60@GROSS2", "CS-137@GROSS1"}},
        {3, true, {"CO-60@BKG1", "CO-60@BKG2", "CS-137@BKG1"}},
        {3, false, {"CO-60@BKG1", "CO-60@BKG2", "CS-137@BKG1"}},
    };
    for (const Case& c : cases) {
        s.appendMode = static_cast<std::int16_t>(c.mode);
        s.report.corrCoeffPos = c.corrCoeff ? 40 : 0;
        EXPECT_EQ((std::vector<std::string>{isotopeColumnName(s, 1, 1, '.'),
                                            isotopeColumnName(s, 1, 2, '.'),
                                            isotopeColumnName(s, 2, 1, '.')}),
                  c.names)
            << "mode " << c.mode << " corr " << c.corrCoeff;
    }
    // Only the first point becomes a colon; whole energies have none; the separator is
    // the user's.
    s.appendMode = 0;
    s.report.corrCoeffPos = 40;
    addIsotope(s.report, "AG.110", {{657.76f, 0, 0, 0}});
    addIsotope(s.report, "K-40", {{1460.0f, 0, 0, 0}});
    EXPECT_EQ(isotopeColumnName(s, 3, 1, '.'), "AG:110@657.76");
    EXPECT_EQ(isotopeColumnName(s, 4, 1, '.'), "K-40@1460");
    EXPECT_EQ(isotopeColumnName(s, 1, 2, ','), "CO-60@1332,5");
}

TEST(FormatGeneral, SevenSignificantDigitsAndExponentAtTheEdges) {
    EXPECT_EQ(formatGeneral(1332.5f, '.'), "1332.5");
    EXPECT_EQ(formatGeneral(0.0001, '.'), "0.0001");
    EXPECT_EQ(formatGeneral(0.00001, ','), "1E-05");
    EXPECT_EQ(formatGeneral(9999999, '.'), "9999999");
    EXPECT_EQ(formatGeneral(12345678, ','), "1,234568E+07");
    EXPECT_EQ(formatGeneral(-0.0, '.'), "0");
    EXPECT_EQ(formatGeneral(2.0f / 3.0f, '.'), "0.6666667");
}

TEST_F(Archive, FirstAppendCreatesTheDatabaseSilentlyAndColumnsGrowOnce) {
    cobaltAndCaesium(state.report);
    addIsotope(state.report, "CO-60", {{1173.2f, 0, 950, 1000}});  // listed twice
    state.appendMode = 1;
    ASSERT_TRUE(append().ok);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_FALSE(state.blindFlag);
    EXPECT_TRUE(state.appendItRed);
    EXPECT_EQ(state.numFieldsCaption, "10");
    EXPECT_EQ(state.numbRecCaption, "1");

    ASSERT_TRUE(append().ok);
    state.appendMode = 2;
    ASSERT_TRUE(append().ok);
    EXPECT_EQ(state.numFieldsCaption, "13");
    EXPECT_EQ(state.numbRecCaption, "3");

    RawDb raw(path);
    std::vector<std::string> want = kFixedColumns;
    for (const char* c : {"CO-60@NET1", "CO-60@NET2", "CS-137@NET1", "CO-60@GROSS1", "CO-60@GROSS2",
                          "CS-137@GROSS1"})
        want.push_back(std::string(c) + " VARCHAR(10)");
    EXPECT_EQ(raw.columns(), want);
    const auto rows = raw.query(
        "SELECT \"idxRec#\", \"CO-60@NET1\", \"CO-60@NET2\", \"CS-137@NET1\", \"CO-60@GROSS1\","
        " \"Counting Time\", \"DT %\" FROM SamData ORDER BY rowid");
    // The later line of a shared column wins; the other mode's columns stay empty.
    const Rows expected = {{"1", "950", "800", "400", {}, "3600", "1.25"},
                           {"2", "950", "800", "400", {}, "3600", "1.25"},
                           {"3", {}, {}, {}, "1000", "3600", "1.25"}};
    EXPECT_EQ(rows, expected);
    // Header texts keep their full width and arrive as UTF-8.
    EXPECT_EQ(raw.scalar("SELECT \"ID Text\" FROM SamData LIMIT 1"),
              "Sample 7 \xC2\xB5Sv" + std::string(72 - 12, ' '));
    EXPECT_EQ(raw.scalar("SELECT length(\"File Name\") FROM SamData LIMIT 1"), "18");
}

TEST_F(Archive, RefusedValuesLeaveTheirColumnEmptyAndTheRecordIsSaved) {
    cobaltAndCaesium(state.report);
    state.report.countingTime = 123456789;  // 1.234568E+08: 12 characters
    state.report.lines[1][1].gross = -12345678;
    state.appendMode = 3;
    ASSERT_TRUE(append().ok);

    RawDb raw(path);
    const auto rows = raw.query(
        "SELECT \"Counting Time\", \"DT %\", \"CO-60@BKG1\", \"CO-60@BKG2\", \"CS-137@BKG1\""
        " FROM SamData");
    const Rows expected = {{{}, "1.25", {}, "50", "0"}};
    EXPECT_EQ(rows, expected);
}

TEST_F(Archive, RecordNumberFollowsTheRecordCountAndPast32767IsLeftEmpty) {
    state.blindFlag = true;
    ASSERT_TRUE(reset().ok);
    {
        RawDb raw(path);  // another program filling the table
        raw.query(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 32767)"
            " INSERT INTO SamData(\"idxRec#\") SELECT i FROM n");
    }
    cobaltAndCaesium(state.report);
    ASSERT_TRUE(append().ok);
    EXPECT_EQ(state.numbRecCaption, "32768");
    {
        RawDb raw(path);
        EXPECT_EQ(
            raw.query("SELECT \"idxRec#\", \"DT %\" FROM SamData ORDER BY rowid DESC LIMIT 1"),
            (Rows{{{}, "1.25"}}));
    }

    // The viewer removes the last record and one in the middle: the next number is the
    // count plus one, whatever the records hold.
    Status st;
    auto viewer = engine->openDatabase(path, st);
    ASSERT_TRUE(viewer);
    std::vector<std::int64_t> ids;
    ASSERT_TRUE(viewer->recordIds(kTableName, ids).ok());
    ASSERT_TRUE(viewer->deleteRecord(kTableName, ids.back()).ok());
    ASSERT_TRUE(viewer->deleteRecord(kTableName, ids[100]).ok());
    viewer->close();
    ASSERT_TRUE(append().ok);
    EXPECT_EQ(state.numbRecCaption, "32767");
    RawDb raw(path);
    EXPECT_EQ(raw.scalar("SELECT \"idxRec#\" FROM SamData ORDER BY rowid DESC LIMIT 1"), "32767");
    EXPECT_EQ(raw.scalar("SELECT count(*) FROM SamData"), "32767");
}

TEST_F(Archive, OpenFailureIsReportedWithThePathAsTypedAndTheFileKept) {
    const std::string typed = "  " + tmp.file("report.txt") + " ";
    testing::writeBytes(tmp.file("report.txt"), "not a database");
    state.apathText = typed;
    EXPECT_FALSE(append().ok);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "Invalid path or file name [ " + typed +
                                         " ] <Unrecognized database format '" +
                                         tmp.file("report.txt") + "'.>");
    EXPECT_EQ(dialogs.shown[0].title, kAppTitle);
    EXPECT_FALSE(state.appendItRed);
    EXPECT_EQ(testing::readBytes(tmp.file("report.txt")), "not a database");

    state.blindFlag = true;
    state.apathText = tmp.file("no such folder/r.mdb");
    EXPECT_FALSE(append().ok);
    EXPECT_EQ(dialogs.shown.size(), 1u);
}

TEST_F(Archive, AppendWorksBesideTheViewerAndWaitsForAnotherWriter) {
    cobaltAndCaesium(state.report);
    ASSERT_TRUE(append().ok);

    // The viewer keeps its own connection open and has read the table.
    Status st;
    auto viewer = engine->openDatabase(path, st);
    ASSERT_TRUE(viewer);
    std::vector<std::int64_t> ids;
    std::vector<std::vector<db::Value>> rows;
    ASSERT_TRUE(viewer->readRecords(kTableName, {"ID Text"}, 1, 100, rows).ok());
    RawDb reader(path);
    ASSERT_EQ(reader.scalar("SELECT count(*) FROM SamData"), "1");

    // Another writer is between its count and its commit: the append must wait for it
    // and number its record after the other one, not beside it.
    auto writer = engine->openDatabase(path, st);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->beginWrite().ok());
    ASSERT_TRUE(writer->insertRecord(kTableName, {{"idxRec#", 2.0}}).ok());
    JobOutcome outcome;
    std::thread other([&] {
        WindowState s = state;
        RecordingDialogs d;
        auto e = db::makeSqliteEngine();
        outcome = appendIt(s, d, *e, '.');
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_TRUE(writer->commit().ok());
    writer->close();
    other.join();
    EXPECT_TRUE(outcome.ok) << outcome.reason;

    ASSERT_TRUE(viewer->recordIds(kTableName, ids).ok());
    EXPECT_EQ(ids.size(), 3u);
    EXPECT_EQ(reader.query("SELECT \"idxRec#\" FROM SamData ORDER BY rowid"),
              (Rows{{"1"}, {"2"}, {"3"}}));
}

TEST_F(Archive, IsotopeNamesCannotAlterTheStatements) {
    state.blindFlag = true;
    ASSERT_TRUE(reset().ok);
    const auto schemaNames = [&] {
        return RawDb(path).query("SELECT type, name FROM sqlite_schema ORDER BY name");
    };
    const auto before = schemaNames();
    state.report.beginRead();
    addIsotope(state.report, "\");DRO", {{1, 2, 3, 4}});
    addIsotope(state.report, "'--", {{1, 5, 6, 7}});
    addIsotope(state.report, "a\"\"b", {{1, 8, 9, 10}});
    state.appendMode = 1;
    ASSERT_TRUE(append().ok);

    RawDb raw(path);
    EXPECT_EQ(raw.columns().back(), "a\"\"b@NET1 VARCHAR(10)");
    EXPECT_EQ(
        raw.query("SELECT \"\"\");DRO@NET1\", \"'--@NET1\", \"a\"\"\"\"b@NET1\" FROM SamData"),
        (Rows{{"3", "6", "9"}}));
    EXPECT_EQ(schemaNames(), before);
}

}  // namespace
}  // namespace krv
