#pragma once

// The second executable's frame: subcommands, their option parsing, exit statuses and
// progress lines. Each subcommand lives in a file of its own and is listed once in
// subcommands.cpp.

#include <QCommandLineParser>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace krv::tool {

// Exit statuses job scripts rely on.
// kOutcomeUnknown: a commit failed and the store could not be asked afterwards whether it
// holds what was committed.
enum Exit : int { kDone = 0, kFailed = 1, kUsage = 2, kRejected = 3, kOutcomeUnknown = 4 };

// Where a subcommand writes. Tests pass string streams; the program passes the real ones.
struct Io {
    std::ostream& out;
    std::ostream& err;
    bool errIsTerminal = false;  // progress lines only when a person watches
};

struct Subcommand {
    std::string name;
    std::string summary;  // one line for `krvtool --help`
    // Gets the arguments after the subcommand's name.
    std::function<int(const QStringList& args, Io& io)> run;
    // Draws with the widget toolkit (charts), so the program starts it with a QApplication.
    bool needsWidgets = false;
};

// Every subcommand of the tool, in the order `--help` lists them.
const std::vector<Subcommand>& subcommands();

// The whole command line (argv[0] excluded) to an exit status.
int runTool(const QStringList& args, Io& io);

// One of a subcommand's options; with a value name it takes a value, with a default value it
// has one when not given.
QCommandLineOption option(const char* name, const char* description,
                          const char* valueName = nullptr, const char* defaultValue = nullptr);

// Parses a subcommand's options. Handles --help itself (prints the usage, returns kDone)
// and reports a parse error or a wrong number of positional arguments as one line
// (returns kUsage). Returns nothing when the subcommand should go on.
std::optional<int> parseOptions(QCommandLineParser& parser, const QString& subcommand,
                                const QStringList& args, Io& io, int minPositional,
                                int maxPositional);

// One line on standard error naming what failed and why: "krvtool: FILE: reason".
int fail(Io& io, const std::string& what, const std::string& reason, int status = kFailed);

// Count, rate and time left on one repainted line; silent unless errIsTerminal.
class Progress {
  public:
    Progress(Io& io, std::string noun, std::int64_t total);
    void step(std::int64_t done);
    void finish();

  private:
    Io& io_;
    std::string noun_;
    std::int64_t total_;
    std::chrono::steady_clock::time_point start_, lastShown_;
    bool shown_ = false;
};

}  // namespace krv::tool
