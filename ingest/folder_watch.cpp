#include "ingest/folder_watch.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/runs.h"

namespace krv::ingest {

namespace fs = std::filesystem;

namespace {

// Names the writers of reports use while a file is not finished yet.
const char* const kTemporaryNames[] = {"*.tmp", "~*", ".*"};

std::string lowered(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string seconds(std::chrono::milliseconds ms) {
    const auto whole = ms.count() / 1000, tenths = ms.count() % 1000 / 100;
    return std::to_string(whole) + (tenths ? "." + std::to_string(tenths) : "") + " s";
}

}  // namespace

bool endsInsideTable(const std::string& bytes) {
    // The reader starts a block at any line holding "Activity ="; the block ends at its
    // first empty line.
    const std::size_t block = bytes.rfind("Activity =");
    if (block == std::string::npos) return false;
    const std::size_t lineEnd = bytes.find('\n', block);
    if (lineEnd == std::string::npos) return true;
    for (std::size_t at = lineEnd; at != std::string::npos; at = bytes.find('\n', at + 1)) {
        std::size_t next = at + 1;
        if (next < bytes.size() && bytes[next] == '\r') ++next;
        if (next < bytes.size() && bytes[next] == '\n') return false;
    }
    return true;
}

FolderWatch::FolderWatch(db::Engine& engine, std::string folder, std::string destination,
                         ReportImportOptions options, WatchOptions watch, Log log, Clock clock)
    : engine_(engine),
      folder_(std::move(folder)),
      destination_(std::move(destination)),
      options_(options),
      watch_(std::move(watch)),
      log_(std::move(log)),
      clock_(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); })) {
    // Each report is committed as it comes: nobody waits for a batch to fill.
    options_.batchReports = 1;
    for (std::string& pattern : watch_.ignore) pattern = lowered(pattern);
    for (const char* pattern : kTemporaryNames) watch_.ignore.emplace_back(pattern);
}

bool FolderWatch::ignored(const std::string& name) const {
    const std::string lower = lowered(name);
    return std::any_of(watch_.ignore.begin(), watch_.ignore.end(),
                       [&](const std::string& p) { return platform::wildcardMatch(p, lower); });
}

bool FolderWatch::poll() {
    const auto now = clock_();
    std::vector<std::string> settled;
    if (!look(now, settled)) return false;
    if (!settled.empty()) importSettled(settled, now);
    return true;
}

bool FolderWatch::look(Clock::result_type now, std::vector<std::string>& settled) {
    std::error_code ec;
    std::map<std::string, Seen> looked;
    for (fs::directory_iterator it(platform::toPath(folder_), ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code fileEc;
        if (!it->is_regular_file(fileEc)) continue;
        if (ignored(platform::fromPath(it->path().filename()))) continue;
        const auto size = it->file_size(fileEc);
        const auto time = it->last_write_time(fileEc);
        if (fileEc) continue;  // gone between the listing and the look
        const std::string name = platform::fromPath(it->path());
        Seen s{size, static_cast<std::int64_t>(time.time_since_epoch().count()), now};
        const auto before = seen_.find(name);
        if (before != seen_.end() && before->second.size == s.size && before->second.time == s.time)
            s = before->second;
        if (!s.done && now - s.since >= watch_.settle) settled.push_back(name);
        looked.emplace(name, s);
    }
    if (ec) {
        // A share that drops out for a moment: keep what was seen and look again later.
        if (available_) log_("folder unavailable, waiting: " + folder_ + " (" + ec.message() + ")");
        available_ = false;
        return false;
    }
    if (!available_) log_("folder available again: " + folder_);
    available_ = true;
    seen_ = std::move(looked);
    return true;
}

void FolderWatch::importSettled(std::vector<std::string> settled, Clock::result_type now) {
    std::sort(settled.begin(), settled.end());
    std::unique_ptr<ReportImporter> importer;
    std::vector<std::string> attempted;
    for (const std::string& file : settled) {
        if (stopping()) break;
        Seen& seen = seen_[file];
        // A writer that keeps the file open may only be pausing.
        if (platform::openForWritingElsewhere(platform::toPath(file))) continue;
        std::string bytes, reason;
        std::error_code readError;
        const platform::FileRead read =
            platform::readSmallFile(platform::toPath(file), kMaxReportBytes, bytes, readError);
        if (read == platform::FileRead::Failed) {
            // Logged once per version of the file, and tried again at every look.
            if (!seen.failLogged)
                log_("could not read " + file + ", trying again: " + readError.message());
            seen.failLogged = true;
            continue;
        }
        const bool cutOff = read == platform::FileRead::Whole && endsInsideTable(bytes);
        if (cutOff && now - seen.since < watch_.settleOpen) continue;
        if (!importer) {
            importer = std::make_unique<ReportImporter>(engine_, destination_, options_);
            const Status opened = importer->open();
            if (!opened.ok()) {
                log_("store unavailable, retrying: " + destination_ + " (" + opened.description +
                     ")");
                return;
            }
        }
        ReportImporter::Result result = ReportImporter::Result::Refused;
        if (read == platform::FileRead::TooLarge) {
            reason = "too large to be a report";
        } else {
            result = importer->addBytes(file, bytes, reason);
        }
        if (!importer->storeFailure().ok()) break;
        attempted.push_back(file);
        recordOutcome(file, result, reason, cutOff, seen);
    }
    if (!importer) return;
    const Status finished = importer->finish();
    imported_ += importer->committed();
    if (!finished.ok()) {
        log_("store failed, retrying: " + finished.description);
        // What was not committed is looked at again next time; the ledger skips the rest.
        for (const std::string& file : attempted) seen_[file].done = false;
    }
}

void FolderWatch::recordOutcome(const std::string& file, ReportImporter::Result result,
                                const std::string& reason, bool cutOff, Seen& seen) {
    seen.done = true;
    if (result == ReportImporter::Result::Imported) {
        log_("imported " + file + (reason.empty() ? "" : ": " + reason));
        if (cutOff)
            log_("note: " + file + " ends inside its isotope table and did not change for " +
                 seconds(watch_.settleOpen) + "; imported as it stands");
    } else if (result == ReportImporter::Result::Skipped) {
        log_("skipped " + file + ": already imported");
    } else if (result == ReportImporter::Result::Failed) {
        seen.done = false;
        if (!seen.failLogged) log_("could not import " + file + ", trying again: " + reason);
        seen.failLogged = true;
    } else {
        log_("refused " + file + ": " + reason);
    }
}

void FolderWatch::run(std::chrono::milliseconds interval, const std::function<bool()>& keepGoing) {
    keepGoing_ = keepGoing;
    const auto slice = std::min(interval, std::chrono::milliseconds(50));
    while (keepGoing()) {
        poll();
        for (auto waited = std::chrono::milliseconds(0); waited < interval && keepGoing();
             waited += slice)
            std::this_thread::sleep_for(slice);
    }
    keepGoing_ = nullptr;
}

}  // namespace krv::ingest
