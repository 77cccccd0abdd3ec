// A hostile machine for `krvtool export`: every call on the output's folder, in turn, fails
// with an I/O error or a full disk (injected by strace). Whatever fails, the earlier file
// stays as it was or the whole new export replaces it, the exit status and one line say
// which, the spreadsheet library prints nothing of its own, and the next clean run leaves
// nothing behind.

#include <gtest/gtest.h>

#include <QProcess>
#include <QStandardPaths>
#include <algorithm>
#include <atomic>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "tests/support/results_table.h"
#include "tests/support/strace_calls.h"
#include "tests/support/test_folder.h"

namespace krv::testing {
namespace {

namespace fs = std::filesystem;

const char* const kKinds[] = {"openat", "read",   "write", "lseek",     "fsync",
                              "rename", "unlink", "close", "newfstatat"};
// Calls of one kind beyond this many are sampled evenly, first and last included.
constexpr std::size_t kMaxPerKind = 24;
constexpr const char* kEarlier = "an earlier export\n";

struct ToolRun {
    int exitCode = -1;
    std::string stdErr;
};

ToolRun runTool(const QStringList& straceArgs, const QStringList& exportArgs) {
    QProcess p;
    p.setProcessEnvironment(tracedJobEnvironment());
    const QString tool = QStringLiteral(KRV_TOOL);
    if (straceArgs.isEmpty())
        p.start(tool, QStringList{"export"} + exportArgs);
    else
        p.start(QStringLiteral("strace"),
                QStringList{"-f", "-qq"} + straceArgs + QStringList{tool, "export"} + exportArgs);
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            p.readAllStandardError().toStdString()};
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
        const std::string log = out_.path().string() + ".strace";
        QStringList kinds;
        for (const char* k : kKinds) kinds << QString::fromLatin1(k);
        runTool({"-y", "-o", QString::fromStdString(log), "-e",
                 QStringLiteral("trace=") + kinds.join(QLatin1Char(','))},
                args());
        auto ours = callsTouching(log, out_.path().string());
        fs::remove(log);
        return ours;
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
    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    ASSERT_FALSE(strace.isEmpty()) << "strace is needed for this test (scripts/install-deps.sh)";

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
        const ToolRun clean = runTool({}, bench.args());
        ASSERT_EQ(clean.exitCode, 0) << clean.stdErr;
        reference[format] = readFile(bench.target());
        for (const auto& [kind, calls] : bench.callsOfOurs()) {
            const std::size_t take = std::min(calls.size(), kMaxPerKind);
            for (std::size_t k = 0; k < take; ++k) {
                const std::size_t at = take == 1 ? 0 : k * (calls.size() - 1) / (take - 1);
                faults.push_back({format, kind, calls[at], k % 2 ? "ENOSPC" : "EIO"});
            }
        }
    }
    for (const char* kind : {"openat", "write", "read", "fsync", "rename", "unlink"})
        EXPECT_TRUE(std::any_of(faults.begin(), faults.end(), [&](const Fault& f) {
            return f.format == "xlsx" && f.kind == kind;
        })) << kind;

