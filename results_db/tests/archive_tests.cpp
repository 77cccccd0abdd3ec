#include <chrono>
#include <filesystem>
#include <future>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "results_db/tests/store_bench.h"
#include "tests/support/case_table.h"

namespace krv {
namespace {

using namespace testing;
namespace fs = std::filesystem;

void addIsotope(AnalysisReport& r, const std::string& name, std::vector<IsotopeLine> lines) {
    r.addIsotope(name);
    for (const IsotopeLine& l : lines) r.addLine(l);
}

// CO-60 with two lines and CS-137 with one, as the lab's reports most often carry them.
void cobaltAndCaesium(AnalysisReport& r) {
    r.beginRead();
    r.idText.assign("Sample 7 \xB5Sv");
    r.fileName.assign("S7.CNF");
    r.countingTime = 3600;
    r.deadTimePct = 1.25f;
    addIsotope(r, "CO-60", {{1173.2f, 11.5f, 900, 1000}, {1332.5f, 12.5f, 800, 850}});
    addIsotope(r, "CS-137", {{661.66f, 3.25f, 400, 400}});
}

// What a job learns a record lacks and why, one value a line, each reason cut to `width`.
std::string missingOf(const JobOutcome& o, std::size_t width = std::string::npos) {
    std::string list;
    for (const MissingValue& m : o.missing)
        list += m.what + ": " + m.reason.substr(0, width) + "\n";
    return list;
}

// The path as a user types it, with blanks around it.
class Archive : public StoreBench {
  protected:
    void SetUp() override {
        StoreBench::SetUp();
        state.apathText = "  " + path + " ";
        cobaltAndCaesium(state.report);
    }
};
class FileArchive : public Archive {};
class ServerArchive : public Archive {};

INSTANTIATE_TEST_SUITE_P(BothStores, Archive, bothStores(), kindName);
INSTANTIATE_TEST_SUITE_P(File, FileArchive, ::testing::Values(Kind::File), kindName);
#ifdef KRV_SERVER_TESTS
INSTANTIATE_TEST_SUITE_P(Server, ServerArchive, ::testing::Values(Kind::Server), kindName);
#endif

TEST_P(Archive, ResetReplacesTheDatabaseOnlyWhenItCanAndLeavesRecordsTheViewerEdits) {
    dialogs.answers = {true, false, true, true};
    ASSERT_TRUE(reset().ok);
    ASSERT_TRUE(append().ok);
    const std::string before = raw().snapshot();
    EXPECT_FALSE(reset().ok);  // answered No
    EXPECT_EQ(raw().snapshot(), before);
    ASSERT_TRUE(reset().ok);
    EXPECT_EQ(box(2), ": Delete ALL data and create a new DataBase, are you SURE ?");
    EXPECT_EQ(state.numFieldsCaption + "/" + state.numbRecCaption, "7/0");
    EXPECT_EQ(raw().columns(),
              (std::vector<std::string>{"idxRec# SMALLINT", "File Name VARCHAR(255)",
                                        "ID Text VARCHAR(128)", "Date & time VARCHAR(30)",
                                        "Sample Date VARCHAR(24)", "Counting Time VARCHAR(10)",
                                        "DT % VARCHAR(10)"}));
    EXPECT_EQ(raw().scalar("SELECT count(*) FROM \"SamData\""), "0");
    // The viewer edits and deletes exactly one record among duplicates.
    raw().query("INSERT INTO \"SamData\"(\"ID Text\") VALUES ('x'), ('x')");
    Status st;
    auto viewer = engine->openDatabase(path, st);
    std::vector<std::int64_t> ids;
    ASSERT_TRUE(viewer && viewer->recordIds(kTableName, ids).ok() && ids.size() == 2);
    const db::FieldInfo dt{"DT %", db::FieldType::Text, 10};
    EXPECT_TRUE(viewer->updateValue(kTableName, ids[1], dt, std::string("4.5")).ok());
    EXPECT_EQ(viewer->updateValue(kTableName, ids[0], dt, std::string("too long text")).number,
              err::kFieldTooSmall);
    // The stored column decides what fits, not the caller's idea of it.
    const db::FieldInfo wrong{"idxRec#", db::FieldType::Text, 255};
    EXPECT_EQ(viewer->updateValue(kTableName, ids[0], wrong, std::string("40000")).number,
              err::kOverflow);
    EXPECT_TRUE(viewer->deleteRecord(kTableName, ids[0]).ok());
    EXPECT_EQ(viewer->deleteRecord(kTableName, ids[0]).number, err::kNoCurrentRecord);
    EXPECT_EQ(raw().query("SELECT \"idxRec#\", \"ID Text\", \"DT %\" FROM \"SamData\""),
              (Rows{{{}, "x", "4.5"}}));

    state.apathText =
        server() ? sharedPgServer().uri("no_such_database") : tmp.file("no such folder/r.mdb");
    EXPECT_FALSE(reset().ok);
    ASSERT_EQ(dialogs.shown.size(), 5u);
    EXPECT_EQ(box(4), std::string(kAppTitle) + ": Could not create database");
    state.blindFlag = true;  // unattended: no question, no message
    EXPECT_FALSE(reset().ok);
    EXPECT_EQ(dialogs.shown.size(), 5u);
}

TEST(ArchiveValues, ColumnNamesNumberTextsAndConversions) {
    AnalysisReport report;
    cobaltAndCaesium(report);
    addIsotope(report, "AG.110", {{657.76f, 0, 0, 0}});
    // Only the first point becomes a colon. Modes 2 and 3 are named in the append tests.
    const std::tuple<int, int, char, std::string> cases[] = {
        {0, 40, '.', "CO-60@1173:2 CO-60@1332:5 CS-137@661:66 AG:110@657.76 "},
        {0, 40, ',', "CO-60@1173,2 CO-60@1332,5 CS-137@661,66 AG:110@657,76 "},
        {0, 0, '.', "CO-60@LINE1 CO-60@LINE2 CS-137 AG:110 "},
        {1, 40, '.', "CO-60@NET1 CO-60@NET2 CS-137@NET1 AG:110@NET1 "}};
    for (const auto& [mode, corrCoeffPos, separator, want] : cases) {
        report.corrCoeffPos = corrCoeffPos;
        std::string names;
        const AppendInput input{report, mode, separator};
        for (int ij : {11, 12, 21, 31}) {
            const std::string name = isotopeColumnName(input, ij / 10, ij % 10);
            names += name + " ";
            // Read back, the name gives the mode and line it was written for.
            const IsotopeColumn back = readIsotopeColumn(name);
            EXPECT_EQ(isotopeColumnName(back), name);
            EXPECT_EQ(back.mode, mode) << name;
        }
        EXPECT_EQ(names, want);
    }
    // Numbers as text, and values as a column stores them.
    for (const auto& c : caseTable("archive_values.tsv", 4)) {
        const db::Value in = c[2] == "text" ? db::Value(c[1]) : db::Value(std::stod(c[1]));
        const bool number = c[0] == "idxRec#";
        db::Value out;
        const Status s = db::convertForField(
            {c[0], number ? db::FieldType::Int16 : db::FieldType::Text, number ? 0 : 10}, in, out);
        const auto* d = std::get_if<double>(&out);
        const std::string got = c[0] == "general" ? formatGeneral(std::get<double>(in), c[2][0])
                                : !s.ok()         ? "error " + std::to_string(s.number)
                                : d               ? formatGeneral(*d, '.')
                                                  : std::get<std::string>(out);
        EXPECT_EQ(got, c[3]) << c.where("archive_values.tsv");
    }
}

TEST_P(Archive, FirstAppendCreatesTheDatabaseSilentlyColumnsGrowOnceAndNamesAreQuoted) {
    addIsotope(state.report, "CO-60", {{1173.2f, 0, 950, 1000}});  // listed twice
    state.appendMode = 1;
    ASSERT_TRUE(append().ok);
    // Silently: no box, and the unattended flag it borrowed is handed back.
    EXPECT_TRUE(dialogs.shown.empty() && !state.blindFlag && state.appendItRed);
    EXPECT_EQ(state.numFieldsCaption + "/" + state.numbRecCaption, "10/1");
    ASSERT_TRUE(append().ok);
    state.appendMode = 2;
    ASSERT_TRUE(append().ok);
    EXPECT_EQ(state.numFieldsCaption + "/" + state.numbRecCaption, "13/3");

    Raw raw = this->raw();
    const std::vector<std::string> columns = raw.columns();
    EXPECT_EQ(std::vector<std::string>(columns.begin() + 7, columns.end()),
              (std::vector<std::string>{"CO-60@NET1 VARCHAR(10)", "CO-60@NET2 VARCHAR(10)",
                                        "CS-137@NET1 VARCHAR(10)", "CO-60@GROSS1 VARCHAR(10)",
                                        "CO-60@GROSS2 VARCHAR(10)", "CS-137@GROSS1 VARCHAR(10)"}));
    // The later line of a shared column wins; the other mode's columns stay empty.
    EXPECT_EQ(raw.query("SELECT \"idxRec#\", \"CO-60@NET1\", \"CO-60@NET2\", \"CS-137@NET1\","
                        " \"CO-60@GROSS1\", \"Counting Time\" FROM \"SamData\" ORDER BY " +
                        raw.order()),
              (Rows{{"1", "950", "800", "400", {}, "3600"},
                    {"2", "950", "800", "400", {}, "3600"},
                    {"3", {}, {}, {}, "1000", "3600"}}));
    // Header texts keep their full width and arrive as UTF-8.
    EXPECT_EQ(raw.scalar("SELECT \"ID Text\" || '|' || \"File Name\" FROM \"SamData\" LIMIT 1"),
              "Sample 7 \xC2\xB5Sv" + std::string(72 - 12, ' ') + "|S7.CNF" + std::string(12, ' '));
    // Isotope names cannot alter the statements.
    for (const char* name : {"\");DRO", "'--", "a\"\"b", "\\';\\"})
        addIsotope(state.report, name, {{1, 2, 3, 4}});
    state.appendMode = 1;
    ASSERT_TRUE(append().ok);
    EXPECT_EQ(raw.query("SELECT \"\"\");DRO@NET1\", \"'--@NET1\", \"a\"\"\"\"b@NET1\","
                        " \"\\';\\@NET1\" FROM \"SamData\" WHERE \"idxRec#\" = 4"),
              (Rows{{"3", "3", "3", "3"}}));
}

TEST_P(Archive, RefusedValuesAndRecordNumbersPast32767LeaveTheirColumnEmpty) {
    state.report.countingTime = 123456789;  // 1.234568E+08: 12 characters
    state.report.lines[1][1].gross = -12345678;
    state.appendMode = 3;
    // Saved, and the job learns which values the record lacks and why.
    JobOutcome saved = append();
    ASSERT_TRUE(saved.ok);
    EXPECT_EQ(missingOf(saved, 24),
              "Counting Time: The field is too small t\nCO-60@BKG1: The field is too small t\n");
    Raw raw = this->raw();  // another program filling the table
    raw.query(
        "WITH RECURSIVE n(i) AS (VALUES(2) UNION ALL SELECT i+1 FROM n WHERE i < 32767)"
        " INSERT INTO \"SamData\"(\"idxRec#\") SELECT i FROM n");
    saved = append();
    ASSERT_TRUE(saved.ok);
    EXPECT_EQ(missingOf(saved, 24).substr(0, 18), "idxRec#: Overflow\n");
    const std::string last = " FROM \"SamData\" ORDER BY " + raw.order() + " DESC LIMIT 1";
    EXPECT_EQ(
        raw.query("SELECT \"idxRec#\", \"Counting Time\", \"CO-60@BKG1\", \"CO-60@BKG2\"" + last),
        (Rows{{{}, {}, {}, "50"}}));

    // The next number is the count plus one, whatever the records hold.
    raw.query("DELETE FROM \"SamData\" WHERE " + raw.order() + " IN (100, (SELECT max(" +
              raw.order() + ") FROM \"SamData\"))");
    ASSERT_TRUE(append().ok);
    EXPECT_EQ(raw.scalar("SELECT \"idxRec#\"" + last), "32767");
}

TEST_P(FileArchive, OpenFailureNamesThePathAsTypedAndLeavesTheFileAlone) {
    RawDb(tmp.file("other.db")).query("CREATE TABLE SamData(x)");
    std::string damaged = readFile(tmp / "other.db");
    std::fill(damaged.begin() + 100, damaged.begin() + 200, '\xFF');  // first page's b-tree
    writeFile(tmp / "damaged.db", damaged);
    writeFile(tmp / "text.txt", "ID: not a database\r\n");
    writeFile(tmp / "empty.db", "");
    fs::create_directory(tmp / "folder.db");
    const auto bytes = [](const std::string& file) {
        return fs::is_directory(file) ? "<folder>" : readFile(file);
    };
    std::size_t shown = 0;
    for (const char* name : {"damaged.db", "text.txt", "empty.db", "other.db", "folder.db"}) {
        SCOPED_TRACE(name);
        const std::string file = tmp.file(name), before = bytes(file);
        state.apathText = "  " + file + " ";
        EXPECT_FALSE(append().ok);
        ASSERT_EQ(dialogs.shown.size(), ++shown);
        const std::string why = std::string(name) == "folder.db"
                                    ? "'" + file + "' is a folder, not a database file."
                                    : "Unrecognized database format '" + file + "'.";
        EXPECT_EQ(box(shown - 1), std::string(kAppTitle) + ": Invalid path or file name [ " +
                                      state.apathText + " ] <" + why + ">");
        EXPECT_FALSE(engine->createDatabase(file).ok());
        EXPECT_EQ(bytes(file), before);
        EXPECT_FALSE(fs::exists(file + "-journal"));
    }
    state.blindFlag = true;
    EXPECT_FALSE(append().ok);
    EXPECT_EQ(dialogs.shown.size(), 5u);
}

TEST_P(Archive, AppendWorksBesideAReaderAndWaitsForAnotherWriter) {
    ASSERT_TRUE(append().ok);
    Status st;
    auto reader = engine->openDatabase(path, st);  // the viewer's binding stays open
    std::vector<std::int64_t> ids;
    ASSERT_TRUE(reader && reader->recordIds(kTableName, ids).ok() && ids.size() == 1);

    // Another writer is between its count and its commit: the append must wait for it
    // and number its record after the other one, not beside it.
    auto writer = engine->openDatabase(path, st);
    ASSERT_TRUE(writer && writer->beginWrite().ok());
    ASSERT_TRUE(writer->insertRecord(kTableName, {{"idxRec#", 2.0}}).ok());
    auto other = std::async(std::launch::async, [&] { return append(); });
    EXPECT_EQ(other.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    ASSERT_TRUE(writer->commit().ok());
    EXPECT_EQ(other.get().reason, "");  // empty when it succeeded
    EXPECT_EQ(raw().query("SELECT \"idxRec#\" FROM \"SamData\" ORDER BY " + raw().order()),
              (Rows{{"1"}, {"2"}, {"3"}}));
    ASSERT_TRUE(reader->recordIds(kTableName, ids).ok());
    EXPECT_EQ(ids.size(), 3u);
}

#ifdef KRV_SERVER_TESTS
TEST_P(ServerArchive, NamesAreComparedWithoutCaseAndCheckedBeforeTheServerCutsThem) {
    state.appendMode = 1;
    ASSERT_TRUE(append().ok);
    state.report.beginRead();
    addIsotope(state.report, "cs-137", {{661.66f, 1, 5, 6}});
    ASSERT_TRUE(append().ok);  // its column is refused as a duplicate, the record is stored
    EXPECT_EQ(raw().scalar("SELECT count(*) FROM pg_attribute WHERE attrelid = "
                           "'\"SamData\"'::regclass AND lower(attname) = 'cs-137@net1'"),
              "1");

    Status st;
    auto db = engine->openDatabase(path, st);
    ASSERT_TRUE(db) << st.description;
    // Another spelling of a stored name finds that column.
    ASSERT_TRUE(db->insertRecord(kTableName, {{"cs-137@net1", std::string("7")}}).ok());
    EXPECT_EQ(raw().scalar("SELECT \"CS-137@NET1\" FROM \"SamData\" ORDER BY \"KrvRecordId\""
                           " DESC LIMIT 1"),
              "7");
    const auto add = [&](const std::string& name) {
        return db->appendField(kTableName, {name, db::FieldType::Text, 10}).number;
    };
    // The second long name would be cut to the first; \xC2\xB5 makes 63 characters 64 bytes.
    EXPECT_EQ(
        (std::vector{add("Cs-137@Net1"), add(std::string(63, 'N')), add(std::string(63, 'N') + "2"),
                     add("\xC2\xB5" + std::string(62, 'u')), add("krvrecordid"), add("CTID")}),
        (std::vector{err::kDuplicateName, 0, err::kInvalidName, err::kInvalidName,
                     err::kInvalidName, err::kInvalidName}));

    std::vector<db::FieldInfo> fields;
    ASSERT_TRUE(db->fields(kTableName, fields).ok());
    for (std::size_t i = fields.size(); i < 255; ++i) ASSERT_EQ(add("F" + std::to_string(i)), 0);
    EXPECT_EQ(add("one too many"), err::kTooManyFields);
    ASSERT_TRUE(db->fields(kTableName, fields).ok());
    EXPECT_EQ(fields.size(), 255u);
}

TEST_P(ServerArchive, ResetTouchesOnlyATableThisProgramMadeAndASilentServerIsAnOpenFailure) {
    raw().query("CREATE TABLE \"Other\" (x int); INSERT INTO \"Other\" VALUES (1)");
    ASSERT_TRUE(append().ok);
    EXPECT_EQ(engine->locate(path), platform::Lookup::Found);
    dialogs.answers = {true};
    ASSERT_TRUE(reset().ok);
    EXPECT_EQ(raw().scalar("SELECT count(*) FROM \"Other\""), "1");

    // A SamData that another program made is never written, reset or dropped.
    const std::string foreign = sharedPgServer().newDatabase();
    Raw other(Kind::Server, foreign);
    other.query("CREATE TABLE \"SamData\" (x int); INSERT INTO \"SamData\" VALUES (1)");
    const std::string before = other.snapshot();
    EXPECT_EQ(engine->locate(foreign), platform::Lookup::NotFound);
    state.apathText = foreign;
    dialogs.answers = {true};
    const JobOutcome refused = reset();
    EXPECT_THAT(refused.reason, HasSubstr("was not made by this program"));
    EXPECT_EQ(box(2), std::string(kAppTitle) + ": Could not create database");
    EXPECT_FALSE(append().ok);
    EXPECT_EQ(box(3), std::string(kAppTitle) + ": Invalid path or file name [ " + foreign +
                          " ] <The table 'SamData' at '" + foreign +
                          "' was not made by this program; it is left as it is.>");
    EXPECT_EQ(other.snapshot(), before);

    // A server that does not answer is an open failure.
    state.apathText = "postgresql:///archive?host=" + tmp.file("no server here");
    EXPECT_EQ(engine->locate(state.apathText), platform::Lookup::Failed);
    EXPECT_FALSE(append().ok);
    ASSERT_EQ(dialogs.shown.size(), 5u);
    // One line that says the server cannot be reached, naming the socket it tried.
    EXPECT_THAT(box(4), StartsWith(std::string(kAppTitle) + ": Could not open the archive [ " +
                                   state.apathText +
                                   " ]: the server cannot be reached: connection"
                                   " to server on socket \"" +
                                   tmp.file("no server here")));
    EXPECT_THAT(box(4), ::testing::Not(::testing::AnyOf(HasSubstr("\n"), HasSubstr("\t"))));

    // A password in the path would end up in the settings file; it is refused unused.
    state.apathText = path + "&password=secret";
    EXPECT_FALSE(append().ok);
    ASSERT_EQ(dialogs.shown.size(), 6u);
    EXPECT_THAT(box(5), HasSubstr(": A password does not belong in the database path"));
}

TEST_P(ServerArchive, ANewColumnWaitsOutALongReaderAndADroppedConnectionIsReplaced) {
    ASSERT_TRUE(append().ok);
    // A reader inside a long transaction holds the table; adding a column needs it alone.
    std::unique_ptr<PGconn, decltype(&PQfinish)> reader(PQconnectdb(path.c_str()), PQfinish);
    PQclear(PQexec(reader.get(), "BEGIN; SELECT count(*) FROM \"SamData\""));
    addIsotope(state.report, "NEW-1", {{100, 1, 2, 3}});
    auto appending = std::async(std::launch::async, [&] { return append(); });
    // Longer than several lock timeouts: the append keeps trying instead of giving up.
    EXPECT_EQ(appending.wait_for(std::chrono::seconds(2)), std::future_status::timeout);
    PQclear(PQexec(reader.get(), "COMMIT"));
    EXPECT_EQ(appending.get().reason, "");
    EXPECT_EQ(
        raw().query("SELECT \"idxRec#\", \"NEW-1\" FROM \"SamData\" ORDER BY " + raw().order()),
        (Rows{{"1", {}}, {"2", "1"}}));
    // The connection left idle, dropped by the server, is replaced.
    raw().query(
        "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = "
        "current_database() AND pid <> pg_backend_pid()");
    EXPECT_EQ(append().reason, "");
    EXPECT_EQ(raw().scalar("SELECT count(*) FROM \"SamData\""), "3");
}

#endif  // KRV_SERVER_TESTS

// Everything of ours beside SamData is rebuilt from the data when another tool took it
// away or changed it; what the store cannot take is listed, not silently dropped.
TEST_P(FileArchive, HelperObjectsAreRebuiltMissingColumnsListedAndAFailedResetChangesNothing) {
    ASSERT_TRUE(append().whole());
    raw().query("DROP TABLE KrvRecordCount");
    ASSERT_TRUE(append().whole());
    raw().query("DROP TRIGGER \"SamData counted insert\"");
    raw().query("INSERT INTO SamData (\"idxRec#\") VALUES (3), (4)");
    ASSERT_TRUE(append().whole());
    EXPECT_EQ(raw().scalar("SELECT group_concat(\"idxRec#\", ' ') FROM SamData"), "1 2 3 4 5");

    raw().query("ALTER TABLE SamData RENAME COLUMN \"ID Text\" TO \"Ident\"");
    const JobOutcome renamed = append();
    ASSERT_TRUE(renamed.ok);
    EXPECT_EQ(missingOf(renamed), "ID Text: SamData has no column of that name\n");
    EXPECT_EQ(raw().scalar("SELECT count(*) FROM SamData"), "6");

    // A full report in net counts meets the store's column limit.
    state.report.beginRead();
    for (int i = 1; i <= kMaxIsotopes; ++i) {
        state.report.addIsotope("N" + std::to_string(i));
        for (int j = 1; j <= kMaxLinesPerIsotope; ++j) state.report.addLine({1, 2, 3, 4});
    }
    state.appendMode = 1;
    const JobOutcome full = append();
    ASSERT_TRUE(full.ok);
    // Ten columns were there, 1990 more fit; "ID Text" is still missing too.
    ASSERT_EQ(full.missing.size(), 2500u - 1990u + 1u);
    EXPECT_EQ(full.missing.front().what + ": " + full.missing.front().reason,
              "N80@NET16: Too many fields defined.");
    EXPECT_EQ(full.missing[509].what, "N100@NET25");
    EXPECT_EQ(full.missing.back().what, "ID Text");

    // The new file is made whole beside the old one before the old one goes: a reset whose
    // new file cannot be finished (here its first trail entry) changes nothing at all.
    const std::string before = readFile(path);
    state.blindFlag = true;
    const JobOutcome refused = createDb(state, dialogs, *engine, [](db::Database&, std::int64_t) {
        return Status::failure(err::kEngine, "the trail could not be written");
    });
    EXPECT_FALSE(refused.ok);
    EXPECT_THAT(refused.reason, HasSubstr("the trail could not be written"));
    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 1);

    std::int64_t removed = -2;
    ASSERT_TRUE(createDb(state, dialogs, *engine, [&](db::Database&, std::int64_t n) {
                    removed = n;
                    return Status::success();
                }).ok);
    EXPECT_EQ(removed, 7);
    EXPECT_EQ(raw().scalar("SELECT count(*) FROM SamData"), "0");

    // A reset between a run's open and its write: the write says the file went.
    Status st;
    auto during = engine->openDatabase(path, st);
    ASSERT_TRUE(during);
#ifdef _WIN32
    // Windows refuses to delete a file another connection holds: the reset waits its turn.
    EXPECT_FALSE(reset().ok);
    return;
#endif
    ASSERT_TRUE(reset().ok);  // a reset between this run's open and its write
    st = during->beginWrite();
    if (st.ok()) st = during->insertRecord(kTableName, {{"idxRec#", 9.0}});
    if (st.ok()) st = during->commit();
    EXPECT_THAT(st.description, HasSubstr("deleted or replaced while this run had it open"));
}

TEST_P(FileArchive, AJournalWithoutItsDatabaseIsSetAsideAndALinkIsFollowed) {
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(append().whole());
    // A journal as a writer leaves it when it stops mid-change: taken while a change of
    // every page is pending (without sync, its records run to its end).
    std::string journal;
    {
        RawDb writer(path);
        for (const char* sql : {"PRAGMA synchronous=OFF", "PRAGMA cache_size=1", "BEGIN",
                                "UPDATE SamData SET \"ID Text\" = printf('%0128d', 0)"})
            writer.query(sql);
        journal = readFile(path + "-journal");
        writer.query("ROLLBACK");
    }
    ASSERT_GT(journal.size(), 512u);
    fs::remove(path);  // deleted by hand; its journal stays
    writeFile(path + "-journal", journal);

    ASSERT_TRUE(append().whole());
    EXPECT_EQ(
        RawDb(path).scalar(
            "SELECT (SELECT * FROM pragma_integrity_check) || (SELECT count(*) FROM SamData)"),
        "ok1");
    EXPECT_FALSE(fs::exists(path + "-journal"));
    std::vector<std::string> aside;
    for (const auto& entry : fs::directory_iterator(tmp.path()))
        if (entry.path().filename().string().find("-journal.orphaned-") != std::string::npos)
            aside.push_back(readFile(entry.path()));
    EXPECT_EQ(aside, std::vector<std::string>{journal});

    // A reset takes the journal of the database it deletes with it.
    writeFile(path + "-journal", journal);
    state.blindFlag = true;
    ASSERT_TRUE(reset().ok);
    EXPECT_FALSE(fs::exists(path + "-journal"));
    EXPECT_EQ(RawDb(path).scalar("PRAGMA integrity_check"), "ok");
#ifndef _WIN32
    // A linked path is one archive, and odd files are named.
    const std::string real = tmp.file("real.mdb"), link = tmp.file("link.mdb");
    fs::create_symlink(real, link);  // dangling: the append creates the file it names
    state.apathText = link;
    ASSERT_TRUE(append().whole());
    ASSERT_TRUE(append().whole());
    ASSERT_TRUE(reset().ok);
    ASSERT_TRUE(append().whole());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(RawDb(real).scalar("SELECT count(*) FROM SamData"), "1");

    fs::create_symlink(tmp.file("loop-b"), tmp / "loop-a");
    fs::create_symlink(tmp.file("loop-a"), tmp / "loop-b");
    fs::create_directory(tmp / "folder.mdb");
    ASSERT_EQ(mkfifo(tmp.file("pipe.mdb").c_str(), 0600), 0);
    const std::pair<const char*, const char*> odd[] = {
        {"loop-a", "form a loop"}, {"folder.mdb", "is a folder"}, {"pipe.mdb", "is a pipe"}};
    for (const auto& [name, why] : odd) {
        state.apathText = tmp.file(name);
        const JobOutcome r = reset(), a = append();
        EXPECT_FALSE(r.ok || a.ok) << name;
        EXPECT_THAT((std::vector{r.reason, a.reason}), ::testing::Each(HasSubstr(why)));
    }
    EXPECT_TRUE(fs::is_directory(tmp / "folder.mdb"));
    EXPECT_TRUE(fs::is_fifo(tmp / "pipe.mdb"));
#endif
}

}  // namespace
}  // namespace krv
