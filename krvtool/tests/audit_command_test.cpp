// krvtool audit on a real database, and the trail as other programs read it.

#include <gtest/gtest.h>

#include <sstream>

#include "audit/audit.h"
#include "krvtool/tool.h"
#include "platform/platform.h"
#include "results_db/archive.h"
#include "tests/support/process_run.h"
#include "tests/support/raw_db.h"
#include "tests/support/recording_dialogs.h"
#include "tests/support/test_folder.h"
#include "tests/support/tool_run.h"

namespace krv::tool {
namespace {

using testing::ToolRun;

class AuditCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        WindowState state;
        testing::RecordingDialogs dialogs;
        state.apathText = path;
        state.blindFlag = true;
        ASSERT_TRUE(createDb(state, dialogs, *engine, audit::startTrailWithReset).ok);
        testing::RawDb(path).query(
            "INSERT INTO SamData (\"idxRec#\", \"ID Text\") VALUES (1, 'a,b'), (2, 'gone')");
        Status st;
        auto database = engine->openDatabase(path, st);
        ASSERT_TRUE(database);
        const db::FieldInfo idText{"ID Text", db::FieldType::Text, 128};
        ASSERT_TRUE(
            audit::editValue(*database, kTableName, 1, idText, std::string("a \"b\"")).ok());
        ASSERT_TRUE(audit::deleteRecord(*database, kTableName, 2).ok());
        // Times from the past, so --since has something to leave out.
        testing::RawDb(path).query(
            "UPDATE KrvAudit SET ChangedAt = CASE Operation WHEN 'reset' THEN "
            "'2026-11-30T23:59:59Z' WHEN 'edit' THEN '2026-12-01T08:30:00Z' "
            "ELSE '2026-12-02T00:00:00Z' END");
    }
    QString db() const { return QString::fromStdString(path); }

    testing::TestFolder folder;
    std::string path = folder.file("results.db");
    std::unique_ptr<db::Engine> engine = db::makeSqliteEngine();
    const std::string who = platform::userName() + "@" + platform::hostName();
};

TEST_F(AuditCommand, PrintsTheTrailAsLinesOrCsvSinceADate) {
    ToolRun lines({"audit", db()});
    ASSERT_EQ(lines.status, kDone) << lines.err.str();
    EXPECT_EQ(lines.out.str(),
              "2026-11-30T23:59:59Z  " + who + "  reset  0 records removed\n" +  //
                  "2026-12-01T08:30:00Z  " + who +
                  "  edit  record 1 (identity 1)  ID Text: \"a,b\" -> \"a \"b\"\"\n" +
                  "2026-12-02T00:00:00Z  " + who +
                  "  delete  record 2 (identity 2)  {\"idxRec#\":2,\"File Name\":null,"
                  "\"ID Text\":\"gone\",\"Date & time\":null,\"Sample Date\":null,"
                  "\"Counting Time\":null,\"DT %\":null}\n");

    ToolRun csv({"audit", "--since", "2026-12-01 08:30", "--csv", db()});
    ASSERT_EQ(csv.status, kDone);
    const std::string by = "," + platform::userName() + "," + platform::hostName() + ",";
    EXPECT_EQ(csv.out.str(),
              "ChangedAt,UserName,HostName,Operation,RecordNumber,RecordId,ColumnName,OldValue,"
              "NewValue,Note\n2026-12-01T08:30:00Z" +
                  by +
                  "edit,1,1,ID Text,\"a,b\",\"a \"\"b\"\"\",\n"
                  "2026-12-02T00:00:00Z" +
                  by +
                  "delete,2,2,,\"{\"\"idxRec#\"\":2,\"\"File Name\"\":null,"
                  "\"\"ID Text\"\":\"\"gone\"\",\"\"Date & time\"\":null,\"\"Sample Date\"\":null,"
                  "\"\"Counting Time\"\":null,\"\"DT %\"\":null}\",,\n");
}

TEST_F(AuditCommand, RefusesAFileThatIsNoResultsDatabase) {
    testing::writeFile(folder / "notes.txt", "hello");
    EXPECT_EQ(ToolRun({"audit", QString::fromStdString(folder.file("notes.txt"))}).status, kFailed);
    EXPECT_EQ(testing::readFile(folder / "notes.txt"), "hello");

    // A database from before the trail existed has simply no entries.
    testing::RawDb(path).query("DROP TABLE KrvAudit");
    ToolRun none({"audit", db()});
    EXPECT_EQ(none.status, kDone);
    EXPECT_EQ(none.out.str(), "");
}

// The trail is a plain table: the sqlite3 shell, which knows nothing of this program,
// filters it and takes a deleted value back out of the kept record.
TEST_F(AuditCommand, TheSqliteShellQueriesTheTrail) {
    const testing::ProcessRun shell = testing::runJobProcess(
        QStringLiteral("sqlite3"),
        {QStringLiteral("-readonly"), db(),
         QStringLiteral("SELECT Operation, RecordId, CASE Operation WHEN 'delete' THEN "
                        "json_extract(OldValue, '$.\"ID Text\"') ELSE OldValue END "
                        "FROM KrvAudit WHERE Operation IN ('edit', 'delete') ORDER BY ChangedAt")});
    EXPECT_EQ(shell.status, 0) << "the sqlite3 shell is needed for this test: " << shell.err;
    EXPECT_EQ(shell.out, "edit|1|a,b\ndelete|2|gone\n");
}

}  // namespace
}  // namespace krv::tool
