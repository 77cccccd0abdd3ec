#pragma once

// One engine for every write path swept under strace: which system calls of a clean run
// touch the worker's folder, read from strace's log (-y, -o), then each of them failed in
// turn (-e inject=KIND:when=N) while the path judges what the faulted run said and left.

#include <gtest/gtest.h>

#include <QStandardPaths>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/job_folder.h"

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
        // With -f every line starts with the process id, padded to a width.
        static const std::regex pid("([0-9]+) +");
        if (std::smatch m;
            std::regex_search(line, m, pid, std::regex_constants::match_continuous)) {
            if (firstPid.empty()) firstPid = m[1];
            if (m[1] != firstPid) continue;
            line = m.suffix();
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

// `command` (the program first) as a job runs it, under strace with `straceArgs`, or
// untraced without any; the leak checker is off, as it cannot run under a tracer (the
// sanitizers' other checks can).
inline ProcessRun runTraced(const QStringList& straceArgs, const QStringList& command) {
    ProcessSetup setup;  // with no options of the user's, the sanitizers skip the first colon
    setup.environment = {{QStringLiteral("ASAN_OPTIONS"), qEnvironmentVariable("ASAN_OPTIONS") +
                                                              QStringLiteral(":detect_leaks=0")}};
    if (straceArgs.isEmpty()) return runJobProcess(command[0], command.mid(1), setup);
    return runJobProcess(straceProgram(), QStringList{"-qq"} + straceArgs + command, setup);
}

using Problems = std::vector<std::string>;

// One way a program writes its files, from one starting state. `prepare` lays that state
// out in a worker's folder (emptied but for the program and its settings) and gives the
// command line; `judge` lists what is wrong with what a faulted run said and left, and with
// the next clean run on it.
struct WritePath {
    std::string name;
    std::vector<const char*> kinds;  // the calls traced and failed
    std::size_t perKind;             // calls of one kind beyond this many are sampled evenly
    QStringList strace;              // {"-f"}: every thread of the program
    std::function<QStringList(const JobFolder&)> prepare;
    std::function<Problems(const JobFolder&, const QStringList&, const ProcessRun&)> judge;
};

struct Fault {
    const WritePath* path;
    std::string kind;
    int call;
    const char* error;
};

// Empties a worker's folder but for the program and its settings.
inline void emptyFolder(const JobFolder& folder) {
    for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
        const std::string name = entry.path().filename().string();
        if (name != "krvarchiver" && name != "ARC&FILE.DAT") std::filesystem::remove_all(entry);
    }
}

// For each path, the calls of its clean run that touch the folder (the program's start-up
// before them is not ours to test), at most `perKind` of a kind, evenly spread, the first
// and the last always among them, failing with EIO and ENOSPC in turn.
inline std::vector<Fault> planFaults(const std::vector<WritePath>& paths) {
    std::vector<Fault> faults;
    for (const WritePath& p : paths) {
        JobFolder probe;
        const std::string log = probe.path().string() + ".strace";
        QStringList names;
        for (const char* k : p.kinds) names << QString::fromLatin1(k);
        runTraced(p.strace + QStringList{"-y", "-o", QString::fromStdString(log), "-e",
                                         "trace=" + names.join(QLatin1Char(','))},
                  p.prepare(probe));
        for (const auto& [kind, all] : callsTouching(log, probe.path().string())) {
            const std::size_t n = all.size(), take = std::min(n, p.perKind);
            for (std::size_t k = 0; k < take; ++k)
                faults.push_back({&p, kind, all[take == 1 ? 0 : k * (n - 1) / (take - 1)],
                                  k % 2 ? "ENOSPC" : "EIO"});
        }
        std::remove(log.c_str());
    }
    return faults;
}

// Every kind of call a program makes on its files is met by a fault of the paths whose
// names start with `paths`.
inline void expectEveryKind(const std::vector<Fault>& faults, const std::string& paths,
                            std::initializer_list<const char*> kinds) {
    for (const char* kind : kinds)
        EXPECT_TRUE(std::ranges::any_of(
            faults,
            [&](const Fault& f) { return f.kind == kind && f.path->name.starts_with(paths); }))
            << paths << ": " << kind;
}

// The faults on two workers, each with a folder of its own, both made before either starts
// a program (a program copied into a folder cannot be started while another thread still
// holds it open). Each problem fails the test, named by its path and fault with the start
// of what the run said; printed: how many runs ended with each status.
inline void sweepFaults(const std::vector<Fault>& faults) {
    JobFolder folders[2];
    std::atomic<std::size_t> next{0};
    std::mutex lock;
    std::map<int, int> exits;
    const auto worker = [&](const JobFolder& folder) {
        for (std::size_t i; (i = next++) < faults.size();) {
            const Fault& f = faults[i];
            emptyFolder(folder);
            const QStringList command = f.path->prepare(folder);
            const std::string inject =
                "inject=" + f.kind + ":error=" + f.error + ":when=" + std::to_string(f.call);
            const ProcessRun run =
                runTraced(f.path->strace + QStringList{"-o", "/dev/null", "-e",
                                                       QString::fromStdString("trace=" + f.kind),
                                                       "-e", QString::fromStdString(inject)},
                          command);
            for (const auto& p : f.path->judge(folder, command, run))
                ADD_FAILURE() << f.path->name << ", " << inject << " (exit " << run.status
                              << "): " << p << "\n    " << run.err.substr(0, 300);
            std::lock_guard<std::mutex> guard(lock);
            ++exits[run.status];
        }
    };
    std::thread other(worker, std::cref(folders[1]));
    worker(folders[0]);
    other.join();
    std::printf("%zu faulted runs;", faults.size());
    for (const auto& [status, runs] : exits) std::printf(" exit %d: %d", status, runs);
    std::printf("\n");
}

}  // namespace krv::testing
