#pragma once

// Imports each new report that appears in a folder, once it is whole: analysis setups
// write one report per count under its own name, often over several seconds, sometimes
// under a temporary name renamed at the end.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ingest/report_import.h"

namespace krv::ingest {

struct WatchOptions {
    // How long a file's size and time must stay the same before it is read.
    std::chrono::milliseconds settle{3000};
    // How long a report whose isotope table is cut off must stay the same: its writer may
    // only be pausing inside the table.
    std::chrono::milliseconds settleOpen{60000};
    // Wildcard patterns of names never imported, beside the temporary names every watch
    // passes over (*.tmp, ~*, .*).
    std::vector<std::string> ignore;
};

// Whether the text ends inside an isotope table: a block begun and never closed by its
// empty line, as a report still being written does.
bool endsInsideTable(const std::string& bytes);

class FolderWatch {
  public:
    // What the watch tells its user, one line at a time.
    using Log = std::function<void(const std::string& line)>;
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    FolderWatch(db::Engine& engine, std::string folder, std::string destination,
                ReportImportOptions options, WatchOptions watch, Log log, Clock clock = {});

    // One look at the folder: files that have been the same for their settle time are
    // imported. Returns false while the folder is unavailable.
    bool poll();

    // Polls every `interval` until `keepGoing` says stop; a stop asked for while a report
    // is being imported takes effect once it is committed.
    void run(std::chrono::milliseconds interval, const std::function<bool()>& keepGoing);

    std::int64_t imported() const { return imported_; }

  private:
    struct Seen {
        std::uintmax_t size = 0;
        std::int64_t time = 0;
        std::chrono::steady_clock::time_point since;  // first seen at this size and time
        bool done = false;        // imported, skipped or refused at this size and time
        bool failLogged = false;  // a read failure at this size and time was logged
    };

    bool ignored(const std::string& name) const;
    // Lists the folder and collects the files that have settled; false while it is
    // unavailable.
    bool look(Clock::result_type now, std::vector<std::string>& settled);
    void importSettled(std::vector<std::string> settled, Clock::result_type now);
    // Marks the file done, or failed to be tried again, and logs one line on it.
    void recordOutcome(const std::string& file, ReportImporter::Result result,
                       const std::string& reason, bool cutOff, Seen& seen);
    bool stopping() const { return keepGoing_ && !keepGoing_(); }

    db::Engine& engine_;
    std::string folder_;
    std::string destination_;
    ReportImportOptions options_;
    WatchOptions watch_;
    Log log_;
    Clock clock_;
    std::function<bool()> keepGoing_;
    std::map<std::string, Seen> seen_;
    bool available_ = true;
    std::int64_t imported_ = 0;
};

}  // namespace krv::ingest
