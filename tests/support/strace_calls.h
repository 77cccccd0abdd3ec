#pragma once

// Programs under strace: which system calls of a traced run touch a folder, read from
// strace's log (-y, -o), as the numbers fault injection (-e inject=KIND:when=N) takes to
// fail exactly those calls.

#include <QProcessEnvironment>
#include <fstream>
#include <map>
#include <string>
#include <vector>

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

// The environment of a program traced as a job runs it: no display, and no leak checker,
// which cannot run under a tracer (the sanitizers' other checks can).
inline QProcessEnvironment tracedJobEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(v));
    const QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
    env.insert(
        QStringLiteral("ASAN_OPTIONS"),
        (asan.isEmpty() ? QString() : asan + QLatin1Char(':')) + QStringLiteral("detect_leaks=0"));
    return env;
}

}  // namespace krv::testing