    // A written spreadsheet is judged by its sheet: the workbook's other parts carry the
    // time it was made.
    TestFolder written;
    std::atomic<std::size_t> next{0}, sheets{0};
    std::mutex lock;
    std::vector<std::string> report;
    std::map<int, int> exits;
    const auto worker = [&] {
        std::map<std::string, std::unique_ptr<Bench>> benches;
        for (std::size_t i; (i = next++) < faults.size();) {
            const Fault& f = faults[i];
            auto& bench = benches[f.format];
            if (!bench) bench = std::make_unique<Bench>(db, f.format);
            bench->prepare();
            const QString kind = QString::fromStdString(f.kind);
            const ToolRun run =
                runTool({"-o", "/dev/null", "-e", QStringLiteral("trace=") + kind, "-e",
                         QStringLiteral("inject=%1:error=%2:when=%3")
                             .arg(kind, QString::fromLatin1(f.error))
                             .arg(f.call)},
                        bench->args());
            std::vector<std::string> problems;
            const std::string now = readFile(bench->target());
            const auto lines = std::count(run.stdErr.begin(), run.stdErr.end(), '\n');
            if (run.exitCode == 0) {
                if (!run.stdErr.empty()) problems.push_back("exit 0 with: " + run.stdErr);
                if (f.format == "csv" && now != reference["csv"])
                    problems.push_back("exit 0, yet the file is not the whole export");
                if (f.format == "xlsx")
                    fs::copy_file(bench->target(),
                                  written.file(std::to_string(sheets++) + ".xlsx"));
            } else if (run.exitCode == 1) {
                if (lines != 1 || run.stdErr.rfind("krvtool: ", 0) != 0)
                    problems.push_back("exit 1 without exactly one line of ours");
                // Only a failure after the rename (syncing the folder) leaves the new file.
                if (now != kEarlier && f.format == "csv" && now != reference["csv"])
                    problems.push_back("exit 1, and the earlier file was changed");
                if (now != kEarlier && f.format == "xlsx")
                    fs::copy_file(bench->target(),
                                  written.file(std::to_string(sheets++) + ".xlsx"));
            } else {
                problems.push_back("exit status " + std::to_string(run.exitCode));
            }
            // The next clean run finishes the job and leaves nothing else behind.
            const ToolRun again = runTool({}, bench->args());
            if (again.exitCode != 0)
                problems.push_back("the next clean run failed: " + again.stdErr);
            if (bench->names() !=
                std::vector<std::string>{fs::path(bench->target()).filename().string()})
                problems.push_back("left behind after the next run: " +
                                   std::to_string(bench->names().size() - 1) + " files");
            std::lock_guard<std::mutex> guard(lock);
            ++exits[run.exitCode];
            for (const auto& p : problems)
                report.push_back(f.format + ", " + f.kind + " call " + std::to_string(f.call) +
                                 " " + f.error + ": " + p + "\n    " + run.stdErr.substr(0, 300));
        }
    };
    std::thread other(worker);
    worker();
    other.join();

    // Every spreadsheet an exit 0 left holds the same sheet as the clean run's.
    const std::string cleanSheet = written.file("clean.xlsx");
    std::ofstream(cleanSheet, std::ios::binary) << reference["xlsx"];
    QStringList args{
        "-c",
        "import sys, zipfile, openpyxl\n"
        "sheet = lambda p: zipfile.ZipFile(p).read('xl/worksheets/sheet1.xml')\n"
        "want = sheet(sys.argv[1])\n"
        "for p in sys.argv[2:]:\n"
        "    rows = sum(1 for r in openpyxl.load_workbook(p).worksheets[0].iter_rows())\n"
        "    if sheet(p) != want or rows != 401: print(p, 'differs')\n",
        QString::fromStdString(cleanSheet)};
    for (std::size_t i = 0; i < sheets; ++i)
        args << QString::fromStdString(written.file(std::to_string(i) + ".xlsx"));
    QProcess py;
    py.start(QStringLiteral("/usr/bin/python3"), args);
    ASSERT_TRUE(py.waitForFinished(600000));
    const int code = py.exitCode();
    EXPECT_EQ(code, 0) << py.readAllStandardError().toStdString();
    EXPECT_EQ(py.readAllStandardOutput().toStdString(), "");

    std::string all;
    for (const auto& line : report) all += line + "\n";
    EXPECT_TRUE(report.empty()) << report.size() << " problems in " << faults.size()
                                << " faulted runs:\n"
                                << all;
    std::ostringstream summary;
    for (const auto& [e, n] : exits) summary << " exit " << e << ": " << n;
    std::cout << faults.size() << " faulted runs," << summary.str() << ", " << sheets
              << " spreadsheets read back\n";
    EXPECT_GT(exits[1], 0);
}

}  // namespace
}  // namespace krv::testing
