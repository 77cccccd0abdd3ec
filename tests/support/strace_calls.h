#pragma once

// Programs under strace: which system calls of a traced run touch a folder, read from
// strace's log (-y, -o), as the numbers fault injection (-e inject=KIND:when=N) takes to
// fail exactly those calls.

#include <gtest/gtest.h>

#include <QStandardPaths>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/process_run.h"

namespace krv::testing {

// For each kind of call, the numbers (1-based, among the first process's calls of that
// kind, as strace counts them per process) of those whose line names a path under
// `folder`. Lines of other processes and threads (-f) are left out.
inline std::map<std::string, std::vector<int>> callsTouching(const std::string& log,
                                                             const std::string& folder) {
    std::map<std::string, int> seen;
    std::map<std::string, std::vector<int>> ours;
    std::ifstream in(log);
    std::string firstPid;
    for (std::string line; std::getline(in, line);) {
        // With -f every line starts with the process id.
        const auto blank = line.find(' ');
        if (blank != std::string::npos && blank > 0 &&
            line.find_first_not_of("0123456789") == blank) {
            const std::string pid = line.substr(0, blank);
            if (firstPid.empty()) firstPid = pid;
            if (pid != firstPid) continue;
            // The id is padded to a width: the call starts after the blanks.
            line.erase(0, line.find_first_not_of(' ', blank));
        }
        const std::size_t paren = line.find('(');
        if (paren == std::string::npos || line.rfind("<...", 0) == 0) continue;
        const std::string kind = line.substr(0, paren);
        const int n = ++seen[kind];
        // The working folder decorates every relative call; only named paths count.
        for (std::size_t at; (at = line.find("AT_FDCWD<")) != std::string::npos;)
            line.erase(at, line.find('>', at) - at + 1);
        if (line.find(folder) != std::string::npos) ours[kind].push_back(n);
    }
    return ours;
}

// strace itself; a sweep fails, not skips, without it.
inline QString straceProgram() {
    const QString found = QStandardPaths::findExecutable(QStringLiteral("strace"));
    EXPECT_FALSE(found.isEmpty()) << "strace is needed for this test (scripts/install-deps.sh)";
    return found;
}

// `program` as a job runs it, under strace with `straceArgs`, or untraced without any; the
// leak checker is off, as it cannot run under a tracer (the sanitizers' other checks can).
inline ProcessRun runTraced(const QStringList& straceArgs, const QString& program,
                            const QStringList& args) {
    const QString asan = qEnvironmentVariable("ASAN_OPTIONS");
    ProcessSetup setup;
    setup.environment = {
        {QStringLiteral("ASAN_OPTIONS"), (asan.isEmpty() ? QString() : asan + QLatin1Char(':')) +
                                             QStringLiteral("detect_leaks=0")}};
    if (straceArgs.isEmpty()) return runJobProcess(program, args, setup);
    return runJobProcess(straceProgram(),
                         QStringList{"-qq"} + straceArgs + QStringList{program} + args, setup);
}

// For each kind, the numbers of one traced run's calls that touch `folder` (the program's
// start-up before them is not ours to test); `straceArgs` adds options such as -f.
inline std::map<std::string, std::vector<int>> callsOfRun(const std::vector<const char*>& kinds,
                                                          const std::string& folder,
                                                          const QString& program,
                                                          const QStringList& args,
                                                          QStringList straceArgs = {}) {
    const std::string log = folder + ".strace";
    QStringList names;
    for (const char* k : kinds) names << QString::fromLatin1(k);
    straceArgs << "-y"
               << "-o" << QString::fromStdString(log) << "-e"
               << QStringLiteral("trace=") + names.join(QLatin1Char(','));
    runTraced(straceArgs, program, args);
    auto ours = callsTouching(log, folder);
    std::remove(log.c_str());
    return ours;
}

// One fault for each sampled call of each kind: at most `perKind` of a kind, evenly spread,
// the first and the last always among them, failing with EIO and ENOSPC in turn.
template <typename Fault, typename Make>
void sampleCalls(const std::map<std::string, std::vector<int>>& calls, std::size_t perKind,
                 std::vector<Fault>& faults, Make make) {
    for (const auto& [kind, all] : calls) {
        const std::size_t n = all.size(), take = std::min(n, perKind);
        for (std::size_t k = 0; k < take; ++k) {
            const std::size_t at = take == 1 ? 0 : k * (n - 1) / (take - 1);
            faults.push_back(make(kind, all[at], k % 2 ? "ENOSPC" : "EIO"));
        }
    }
}

// Every kind of call the program makes on its files is met by at least one fault.
template <typename Fault, typename Which = bool (*)(const Fault&)>
void expectEveryKind(
    const std::vector<Fault>& faults, std::initializer_list<const char*> kinds,
    Which which = [](const Fault&) { return true; }) {
    for (const char* kind : kinds)
        EXPECT_TRUE(std::any_of(faults.begin(), faults.end(), [&](const Fault& f) {
            return f.kind == kind && which(f);
        })) << kind;
}

// strace's options that fail call number `call` of `kind` with `error`, tracing no other.
inline QStringList injecting(const std::string& kind, int call, const char* error) {
    const QString k = QString::fromStdString(kind);
    return {
        "-o",
        "/dev/null",
        "-e",
        QStringLiteral("trace=") + k,
        "-e",
        QStringLiteral("inject=%1:error=%2:when=%3").arg(k, QString::fromLatin1(error)).arg(call)};
}

// The `count` faults of a sweep on two workers, each with a `State` of its own, both made
// before either starts a program (a program copied into a folder cannot be started while
// another thread still holds it open). `one(state, i, exit)` runs fault i, sets the run's
// exit status and returns the problems found, each naming its fault. All problems fail
// the test together; returned: how many runs ended with each exit status.
template <typename State, typename One>
std::map<int, int> sweepFaults(std::size_t count, const char* what, One one) {
    State states[2];
    std::atomic<std::size_t> next{0};
    std::mutex lock;
    std::vector<std::string> report;
    std::map<int, int> exits;
    const auto worker = [&](State& state) {
        for (std::size_t i; (i = next++) < count;) {
            int exit = -1;
            const std::vector<std::string> problems = one(state, i, exit);
            std::lock_guard<std::mutex> guard(lock);
            ++exits[exit];
            report.insert(report.end(), problems.begin(), problems.end());
        }
    };
    std::thread other(worker, std::ref(states[1]));
    worker(states[0]);
    other.join();
    std::string all;
    for (const auto& line : report) all += line + "\n";
    EXPECT_TRUE(report.empty()) << report.size() << " problems in " << count << " " << what << ":\n"
                                << all;
    std::printf("%zu %s;", count, what);
    for (const auto& [status, runs] : exits) std::printf(" exit %d: %d", status, runs);
    std::printf("\n");
    return exits;
}

}  // namespace krv::testing
