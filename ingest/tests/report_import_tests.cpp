// Archived reports in bulk: a ledger that skips what is stored, the same in a file and on a
// server, refusals that never stop the batch, and the folder watch under a clock the test
// moves. The commands as job scripts run them are krvtool's tests.

#include <gmock/gmock.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>

#include "ingest/folder_watch.h"
#include "tests/support/case_table.h"
#include "tests/support/pg_server.h"
#include "tests/support/raw_db.h"
#include "tests/support/report_archive.h"

namespace krv::ingest {
namespace {

namespace fs = std::filesystem;
using namespace krv::testing;
using ::testing::HasSubstr;

TEST(ReportImport, LedgerSkipsWhatWasImportedInTheSameModeUnlessAgainInAFileAndOnAServer) {
    TestFolder tmp;
    writeArchive(tmp / "in");
    auto engine = db::makeEngine();
    const std::string dest = tmp.file("r.db");
    const auto count = [&] { return RawDb(dest).scalar("SELECT count(*) FROM SamData"); };
    EXPECT_EQ(importReports(*engine, dest, {tmp.file("in")}, optionsFor(1)).imported, 5);
    // Many stations share one server archive: a bulk import there stores what it stores in a
    // file, and the ledger skips on the second run as it does there.
    ASSERT_TRUE(sharedPgServer().running()) << sharedPgServer().error();
    const std::string uri = sharedPgServer().newDatabase();
    const auto s = importReports(*engine, uri, {tmp.file("in")}, optionsFor(1));
    ASSERT_TRUE(s.failure.ok()) << s.failure.description;
    EXPECT_EQ(std::tuple(s.imported, s.refused.size(), s.incomplete.size()), std::tuple(5, 2u, 0u));

    RawDb raw(dest);
    // Every column the file has, by name: the server table also has a record identity of
    // its own that is no field.
    const std::string all =
        "SELECT " +
        *raw.scalar(
            "SELECT group_concat('\"' || name || '\"', ', ') FROM pragma_table_info('SamData')") +
        " FROM \"SamData\" ORDER BY \"idxRec#\"";
    // A header field no line filled is all NUL characters, which server text cannot hold:
    // the server stores it empty.
    Rows fileRows = raw.query(all);
    for (auto& r : fileRows)
        for (auto& c : r)
            if (c && !c->empty() && c->find_first_not_of('\0') == std::string::npos) c.reset();
    EXPECT_EQ(PgServer::query(uri, all), fileRows);
    const std::string ledger =
        "SELECT \"Hash\", \"Record\" FROM \"ImportedReports\" ORDER BY \"Record\"";
    EXPECT_EQ(PgServer::query(uri, ledger), raw.query(ledger));
    EXPECT_EQ(importReports(*engine, uri, {tmp.file("in")}, optionsFor(1)).skipped, 5);

    // A report wanting more columns than the server's table may have: the rest are refused,
    // its record keeps the values that found a column, and the report after it still
    // arrives.
    fs::create_directories(tmp / "more");
    Lines wide;
    for (int i = 0; i < 11; ++i) {
        Lines rows;
        for (int j = 0; j < 25; ++j)
            rows.push_back(row(std::to_string(100 + 50 * j + i) + ".5", "10", "20", "3"));
        append(wide, block("W" + std::to_string(i), rows));
    }
    writeFile(tmp / "more" / "1.txt", report("M1", wide));
    writeFile(tmp / "more" / "2.txt",
              report("M2", block("CS-137", {row("661.66", "4", "5", "6")})));
    const auto more = importReports(*engine, uri, {tmp.file("more")}, optionsFor(1));
    ASSERT_TRUE(more.failure.ok()) << more.failure.description;
    ASSERT_EQ(std::tuple(more.imported, more.incomplete.size()), std::tuple(2, 1u));
    EXPECT_THAT(more.incomplete[0].reason,
                HasSubstr("(Too many fields defined.) and 30 more values"));
    EXPECT_THAT(summaryText(more, uri, optionsFor(1)),
                HasSubstr("\nOf them, without some values: 1\n"));
    EXPECT_EQ(PgServer::query(uri,
                              "SELECT \"ID Text\", \"W0@NET1\", \"CS-137@NET1\""
                              " FROM \"SamData\" WHERE \"idxRec#\" > 5 ORDER BY 1"),
              (Rows{{" M1" + std::string(69, ' '), "20", std::nullopt},
                    {" M2" + std::string(69, ' '), std::nullopt, "5"}}));
    EXPECT_EQ(PgServer::query(uri, "SELECT count(*) FROM \"ImportedReports\""), (Rows{{"7"}}));
    EXPECT_EQ(PgServer::query(uri,
                              "SELECT \"RecordNumber\", count(*) FROM \"KrvAudit\""
                              " WHERE \"Operation\" = 'missing values' GROUP BY 1"),
              (Rows{{"6", "31"}}));

    // Back to the file.
    auto second =
        importReports(*engine, dest, {tmp.file("in/a1.txt"), tmp.file("in")}, optionsFor(1));
    EXPECT_EQ(std::tuple(second.imported, second.skipped), std::tuple(0, 6));  // a1 counts twice
    EXPECT_EQ(count(), "5");
    // Another mode is another import; --again imports anyway; a copy under another name is
    // the same report.
    EXPECT_EQ(importReports(*engine, dest, {tmp.file("in/a1.txt")}, optionsFor(2)).imported, 1);
    auto again = optionsFor(1);
    again.again = true;
    EXPECT_EQ(importReports(*engine, dest, {tmp.file("in/a1.txt")}, again).imported, 1);
    fs::copy_file(tmp / "in" / "a2.txt", tmp / "copy.txt");
    EXPECT_EQ(importReports(*engine, dest, {tmp.file("copy.txt")}, optionsFor(1)).skipped, 1);
    EXPECT_EQ(count(), "7");
    EXPECT_EQ(RawDb(dest).scalar("SELECT group_concat(\"Record\") FROM ImportedReports"),
              "1,2,3,4,5,6,7");
    // Each batch leaves one entry in the trail, none for a run that imported nothing.
    EXPECT_EQ(RawDb(dest).scalar("SELECT group_concat(Note, '; ') FROM KrvAudit"
                                 " WHERE Operation = 'import'"),
              "5 reports in net mode; 1 reports in gross mode; 1 reports in net mode");

    // Missing paths are refused as such.
    auto missing =
        importReports(*engine, dest, {tmp.file("gone"), tmp.file("in/a1.txt")}, optionsFor(3));
    ASSERT_EQ(std::tuple(missing.imported, missing.refused.size()), std::tuple(1, 1u));
    EXPECT_TRUE(missing.refused[0].walkFailed);

    // A report that cannot be read is a failure of that file alone.
    fs::create_directories(tmp / "in" / "a15.txt");  // read as a file, it fails as I/O does
    ReportImporter importer(*engine, tmp.file("one.db"), optionsFor(1));
    ASSERT_TRUE(importer.open().ok());
    std::string reason;
    using R = ReportImporter::Result;
    for (const auto& [name, result] : {std::pair{"a1.txt", R::Imported},
                                       {"a15.txt", R::Failed},
                                       {"gone.txt", R::Failed},
                                       {"d-notes.txt", R::Refused},
                                       {"f.txt", R::Imported}})
        EXPECT_EQ(importer.add(tmp.file("in/") + name, reason), result) << name << ": " << reason;
    ASSERT_TRUE(importer.finish().ok());
    EXPECT_EQ(importer.committed(), 2);
}

// The watch under a clock the test moves: settle 3 s, settle-open 60 s.
class WatchBench {
  public:
    WatchBench()
        : watch_(
              *engine_, tmp.file("in"), tmp.file("r.db"), optionsFor(1),
              WatchOptions{std::chrono::seconds(3), std::chrono::seconds(60), {"*.lst"}},
              [this](const std::string& line) { log.push_back(line); }, [this] { return now_; }) {
        fs::create_directories(tmp / "in");
    }
    // Moves the clock on, then looks once.
    bool after(int ms) {
        now_ += std::chrono::milliseconds(ms);
        return watch_.poll();
    }
    std::int64_t imported() const { return watch_.imported(); }
    std::string ids() {
        return RawDb(tmp.file("r.db"))
            .scalar("SELECT group_concat(trim(\"ID Text\")) FROM SamData")
            .value_or("");
    }
    fs::path in(const std::string& name) const { return tmp / "in" / name; }

