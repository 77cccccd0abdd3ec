// The audit trail on a real file and a real server, read back with plain SQL.

#include <regex>

#include "audit/audit.h"
#include "platform/platform.h"
#include "results_db/tests/store_bench.h"

namespace krv {
namespace {

using namespace testing;

// The same cases against both stores: the trail goes through the store's own interface.
class AuditTrail : public StoreBench {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(StoreBench::SetUp());
        state.blindFlag = true;
        ASSERT_TRUE(reset().ok);
        raw().query(
            "INSERT INTO \"SamData\" (\"idxRec#\", \"ID Text\", \"DT %\") VALUES "
            "(1, 'first', '1.5'), (2, 'second \"quoted\" \\\x1f', NULL), (3, 'third', '2')");
        Status st;
        database = engine->openDatabase(path, st);
        ASSERT_TRUE(database) << st.description;
    }
    Rows trail() {
        return raw().query(
            "SELECT \"Operation\", \"RecordNumber\", \"RecordId\", \"ColumnName\", "
            "\"OldValue\", \"NewValue\", \"Note\" FROM \"KrvAudit\" ORDER BY " +
            raw().order());
    }
    // An edit of one fixed column of a record, through the trail.
    Status edit(std::int64_t record, const std::string& column, const db::Value& value) {
        const auto f = fixedFields();
        const auto i = std::ranges::find(f, column, &db::FieldInfo::name);
        return audit::editValue(*database, kTableName, record, *i, value);
    }

