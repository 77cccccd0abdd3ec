// Several counting stations appending into one archive at once, each the way a job script
// runs the program after a count, while a viewer reads the table: on a file and on a
// server alike.

#include <gtest/gtest.h>

#include <QProcess>
#include <atomic>
#include <chrono>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "results_db/archive.h"
#include "tests/support/job_folder.h"
#include "tests/support/store_kind.h"
#include "viewer/results_model.h"

namespace krv::testing {
namespace {

constexpr int kStations = 8;
constexpr int kAppendsEach = 25;

// Station s's report for its run n: CO-60 as every station counts it, a nuclide only this
// run sees (a new column), and one that all stations see in their run n (the stations
// race to add the same column).
std::string stationReport(int s, int n) {
    const std::string run = std::to_string(n);
    Lines more = block("S" + std::to_string(s) + "-" + run, {row("   100.0", "20", run, "1.0")});
    append(more, block("Z-" + run, {row("   200.0", "30", std::to_string(s), "1.0")}));
    return cobaltReport("STATION-" + std::to_string(s) + " RUN-" + run, more);
}

// The settings record keeps 72 characters, so a server's socket folder comes from the
// environment, as a lab's would come from its service file.
void reachServerAt(const std::string& socketFolder) {
    qputenv("PGHOST", QByteArray::fromStdString(socketFolder));
    qputenv("PGUSER", "postgres");
}

class Stations : public ::testing::TestWithParam<Kind> {};
INSTANTIATE_TEST_SUITE_P(BothStores, Stations, bothStores(), kindName);

TEST_P(Stations, ManyStationsAppendAtOnceAndEveryRecordIsStoredOnce) {
    // On a file, the first appends start on a missing file: every job tries to create it.
    TestFolder folder;
    std::string archive = folder.file("Results.mdb"), typed = archive;
    if (GetParam() == Kind::Server) {
        ASSERT_TRUE(newServerDatabase(archive));
        reachServerAt(sharedPgServer().socketFolder());
        typed = archive.substr(0, archive.find('?'));
    }
    Raw raw(GetParam(), archive);
    std::vector<JobFolder> folders(kStations);
    for (JobFolder& f : folders) f.usePaths(typed, f.file("RESULTS.TXT"));
    std::vector<std::thread> stations;
    std::atomic<int> finished{0};
    for (int s = 0; s < kStations; ++s) {
        stations.emplace_back([&, s] {
            for (int n = 1; n <= kAppendsEach; ++n) {
                folders[s].writeReport(stationReport(s, n));
                const JobRun r = folders[s].run({"NET"});
                EXPECT_EQ(r.exitCode, 0) << "station " << s << ": " << r.stdErr;
            }
            ++finished;
        });
    }
    // Meanwhile a viewer's model, bound once as the window binds it, re-reads the record
    // list and the newest record's page over and over.
    ResultsModel model;
    int reads = 0, failedReads = 0;
    while (finished < kStations) {
        if (!model.isBound()) {
            Status st;
            auto database = db::makeEngine()->openDatabase(archive, st);
            if (!database || !model.bind(std::move(database), kTableName).ok()) continue;
        }
        const bool listed = model.refresh().ok();
        const int last = model.rowCount() - 1;
        if (listed && last < 0) continue;  // the table is made, its first record not yet
        const bool read = listed && !model.index(last, 2).data().toString().isEmpty();
        ++(read ? reads : failedReads);
    }
    for (auto& t : stations) t.join();

    EXPECT_GT(reads, 0);
    EXPECT_EQ(failedReads, 0);

    const int total = kStations * kAppendsEach;
    EXPECT_EQ(raw.scalar("SELECT count(*) FROM \"SamData\""), std::to_string(total));
    EXPECT_EQ(raw.scalar("SELECT count(DISTINCT \"idxRec#\") || ' ' || min(\"idxRec#\") || ' ' ||"
                         " max(\"idxRec#\") FROM \"SamData\""),
              std::to_string(total) + " 1 " + std::to_string(total));
    // Every run's record once, carrying its own value and the shared columns' values.
    for (int s = 0; s < kStations; ++s)
        for (int n = 1; n <= kAppendsEach; ++n) {
            const std::string sn = std::to_string(s), nn = std::to_string(n);
            EXPECT_EQ(raw.query("SELECT \"S" + sn + "-" + nn + "@NET1\" || '/' || \"Z-" + nn +
                                "@NET1\" || '/' || \"CO-60@NET2\" FROM \"SamData\""
                                " WHERE \"ID Text\" LIKE '%STATION-" +
                                sn + " RUN-" + nn + " %'"),
                      (Rows{{nn + "/" + sn + "/900"}}))
                << "station " << s << " run " << n;
        }
    // One column per name: 7 fixed, CO-60's two, each run's own, each shared one.
    std::set<std::string> names;
    const std::vector<std::string> columns = raw.columns();
    for (const std::string& c : columns)
        names.insert(QString::fromStdString(c.substr(0, c.rfind(' '))).toLower().toStdString());
    EXPECT_EQ(columns.size(), static_cast<std::size_t>(9 + total + kAppendsEach));
    EXPECT_EQ(names.size(), columns.size());
    if (GetParam() == Kind::File) {
        EXPECT_EQ(raw.scalar("PRAGMA integrity_check"), "ok");
    }
}

// A server of its own, durable (it is stopped under appends: commits must be on disk by
// then), and a station whose settings name a database on it. First the server goes down
// while an append waits for a lock; then it is stopped at any moment of an append: a run
// that says nothing was saved (1) never saved its record, one that says it was saved (0)
// saved it once, and one that cannot tell (4) says so; every failure is one line saying the
// server cannot be reached or was lost.
TEST(OwnServer, ServerGoingAwayMidAppendLeavesNothingHalfWrittenNorAStoredRecordUnsaid) {
    PgServer own{true};
    ASSERT_TRUE(own.running()) << own.error();
    const std::string archive = own.newDatabase();
    reachServerAt(own.socketFolder());
    JobFolder job;
    job.usePaths(archive.substr(0, archive.find('?')), job.file("RESULTS.TXT"));
    job.writeReport(stationReport(1, 1));
    const auto began = std::chrono::steady_clock::now();
    ASSERT_EQ(job.run({"NET"}).exitCode, 0);
    const auto runTime = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - began);

