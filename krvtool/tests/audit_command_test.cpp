// krvtool audit on a real database, and the trail as other programs read it.

#include <gtest/gtest.h>

#include "audit/audit.h"
#include "krvtool/tests/run_cases.h"
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

TEST(AuditCommand, EachRunEndsAsItsCaseSays) {
    testing::TestFolder folder;
    const std::string path = folder.file("results.db");
    auto engine = db::makeSqliteEngine();
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
    ASSERT_TRUE(audit::editValue(*database, kTableName, 1, idText, std::string("a \"b\"")).ok());
    ASSERT_TRUE(audit::deleteRecord(*database, kTableName, 2).ok());
    // Times from the past, so --since has something to leave out.
    testing::RawDb(path).query(
        "UPDATE KrvAudit SET ChangedAt = CASE Operation WHEN 'reset' THEN "
        "'2026-11-30T23:59:59Z' WHEN 'edit' THEN '2026-12-01T08:30:00Z' "
        "ELSE '2026-12-02T00:00:00Z' END");
    testing::writeFile(folder / "notes.txt", "hello");
    // A database from before the trail existed.
    std::filesystem::copy_file(path, folder / "old.db");
    testing::RawDb(folder.file("old.db")).query("DROP TABLE KrvAudit");
    const testing::Words words = {{"$DB", path},
                                  {"$DIR", folder.path().string()},
                                  {"$SPACE", " "},
                                  {"$USER", platform::userName()},
                                  {"$HOST", platform::hostName()}};
    for (const auto& c : testing::caseTable("krvtool_audit_runs.tsv", 4)) {
        ToolRun r(testing::caseArgs(c, 0, words));
        testing::expectRunEnd(c, 0, words, r.status, r.out.str(), r.err.str(),
                              c.where("krvtool_audit_runs.tsv"));
    }
    EXPECT_EQ(testing::readFile(folder / "notes.txt"), "hello");

    // The trail is a plain table: the sqlite3 shell, which knows nothing of this program,
    // filters it and takes a deleted value back out of the kept record.
    const testing::ProcessRun shell = testing::runJobProcess(
        QStringLiteral("sqlite3"),
        {QStringLiteral("-readonly"), QString::fromStdString(path),
         QStringLiteral("SELECT Operation, RecordId, CASE Operation WHEN 'delete' THEN "
                        "json_extract(OldValue, '$.\"ID Text\"') ELSE OldValue END "
                        "FROM KrvAudit WHERE Operation IN ('edit', 'delete') ORDER BY ChangedAt")});
    EXPECT_EQ(shell.status, 0) << "the sqlite3 shell is needed for this test: " << shell.err;
    EXPECT_EQ(shell.out, "edit|1|a,b\ndelete|2|gone\n");
}

}  // namespace
}  // namespace krv::tool