    std::unique_ptr<db::Database> database;
};

class FileAuditTrail : public AuditTrail {};
INSTANTIATE_TEST_SUITE_P(BothStores, AuditTrail, bothStores(), kindName);
INSTANTIATE_TEST_SUITE_P(File, FileAuditTrail, ::testing::Values(Kind::File), kindName);

TEST_P(AuditTrail, EachChangeLeavesExactlyItsEntry) {
    ASSERT_TRUE(edit(2, "DT %", std::string("4.25")).ok());
    // What the column made of the value is what the trail holds: 7.5 rounds to 8.
    ASSERT_TRUE(edit(3, kRecordNumberField, 7.5).ok());
    ASSERT_TRUE(audit::deleteRecord(*database, kTableName, 2).ok());
    ASSERT_TRUE(
        audit::noteMissingValues(*database, 4, {{"CO-60", "no room for a new column"}}).ok());
    database->close();

    const std::string deleted =
        R"({"idxRec#":2,"File Name":null,"ID Text":"second \"quoted\" \\\u001f",)"
        R"("Date & time":null,"Sample Date":null,"Counting Time":null,"DT %":"4.25"})";
    EXPECT_EQ(trail(),
              (Rows{{"edit", "2", "2", "DT %", {}, "4.25", {}},
                    {"edit", "3", "3", "idxRec#", "3", "8", {}},
                    {"delete", "2", "2", {}, deleted, {}, {}},
                    {"missing values", "4", {}, "CO-60", {}, {}, "no room for a new column"}}));
    EXPECT_EQ(raw().query("SELECT \"idxRec#\" FROM \"SamData\" ORDER BY " + raw().order()),
              (Rows{{"1"}, {"8"}}));
    // Who and when, in forms another tool can sort and filter on.
    for (const auto& row :
         raw().query("SELECT \"ChangedAt\", \"UserName\", \"HostName\" FROM \"KrvAudit\"")) {
        EXPECT_TRUE(std::regex_match(*row[0], std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")))
            << *row[0];
        EXPECT_EQ(*row[1] + "@" + *row[2], platform::userName() + "@" + platform::hostName());
    }
}

TEST_P(FileAuditTrail, AnEntryThatCannotBeWrittenTakesItsChangeWithItAndAResetOfOtherFilesSaysSo) {
    ASSERT_TRUE(edit(1, "ID Text", std::string("x")).ok());
    RawDb raw(path);
    raw.query(
        "CREATE TRIGGER refuse BEFORE INSERT ON KrvAudit BEGIN SELECT RAISE(ABORT, 'full'); END");
    const Rows records = raw.query("SELECT * FROM SamData");

    EXPECT_FALSE(edit(1, "ID Text", std::string("y")).ok());
    EXPECT_FALSE(audit::deleteRecord(*database, kTableName, 3).ok());
    EXPECT_EQ(raw.query("SELECT * FROM SamData"), records);
    EXPECT_EQ(raw.scalar("SELECT count(*) FROM KrvAudit"), "1");

    // A change the store refuses writes no entry either; the file stays usable.
    EXPECT_FALSE(edit(1, "DT %", std::string(11, '9')).ok());
    EXPECT_FALSE(audit::deleteRecord(*database, kTableName, 99).ok());
    raw.query("DROP TRIGGER refuse");
    EXPECT_TRUE(audit::deleteRecord(*database, kTableName, 3).ok());
    EXPECT_EQ(raw.scalar("SELECT group_concat(Operation) FROM KrvAudit"), "edit,delete");

    // A file that was no results database: how many records it held is not known.
    writeFile(path + ".other", "not a database");
    state.apathText = path + ".other";
    ASSERT_TRUE(createDb(state, dialogs, *engine, audit::startTrailWithReset).ok);
    RawDb other(path + ".other");
    EXPECT_EQ(
        other.scalar("SELECT OldValue IS NULL AND Note LIKE '%could not be read%' FROM KrvAudit"),
        "1");
}

TEST_P(AuditTrail, EntriesReadBackInOrderAndSinceATime) {
    std::vector<audit::Entry> entries;
    ASSERT_TRUE(audit::readEntries(*database, "", entries).ok());  // no trail yet
    EXPECT_TRUE(entries.empty());
    // Whole numbers keep every digit, as counts of a large reset do.
    for (const auto& [time, old] : {std::pair{"2026-01-31T23:59:59Z", db::Value(1e6)},
                                    {"2026-02-01T00:00:00Z", db::Value(4503599627370496.0)},
                                    {"2026-03-01T08:00:00Z", db::Value{}}}) {
        audit::Entry e;
        std::tie(e.time, e.operation, e.oldValue, e.note) =
            std::tuple(time, audit::kImport, old, time);
        ASSERT_TRUE(audit::write(*database, e).ok());
    }
    ASSERT_TRUE(audit::readEntries(*database, "2026-02-01", entries).ok());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].note, "2026-02-01T00:00:00Z");
    EXPECT_EQ(entries[0].oldValue, db::Value("4503599627370496"));
    EXPECT_EQ(entries[1].time, "2026-03-01T08:00:00Z");
    EXPECT_TRUE(std::holds_alternative<std::monostate>(entries[1].oldValue));
    ASSERT_TRUE(audit::readEntries(*database, "", entries).ok());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].oldValue, db::Value("1000000"));
}

TEST_P(AuditTrail, ResetStartsTheNewStoreWithHowManyRecordsItRemoved) {
    database->close();
    ASSERT_TRUE(createDb(state, dialogs, *engine, audit::startTrailWithReset).ok);
    const Rows reset = {{"reset", {}, {}, {}, "3", "0", "3 records removed"}};
    EXPECT_EQ(trail(), reset);
    EXPECT_EQ(raw().scalar("SELECT count(*) FROM \"SamData\""), "0");

    // An unattended append that stores a record without a value notes it in the trail.
    state.report.beginRead();
    state.report.idText.assign("CHECK SOURCE");
    state.report.countingTime = 123456789;  // longer than its column: saved without it
    ASSERT_TRUE(appendIt(state, dialogs, *engine, '.', audit::noteMissingValues).ok);
    Rows noted = reset;
    noted.push_back({"missing values", "1", {}, "Counting Time", {}, {}, {}});
    Rows got = trail();
    ASSERT_EQ(got.size(), 2u);
    got[1][6].reset();  // the store's own words
    EXPECT_EQ(got, noted);
}

}  // namespace
}  // namespace krv