    // A reader inside a long transaction holds the table, so the next append's new
    // columns wait; the server goes down while they do.
    {
        std::unique_ptr<PGconn, decltype(&PQfinish)> reader(PQconnectdb(archive.c_str()), PQfinish);
        PQclear(PQexec(reader.get(), "BEGIN; SELECT count(*) FROM \"SamData\""));
        job.writeReport(stationReport(1, 2));
        QProcess p;
        job.start(p, {"NET"});
        const std::string lockWaits =
            "SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock'";
        for (int i = 0; i < 1000 && PgServer::query(archive, lockWaits) == Rows{{"0"}}; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_NE(PgServer::query(archive, lockWaits), (Rows{{"0"}}));
        own.stop();
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 1);
        const std::string err = p.readAllStandardError().toStdString();
        EXPECT_NE(err.find("record not saved: Database engine error: "), std::string::npos) << err;
    }
    ASSERT_TRUE(own.start()) << own.error();
    EXPECT_EQ(PgServer::query(archive,
                              "SELECT count(*) || ' ' || (SELECT count(*) FROM "
                              "pg_attribute WHERE attrelid = '\"SamData\"'::regclass"
                              " AND attnum > 0) FROM \"SamData\""),
              (Rows{{"1 12"}}));  // one record; 7 fixed, 4 from the first run, the identity

    std::mt19937 rng(1205);
    std::map<int, int> exits;
    for (int n = 1; n <= 8; ++n) {
        job.writeReport(stationReport(2, n));
        QProcess p;
        job.start(p, {"NET"});
        std::this_thread::sleep_for(std::chrono::microseconds(
            std::uniform_int_distribution<long>(0, 2 * runTime.count())(rng)));
        own.stop();
        ASSERT_TRUE(p.waitForFinished(60000));
        ASSERT_TRUE(own.start()) << own.error();
        const int e = p.exitCode();
        ++exits[e];
        const std::string err = p.readAllStandardError().toStdString();
        const std::string stored =
            PgServer::query(archive,
                            "SELECT count(*) FROM \"SamData\" WHERE \"ID Text\" LIKE "
                            "'%STATION-2 RUN-" +
                                std::to_string(n) + " %'")[0][0]
                .value_or("?");
        SCOPED_TRACE(std::to_string(n) + ": exit " + std::to_string(e) + ", " + err);
        EXPECT_TRUE((e == 0 && stored == "1") || (e == 1 && stored == "0") ||
                    (e == 4 && (stored == "0" || stored == "1")))
            << stored << " stored";
        EXPECT_EQ(reasonLines(err).size(), e == 0 ? 0u : 1u);
    }
    for (const auto& [status, runs] : exits) RecordProperty("exit " + std::to_string(status), runs);
}

}  // namespace
}  // namespace krv::testing
