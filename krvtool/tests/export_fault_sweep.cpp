// A hostile machine for `krvtool export`: every call on the output's folder, in turn, fails
// with an I/O error or a full disk (injected by strace). Whatever fails, the earlier file
// stays as it was or the whole new export replaces it, the exit status and one line say
// which, the spreadsheet library prints nothing of its own, and the next clean run leaves
// nothing behind.

#include <gtest/gtest.h>

#include <QProcess>
#include <algorithm>
#include <atomic>
#include <fstream>
#include <map>

#include "tests/support/results_table.h"
#include "tests/support/strace_calls.h"
#include "tests/support/test_folder.h"

namespace krv::testing {
namespace {

namespace fs = std::filesystem;

const std::vector<const char*> kKinds = {"openat", "read",   "write", "lseek",     "fsync",
                                         "rename", "unlink", "close", "newfstatat"};
// Calls of one kind beyond this many are sampled evenly, first and last included.
constexpr std::size_t kMaxPerKind = 24;
constexpr const char* kEarlier = "an earlier export\n";

// `krvtool export` with these arguments, under strace with `straceArgs` (every thread of it)
// or untraced without any.
ProcessRun runExport(const QStringList& straceArgs, const QStringList& exportArgs) {
    return runTraced(straceArgs.isEmpty() ? straceArgs : QStringList{"-f"} + straceArgs,
                     QStringLiteral(KRV_TOOL), QStringList{"export"} + exportArgs);
}

// One output folder per worker, holding only the earlier export before each run.
class Bench {
  public:
    Bench(std::string db, std::string format) : db_(std::move(db)), format_(std::move(format)) {}

    void prepare() {
        for (const auto& entry : fs::directory_iterator(out_.path())) fs::remove_all(entry.path());
        writeFile(target(), kEarlier);
    }
    std::string target() const { return out_.file(format_ == "xlsx" ? "out.xlsx" : "out.csv"); }
    QStringList args() const {
        return {QString::fromStdString(db_), "--format", QString::fromStdString(format_),
                "--output", QString::fromStdString(target())};
    }
    std::vector<std::string> names() const {
        std::vector<std::string> n;
        for (const auto& entry : fs::directory_iterator(out_.path()))
            n.push_back(entry.path().filename().string());
        return n;
    }

    // For each kind, the numbers of the main thread's calls that touch the output's folder.
    std::map<std::string, std::vector<int>> callsOfOurs() {
        prepare();
        return callsOfRun(kKinds, out_.path().string(), QStringLiteral(KRV_TOOL),
                          QStringList{"export"} + args(), {"-f"});
    }

  private:
    std::string db_, format_;
    TestFolder out_;
};

struct Fault {
    std::string format, kind;
    int call;
    const char* error;
};

TEST(ExportFaultSweep, EveryFailingCallLeavesTheOldFileOrTheWholeNewOne) {
    ASSERT_FALSE(straceProgram().isEmpty());

    // 400 records of 20 lines: a sheet of several of the library's buffers.
    TestFolder store;
    const std::string db = store.file("results.db");
    std::vector<std::string> isotopes;
    for (int i = 1; i <= 20; ++i) isotopes.push_back("CO-" + std::to_string(i) + "@NET1");
    std::vector<db::Value> record = {db::Value(1.0), db::Value("S.CNF"), db::Value("S-1"),
                                     db::Value("5/14/02  09:31:05")};
    record.resize(7 + isotopes.size(), db::Value("1234,5"));
    auto engine = db::makeEngine();
    ASSERT_TRUE(buildResultsDb(*engine, db, isotopes, {record}).ok());
    repeatFirstRecord(db, 400, "S-");

    std::map<std::string, std::string> reference;
    std::vector<Fault> faults;
    for (const std::string format : {"csv", "xlsx"}) {
        Bench bench(db, format);
        bench.prepare();
        const ProcessRun clean = runExport({}, bench.args());
        ASSERT_EQ(clean.status, 0) << clean.err;
        reference[format] = readFile(bench.target());
        sampleCalls(bench.callsOfOurs(), kMaxPerKind, faults,
                    [&](const std::string& kind, int call, const char* error) {
                        return Fault{format, kind, call, error};
                    });
    }
    expectEveryKind(faults, {"openat", "write", "read", "fsync", "rename", "unlink"},
                    [](const Fault& f) { return f.format == "xlsx"; });

    // A written spreadsheet is judged by its sheet: the workbook's other parts carry the
    // time it was made.
    TestFolder written;
    std::atomic<std::size_t> sheets{0};
    using Benches = std::map<std::string, std::unique_ptr<Bench>>;
    const auto exits = sweepFaults<Benches>(
        faults.size(), "faulted runs", [&](Benches& benches, std::size_t i, int& exit) {
            const Fault& f = faults[i];
            auto& bench = benches[f.format];
            if (!bench) bench = std::make_unique<Bench>(db, f.format);
            bench->prepare();
            const ProcessRun run = runExport(injecting(f.kind, f.call, f.error), bench->args());
            exit = run.status;
            std::vector<std::string> problems;
            const std::string now = readFile(bench->target());
            const auto lines = std::count(run.err.begin(), run.err.end(), '\n');
            if (run.status == 0 && !run.err.empty()) problems.push_back("exit 0 with: " + run.err);
            if (run.status == 1 && (lines != 1 || run.err.rfind("krvtool: ", 0) != 0))
                problems.push_back("exit 1 without exactly one line of ours");
            if (run.status != 0 && run.status != 1)
                problems.push_back("exit status " + std::to_string(run.status));
            // Only a failure after the rename (syncing the folder) leaves the new file.
            const bool replaced = run.status == 0 || (run.status == 1 && now != kEarlier);
            if (replaced && f.format == "csv" && now != reference.at("csv"))
                problems.push_back(run.status == 0 ? "exit 0, yet the file is not the whole export"
                                                   : "exit 1, and the earlier file was changed");
            if (replaced && f.format == "xlsx")
                fs::copy_file(bench->target(), written.file(std::to_string(sheets++) + ".xlsx"));
            // The next clean run finishes the job and leaves nothing else behind.
            const ProcessRun again = runExport({}, bench->args());
            if (again.status != 0) problems.push_back("the next clean run failed: " + again.err);
            if (bench->names() !=
                std::vector<std::string>{fs::path(bench->target()).filename().string()})
                problems.push_back("left behind after the next run: " +
                                   std::to_string(bench->names().size() - 1) + " files");
            for (auto& p : problems)
                p = f.format + ", " + f.kind + " call " + std::to_string(f.call) + " " + f.error +
                    ": " + p + "\n    " + run.err.substr(0, 300);
            return problems;
        });

    // Every spreadsheet an exit 0 left holds the same sheet as the clean run's.
    const std::string cleanSheet = written.file("clean.xlsx");
    std::ofstream(cleanSheet, std::ios::binary) << reference["xlsx"];
    QStringList args{KRV_READ_BACK, "sheets", "401", QString::fromStdString(cleanSheet)};
    for (std::size_t i = 0; i < sheets; ++i)
        args << QString::fromStdString(written.file(std::to_string(i) + ".xlsx"));
    const ProcessRun py = runJobProcess(QStringLiteral("/usr/bin/python3"), args);
    EXPECT_EQ(py.status, 0) << py.err;
    EXPECT_EQ(py.out, "");

    std::cout << sheets << " spreadsheets read back\n";
    EXPECT_GT(exits.count(1), 0u);
}

}  // namespace
}  // namespace krv::testing
