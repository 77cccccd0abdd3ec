#pragma once

// Imports each new report that appears in a folder, once its size has stopped changing:
// analysis setups write one report per count under its own name.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "legacy/report_import.h"

namespace krv::legacy {

class FolderWatch {
  public:
    // What the watch tells its user, one line at a time.
    using Log = std::function<void(const std::string& line)>;

    FolderWatch(db::Engine& engine, std::string folder, std::string destination,
                ReportImportOptions options, Log log);

    // One look at the folder: files whose size and time were the same at the previous
    // look are imported. Returns false while the folder is unavailable.
    bool poll();

    // Polls every `interval` until `keepGoing` says stop.
    void run(std::chrono::milliseconds interval, const std::function<bool()>& keepGoing);

    std::int64_t imported() const { return imported_; }

  private:
    struct Seen {
        std::uintmax_t size = 0;
        std::int64_t time = 0;
        bool done = false;  // imported, skipped or refused at this size and time
    };

    db::Engine& engine_;
    std::string folder_;
    std::string destination_;
    ReportImportOptions options_;
    Log log_;
    std::map<std::string, Seen> seen_;
    bool available_ = true;
    std::int64_t imported_ = 0;
};

}  // namespace krv::legacy