    TestFolder tmp;
    std::vector<std::string> log;

  private:
    std::unique_ptr<db::Engine> engine_ = db::makeEngine();
    std::chrono::steady_clock::time_point now_{};
    FolderWatch watch_;
};

const std::string kWatched =
    report("W1", block("CS-137", {row("661.66", "12,874", "11,902", "4.567E+01")}));

TEST(FolderWatch, AReportIsImportedOnceWholeHoweverItIsWritten) {
    const std::map<std::string, std::string> texts = {
        {"whole", kWatched},
        {"whole+blank", kWatched + " "},
        {"header", kWatched.substr(0, kWatched.find("CS-137"))},
        {"cut", kWatched.substr(0, kWatched.find("Analyst") - 4)}};
    std::unique_ptr<WatchBench> b;
    std::string current;
    for (const auto& c : caseTable("folder_watch.tsv", 7)) {
        SCOPED_TRACE(c.where("folder_watch.tsv"));
        if (c[0] != current) b = std::make_unique<WatchBench>();
        current = c[0];
        if (c[1] == "write") writeFile(b->in(c[2]), texts.at(c[3]));
        if (c[1] == "rename") fs::rename(b->in(c[2]), b->in(c[3]));
        EXPECT_TRUE(b->after(std::stoi(c[4])));
        EXPECT_EQ(b->imported(), std::stoi(c[5]));
        if (c[6] == "-") continue;
        if (b->imported()) {
            EXPECT_EQ(b->ids(), "W1");
        }
        const auto holds = [&](const std::string& l) { return l.find(c[6]) != std::string::npos; };
        EXPECT_TRUE(c[6].empty() || std::any_of(b->log.begin(), b->log.end(), holds))
            << ::testing::PrintToString(b->log);
    }
}

TEST(FolderWatch, AFolderThatVanishesIsWaitedFor) {
    WatchBench b;
    writeFile(b.in("w1.txt"), kWatched);
    EXPECT_TRUE(b.after(0));
    fs::rename(b.tmp / "in", b.tmp / "away");
    EXPECT_FALSE(b.after(3000));
    EXPECT_FALSE(b.after(3000));
    fs::rename(b.tmp / "away", b.tmp / "in");
    writeFile(b.in("junk.bin"), "\x01\x02");
    EXPECT_TRUE(b.after(0));
    EXPECT_TRUE(b.after(3000));
    EXPECT_EQ(b.imported(), 1);
    EXPECT_EQ(b.ids(), "W1");
    EXPECT_EQ(
        b.log,
        (std::vector<std::string>{
            "folder unavailable, waiting: " + b.tmp.file("in") + " (No such file or directory)",
            "folder available again: " + b.tmp.file("in"), "imported " + b.tmp.file("in/w1.txt"),
            "refused " + b.tmp.file("in/junk.bin") + ": not a results report (no \"ID:\" line)"}));
}

}  // namespace
}  // namespace krv::ingest
