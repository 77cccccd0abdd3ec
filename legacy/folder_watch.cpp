#include "legacy/folder_watch.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace krv::legacy {

namespace fs = std::filesystem;

FolderWatch::FolderWatch(db::Engine& engine, std::string folder, std::string destination,
                         ReportImportOptions options, Log log)
    : engine_(engine),
      folder_(std::move(folder)),
      destination_(std::move(destination)),
      options_(options),
      log_(std::move(log)) {
    // Each report is committed as it comes: nobody waits for a batch to fill.
    options_.batchReports = 1;
}

bool FolderWatch::poll() {
    std::error_code ec;
    std::vector<std::string> ready;
    std::map<std::string, Seen> now;
    for (fs::directory_iterator it(platform::toPath(folder_), ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code fileEc;
        if (!it->is_regular_file(fileEc)) continue;
        const auto size = it->file_size(fileEc);
        const auto time = it->last_write_time(fileEc);
        if (fileEc) continue;  // gone between the listing and the look
        const std::string name = platform::fromPath(it->path());
        Seen s{size, static_cast<std::int64_t>(time.time_since_epoch().count()), false};
        const auto before = seen_.find(name);
        if (before != seen_.end() && before->second.size == s.size &&
            before->second.time == s.time) {
            s.done = before->second.done;
            if (!s.done) ready.push_back(name);
        }
        now.emplace(name, s);
    }
    if (ec) {
        // A share that drops out for a moment: keep what was seen and look again later.
        if (available_) log_("folder unavailable, waiting: " + folder_ + " (" + ec.message() + ")");
        available_ = false;
        return false;
    }
    if (!available_) log_("folder available again: " + folder_);
    available_ = true;
    seen_ = std::move(now);
    if (ready.empty()) return true;

    std::sort(ready.begin(), ready.end());
    ReportImporter importer(engine_, destination_, options_);
    const Status opened = importer.open();
    if (!opened.ok()) {
        log_("store unavailable, retrying: " + destination_ + " (" + opened.description + ")");
        return true;
    }
    for (const std::string& file : ready) {
        std::string reason;
        const auto result = importer.add(file, reason);
        if (!importer.storeFailure().ok()) break;
        seen_[file].done = true;
        if (result == ReportImporter::Result::Imported) {
            log_("imported " + file + (reason.empty() ? "" : ": " + reason));
        } else if (result == ReportImporter::Result::Skipped) {
            log_("skipped " + file + ": already imported");
        } else {
            log_("refused " + file + ": " + reason);
        }
    }
    const Status finished = importer.finish();
    imported_ += importer.committed();
    if (!finished.ok()) {
        log_("store failed, retrying: " + finished.description);
        // What was not committed is looked at again next time.
        for (const std::string& file : ready) seen_[file].done = false;
    }
    return true;
}

void FolderWatch::run(std::chrono::milliseconds interval, const std::function<bool()>& keepGoing) {
    while (keepGoing()) {
        poll();
        std::this_thread::sleep_for(interval);
    }
}

}  // namespace krv::legacy
