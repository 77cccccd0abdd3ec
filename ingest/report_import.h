#pragma once

// Many archived reports into a results store, each exactly as the unattended append
// would store it, with a ledger of what was imported so a rerun skips it. Reports are
// committed in batches together with their ledger rows: an interrupted run leaves whole
// records and a ledger that agrees with them.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/status.h"
#include "report/analysis_report.h"
#include "results_db/store.h"

namespace krv::ingest {

inline constexpr const char* kLedgerTable = "ImportedReports";
// Reports are a few kilobytes; anything far larger is something else.
inline constexpr std::size_t kMaxReportBytes = 16 * 1024 * 1024;

// "activity", "net", "gross", "bkg" to the append mode 0..3.
std::optional<int> appendModeFromWord(const std::string& word);
const char* appendModeWord(int mode);

// A ledger entry as an import looks it up: the SHA-1 digest of a report's bytes and the
// mode it went in with. 21 bytes instead of a text of 40 digits and a word keep a long
// ledger small in memory.
using LedgerKey = std::array<unsigned char, 21>;
struct LedgerKeyHash {
    // Digest bytes are already evenly spread.
    std::size_t operator()(const LedgerKey& k) const noexcept {
        std::size_t h;
        std::memcpy(&h, k.data(), sizeof h);
        return h ^ k[20];
    }
};

struct Refusal {
    std::string path;
    std::string reason;
    bool walkFailed = false;  // a named file or a folder that could not be read at all
};

// The report files named by `paths`, in order: a file as it is, a folder walked (with its
// subfolders) in name order. What cannot be walked is refused.
void collectReportFiles(const std::vector<std::string>& paths, std::vector<std::string>& files,
                        std::vector<Refusal>& refused);

struct ReportImportOptions {
    int mode = 0;
    bool again = false;  // import reports the ledger already has
    char decimalSeparator = '.';
    int batchReports = 2000;
    std::chrono::milliseconds batchTime{3000};
};

class ReportImporter {
  public:
    // Refused: not a report (a note). Failed: a file that could not be read, which a
    // later run should try again.
    enum class Result { Imported, Skipped, Refused, Failed };

    ReportImporter(db::Engine& engine, std::string destination, ReportImportOptions options);
    ~ReportImporter();

    // Opens the store (making it, as the append does, when nothing is there) and reads the
    // ledger. Fails for a store that cannot be opened or is not a results database.
    Status open();
    // Reads and stores one report. A file that cannot be read or is not a report is
    // refused with a reason; a failing store stops the job (`storeFailure`).
    Result add(const std::string& path, std::string& reason);
    // The same for a report already read.
    Result addBytes(const std::string& path, const std::string& bytes, std::string& reason);
    // Commits what is pending and closes the store.
    Status finish();

    const Status& storeFailure() const { return storeFailure_; }
    // The store failed at a commit and could not be asked afterwards whether the batch is in.
    bool outcomeUnknown() const { return outcomeUnknown_; }
    // Reports whose records and ledger rows are committed.
    std::int64_t committed() const { return committed_; }
    // Committed reports whose records lack values the store refused, with what they lack.
    const std::vector<Refusal>& incomplete() const { return incomplete_; }

  private:
    // Starts the write transaction a batch of reports goes in; on failure `reason` says why.
    bool beginBatch(std::string& reason);
    Status insertLedgerRow(const std::string& hash, std::size_t size, const std::string& path,
                           const std::string& mode, const std::string& record);
    Status commitBatch();
    Status batchStored(bool& stored);
    Status reopen();
    Status loadLedger();
    Status readNewLedgerRows();
    // The ledger's import time, to the second, worked out at most twice a second.
    const std::string& nowText();

    db::Engine& engine_;
    std::string destination_;
    ReportImportOptions options_;
    std::unique_ptr<db::Database> store_;
    std::unique_ptr<db::Database> database_;  // the store, as one batch sees it
    std::unique_ptr<AnalysisReport> report_;  // the report being added
    std::unordered_set<LedgerKey, LedgerKeyHash> ledger_;
    std::int64_t ledgerSeen_ = 0;        // the highest ledger identity read into ledger_
    std::int64_t batchLedgerStart_ = 0;  // ledgerSeen_ when the open batch began
    std::string lastHash_, lastRecord_;  // the open batch's last ledger row
    bool outcomeUnknown_ = false;
    bool inBatch_ = false;
    int batchCount_ = 0;
    std::chrono::steady_clock::time_point batchStart_;
    Status storeFailure_;
    std::int64_t committed_ = 0;
    std::vector<Refusal> incomplete_, pendingIncomplete_;  // committed, in the open batch
    std::string nowText_;
    std::chrono::steady_clock::time_point nowTaken_;
};

struct ReportImportSummary {
    std::int64_t imported = 0;  // committed
    std::int64_t skipped = 0;   // already in the ledger in this mode
    std::vector<Refusal> refused;
    std::vector<Refusal> incomplete;  // imported, but values were left out (and why)
    std::vector<Refusal> unreadable;  // looked like files to import but could not be read
    Status failure;                   // the store failed or could not be opened: the job stopped
    bool outcomeUnknown = false;      // a commit failed and could not be checked afterwards
};

// Imported, skipped and refused, one line each, then each refusal (at most `listed` of
// them, and how many more). `againHint` names the option that imports skipped reports.
std::string summaryText(const ReportImportSummary& summary, const std::string& destination,
                        const ReportImportOptions& options, const std::string& againHint = "",
                        std::size_t listed = SIZE_MAX);

// False from the callback stops after the report just done.
using ReportProgress = std::function<bool(std::int64_t done, std::int64_t total)>;

// The whole job: collects the files, opens the store, imports them in order, commits.
ReportImportSummary importReports(db::Engine& engine, const std::string& destination,
                                  const std::vector<std::string>& paths,
                                  const ReportImportOptions& options,
                                  const ReportProgress& progress = {});

}  // namespace krv::ingest
