#include "ingest/report_import.h"

#include <QDateTime>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "audit/audit.h"
#include "platform/digest.h"
#include "platform/platform.h"
#include "platform/runs.h"
#include "report/parser.h"
#include "report/text.h"
#include "results_db/archive.h"
#include "results_db/batch_view.h"

namespace krv::ingest {

namespace {

namespace fs = std::filesystem;

constexpr int kLedgerPathSize = 4096;
// Ledger rows are read in slices, so a long ledger is never all in memory beside its keys.
constexpr std::int64_t kLedgerSlice = 4096;

const char* const kModeWords[] = {"activity", "net", "gross", "bkg"};

std::vector<db::FieldInfo> ledgerFields() {
    using db::FieldType;
    return {{"Hash", FieldType::Text, 64},
            {"Size", FieldType::Text, 20},
            {"Path", FieldType::Text, kLedgerPathSize},
            {"Mode", FieldType::Text, 8},
            {"Record", FieldType::Text, 20},
            {"Imported", FieldType::Text, 30}};
}

// Cut at a character boundary so the text stays valid UTF-8.
std::string fitPath(std::string path) {
    if (path.size() <= static_cast<std::size_t>(kLedgerPathSize)) return path;
    std::size_t cut = kLedgerPathSize;
    while (cut > 0 && (static_cast<unsigned char>(path[cut]) & 0xC0) == 0x80) --cut;
    path.resize(cut);
    return path;
}

using Digest = platform::Sha1;

// As the ledger keeps a digest: 40 lowercase hex digits.
std::string hexOf(const Digest& digest) {
    std::string text;
    text::appendHex(text,
                    std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()));
    return text;
}

LedgerKey keyOf(const Digest& digest, int mode) {
    LedgerKey key{};
    std::memcpy(key.data(), digest.data(), digest.size());
    key[20] = static_cast<unsigned char>(mode);
    return key;
}

// The key of a ledger row; nothing for a row no import wrote (another tool may have).
std::optional<LedgerKey> keyOfRow(const std::string& hex, const std::string& modeWord) {
    const std::optional<int> mode = appendModeFromWord(modeWord);
    Digest digest{};
    if (!mode || hex.size() != 2 * digest.size()) return std::nullopt;
    // Another tool may have written the digits in capitals.
    std::string lower = hex, bytes;
    for (char& c : lower)
        if (c >= 'A' && c <= 'F') c = static_cast<char>(c - 'A' + 'a');
    if (!text::fromHex(lower, bytes) || bytes.size() != digest.size()) return std::nullopt;
    std::memcpy(digest.data(), bytes.data(), digest.size());
    return keyOf(digest, *mode);
}

void walk(const fs::path& folder, std::vector<std::string>& files, std::vector<Refusal>& refused) {
    enum class Kind { Folder, File, Other };
    std::error_code ec;
    // Names and kinds only: a directory entry holds its whole path, split into components,
    // which for a folder of 30,000 reports took more memory than the rest of the import;
    // and comparing paths builds a filename path per comparison.
    std::vector<std::pair<fs::path::string_type, Kind>> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code unknown;
        const Kind kind = it->is_directory(unknown)      ? Kind::Folder
                          : it->is_regular_file(unknown) ? Kind::File
                                                         : Kind::Other;
        entries.emplace_back(it->path().filename().native(), kind);
    }
    if (ec) {
        refused.push_back(
            {platform::fromPath(folder), "folder cannot be read: " + ec.message(), true});
        return;
    }
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [name, kind] : entries) {
        const fs::path path = folder / name;
        if (kind == Kind::Folder) {
            walk(path, files, refused);
        } else if (kind == Kind::File) {
            files.push_back(platform::fromPath(path));
        } else {
            refused.push_back({platform::fromPath(path), "not a plain file"});
        }
    }
}

// The first value a record lacks, and how many more, as the import's summary lists it.
std::string lacksText(const std::string& record, const std::vector<MissingValue>& missing) {
    const MissingValue& first = missing.front();
    std::string text = "record " + record + " lacks " + first.what + " (" + first.reason + ")";
    if (missing.size() > 1) text += " and " + std::to_string(missing.size() - 1) + " more values";
    return text;
}

}  // namespace

std::optional<int> appendModeFromWord(const std::string& word) {
    for (int m = 0; m < 4; ++m) {
        if (word == kModeWords[m]) return m;
    }
    return std::nullopt;
}

const char* appendModeWord(int mode) { return kModeWords[std::clamp(mode, 0, 3)]; }

void collectReportFiles(const std::vector<std::string>& paths, std::vector<std::string>& files,
                        std::vector<Refusal>& refused) {
    for (const std::string& p : paths) {
        std::error_code ec;
        const fs::path path = platform::toPath(p);
        const fs::file_status st = fs::status(path, ec);
        if (ec || !fs::exists(st)) {
            refused.push_back({p, "not found" + (ec ? ": " + ec.message() : std::string()), true});
        } else if (fs::is_directory(st)) {
            walk(path, files, refused);
        } else {
            files.push_back(p);
        }
    }
}

ReportImporter::ReportImporter(db::Engine& engine, std::string destination,
                               ReportImportOptions options)
    : engine_(engine),
      destination_(std::move(destination)),
      options_(options),
      report_(std::make_unique<AnalysisReport>()) {}

ReportImporter::~ReportImporter() {
    if (database_) {
        // An import left without finish() keeps only what was committed.
        database_->rollback();
        database_->close();
    }
}

Status ReportImporter::open() {
    // A store another station makes at the same moment is the store this run goes on into.
    StoreOpening opening;
    store_ = openOrCreateResults(engine_, destination_, opening);
    if (!store_)
        return opening.made.ok() || opening.made.number == err::kDatabaseExists ? opening.opened
                                                                                : opening.made;
    database_ = std::make_unique<db::BatchView>(*store_);
    std::vector<db::FieldInfo> columns;
    Status st = database_->fields(kTableName, columns);
    if (!st.ok()) return st;
    return loadLedger();
}

Status ReportImporter::loadLedger() {
    std::vector<db::FieldInfo> columns;
    if (!database_->fields(kLedgerTable, columns).ok()) {
        // Looked at again under the write lock: another run may have made it meanwhile.
        Status st = database_->beginWrite();
        if (st.ok() && !database_->fields(kLedgerTable, columns).ok())
            st = database_->createTable(kLedgerTable, ledgerFields(), "", "");
        if (st.ok()) st = database_->commit();
        if (!st.ok()) {
            database_->rollback();
            return st;
        }
    }
    return readNewLedgerRows();
}

// Rows other runs added since this one last looked; inside a write transaction they are
// all there will be until it ends, so the ledger in memory is then the ledger in the store.
Status ReportImporter::readNewLedgerRows() {
    std::int64_t lowest = 0, highest = 0;
    Status st = database_->identityRange(kLedgerTable, lowest, highest);
    if (!st.ok()) return st;
    st = db::forEachRowBetween(
        *database_, kLedgerTable, {"Hash", "Mode"}, std::max(lowest, ledgerSeen_ + 1), highest,
        kLedgerSlice, [&](const std::vector<db::Value>& row) {
            const auto* hash = row.size() == 3 ? std::get_if<std::string>(&row[1]) : nullptr;
            const auto* mode = row.size() == 3 ? std::get_if<std::string>(&row[2]) : nullptr;
            if (hash && mode)
                if (const auto key = keyOfRow(*hash, *mode)) ledger_.insert(*key);
            return Status::success();
        });
    if (!st.ok()) return st;
    ledgerSeen_ = std::max(ledgerSeen_, highest);
    return Status::success();
}

ReportImporter::Result ReportImporter::add(const std::string& path, std::string& reason) {
    if (!database_ || !storeFailure_.ok()) {
        reason = "the store is not open";
        return Result::Refused;
    }
    std::string bytes;
    std::error_code error;
    switch (platform::readSmallFile(platform::toPath(path), kMaxReportBytes, bytes, error)) {
        case platform::FileRead::Failed:
            reason = "cannot be read: " + error.message();
            return Result::Failed;
        case platform::FileRead::TooLarge:
            reason = "too large to be a report";
            return Result::Refused;
        case platform::FileRead::Whole:
            break;
    }
    return addBytes(path, bytes, reason);
}

ReportImporter::Result ReportImporter::addBytes(const std::string& path, const std::string& bytes,
                                                std::string& reason) {
    if (!database_ || !storeFailure_.ok()) {
        reason = "the store is not open";
        return Result::Refused;
    }
    if (bytes.empty()) {
        reason = "empty file";
        return Result::Refused;
    }
    Digest digest;
    if (!platform::sha1(bytes, digest)) {
        reason = "its content could not be hashed";
        return Result::Failed;
    }
    const LedgerKey key = keyOf(digest, std::clamp(options_.mode, 0, 3));
    if (!options_.again && ledger_.count(key)) return Result::Skipped;
    const std::string hash = hexOf(digest);
    const std::string mode = appendModeWord(options_.mode);

    // A fresh model each time, as each unattended run starts with one.
    report_->beginFreshRead();
    if (!parseReportText(bytes, *report_)) {
        reason = "not a results report (no \"ID:\" line)";
        return Result::Refused;
    }

    if (!inBatch_) {
        if (!beginBatch(reason)) return Result::Refused;
        if (!options_.again && ledger_.count(key)) return Result::Skipped;
    }
    ErrorTrap trap;
    const RecordAppend appended = appendRecord(
        *database_, AppendInput{*report_, options_.mode, options_.decimalSeparator}, trap);
    if (appended.fault.ok() && !appended.saved.ok()) {
        reason = "record not saved: " + appended.saved.description;
        return Result::Refused;
    }
    std::int64_t record = 0;
    Status st = appended.fault;
    if (st.ok()) st = database_->recordCount(kTableName, record);
    const std::string recordText = std::to_string(record);
    if (st.ok()) st = insertLedgerRow(hash, bytes.size(), path, mode, recordText);
    // What the record lacks goes to the trail, as after an unattended append.
    if (st.ok() && !appended.missing.empty())
        st = audit::noteMissingValues(*database_, record, appended.missing);
    if (!st.ok()) {
        // The record and its ledger row go together or not at all.
        storeFailure_ = st;
        database_->rollback();
        inBatch_ = false;
        pendingIncomplete_.clear();
        reason = st.description;
        return Result::Refused;
    }
    if (!appended.missing.empty()) {
        reason = lacksText(recordText, appended.missing);
        pendingIncomplete_.push_back({path, reason});
    }
    ledger_.insert(key);
    lastHash_ = hash;
    lastRecord_ = recordText;
    ++batchCount_;
    if (batchCount_ >= options_.batchReports ||
        std::chrono::steady_clock::now() - batchStart_ >= options_.batchTime) {
        storeFailure_ = commitBatch();
    }
    return Result::Imported;
}

bool ReportImporter::beginBatch(std::string& reason) {
    storeFailure_ = database_->beginWrite();
    if (storeFailure_.ok()) {
        inBatch_ = true;
        batchCount_ = 0;
        batchStart_ = std::chrono::steady_clock::now();
        batchLedgerStart_ = ledgerSeen_;
        // Another run (a second station, a watch) may have stored this report since
        // this one read the ledger; under the lock that cannot change any more.
        storeFailure_ = readNewLedgerRows();
    }
    if (!storeFailure_.ok()) {
        database_->rollback();
        inBatch_ = false;
        reason = storeFailure_.description;
        return false;
    }
    return true;
}

Status ReportImporter::insertLedgerRow(const std::string& hash, std::size_t size,
                                       const std::string& path, const std::string& mode,
                                       const std::string& record) {
    return database_->insertRecord(kLedgerTable, {{"Hash", hash},
                                                  {"Size", std::to_string(size)},
                                                  {"Path", fitPath(path)},
                                                  {"Mode", mode},
                                                  {"Record", record},
                                                  {"Imported", nowText()}});
}

const std::string& ReportImporter::nowText() {
    const auto now = std::chrono::steady_clock::now();
    if (now - nowTaken_ >= std::chrono::milliseconds(500) || nowText_.empty()) {
        nowTaken_ = now;
        nowText_ = QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString();
    }
    return nowText_;
}

Status ReportImporter::commitBatch() {
    if (!inBatch_) return Status::success();
    inBatch_ = false;
    // Appends are not logged one by one; the batch says how many reports came in.
    Status st = Status::success();
    if (batchCount_ > 0) {
        audit::Entry e;
        e.operation = audit::kImport;
        e.note =
            std::to_string(batchCount_) + " reports in " + appendModeWord(options_.mode) + " mode";
        st = audit::write(*database_, std::move(e));
    }
    // The rows this batch added need not be read back at the next batch.
    std::int64_t lowest = 0, highest = 0;
    if (st.ok() && batchCount_ > 0) st = database_->identityRange(kLedgerTable, lowest, highest);
    bool stored = false;
    if (st.ok()) {
        const Status committed = database_->commit();
        stored = committed.ok();
        // A commit that failed may still have reached the store (an unlock or a reply
        // that failed after the data was safe): what is stored decides, as for an append.
        if (!stored && batchCount_ > 0) {
            database_->rollback();
            database_->close();
            database_.reset();
            store_.reset();
            st = batchStored(stored);
            if (st.ok() && !stored) st = committed;
            if (st.ok()) st = reopen();
        } else {
            st = committed;
        }
    } else {
        database_->rollback();
    }
    if (stored) {
        committed_ += batchCount_;
        ledgerSeen_ = std::max(ledgerSeen_, highest);
        incomplete_.insert(incomplete_.end(), pendingIncomplete_.begin(), pendingIncomplete_.end());
    }
    pendingIncomplete_.clear();
    batchCount_ = 0;
    return st;
}

// Whether the batch whose commit failed is in the store, looked for on a fresh connection:
// its last ledger row, which carries the record number only this batch used.
Status ReportImporter::batchStored(bool& stored) {
    stored = false;
    Status st;
    std::unique_ptr<db::Database> fresh = engine_.openDatabase(destination_, st);
    std::int64_t lowest = 0, highest = 0;
    if (fresh) st = fresh->identityRange(kLedgerTable, lowest, highest);
    if (st.ok())
        st = db::forEachRowBetween(*fresh, kLedgerTable, {"Hash", "Record"}, batchLedgerStart_ + 1,
                                   highest, kLedgerSlice, [&](const std::vector<db::Value>& row) {
                                       stored = stored || (row.size() == 3 &&
                                                           row[1] == db::Value(lastHash_) &&
                                                           row[2] == db::Value(lastRecord_));
                                       return Status::success();
                                   });
    if (fresh) fresh->close();
    if (!st.ok()) {
        outcomeUnknown_ = true;
        return Status::failure(st.number,
                               "the last batch's commit failed and whether it reached the store "
                               "could not be checked: " +
                                   st.description);
    }
    return Status::success();
}

Status ReportImporter::reopen() {
    Status opened;
    store_ = engine_.openDatabase(destination_, opened);
    if (store_) database_ = std::make_unique<db::BatchView>(*store_);
    return opened;
}

Status ReportImporter::finish() {
    Status st = storeFailure_;
    if (database_ && st.ok()) st = commitBatch();
    // A commit that failed closed the store on its way to look at what it holds.
    if (database_) {
        database_->rollback();
        database_->close();
    }
    database_.reset();
    store_.reset();
    return st;
}

ReportImportSummary importReports(db::Engine& engine, const std::string& destination,
                                  const std::vector<std::string>& paths,
                                  const ReportImportOptions& options,
                                  const ReportProgress& progress) {
    ReportImportSummary summary;
    std::vector<std::string> files;
    collectReportFiles(paths, files, summary.refused);
    ReportImporter importer(engine, destination, options);
    summary.failure = importer.open();
    if (!summary.failure.ok()) return summary;
    const auto total = static_cast<std::int64_t>(files.size());
    std::int64_t done = 0;
    for (const std::string& file : files) {
        std::string reason;
        switch (importer.add(file, reason)) {
            case ReportImporter::Result::Imported:
                break;
            case ReportImporter::Result::Skipped:
                ++summary.skipped;
                break;
            case ReportImporter::Result::Refused:
                if (importer.storeFailure().ok()) summary.refused.push_back({file, reason});
                break;
            case ReportImporter::Result::Failed:
                summary.unreadable.push_back({file, reason});
                break;
        }
        if (!importer.storeFailure().ok()) break;
        ++done;
        if (progress && !progress(done, total)) break;
    }
    summary.failure = importer.finish();
    summary.outcomeUnknown = importer.outcomeUnknown();
    summary.imported = importer.committed();
    summary.incomplete = importer.incomplete();
    return summary;
}

std::string summaryText(const ReportImportSummary& s, const std::string& destination,
                        const ReportImportOptions& options, const std::string& againHint,
                        std::size_t listed) {
    std::string text =
        "Imported " + std::to_string(s.imported) + " reports into " + destination + "\nSkipped " +
        std::to_string(s.skipped) + " already imported in mode " + appendModeWord(options.mode) +
        (s.skipped && !options.again && !againHint.empty() ? " (" + againHint + ")" : "") +
        (s.incomplete.empty()
             ? ""
             : "\nOf them, without some values: " + std::to_string(s.incomplete.size())) +
        "\nRefused " + std::to_string(s.refused.size()) + (s.refused.empty() ? "\n" : ":\n");
    const auto list = [&](const std::vector<Refusal>& entries) {
        for (std::size_t i = 0; i < entries.size() && i < listed; ++i)
            text += "  " + entries[i].path + ": " + entries[i].reason + "\n";
        if (entries.size() > listed)
            text += "  and " + std::to_string(entries.size() - listed) + " more\n";
    };
    list(s.refused);
    if (!s.unreadable.empty())
        text += "Not imported, could not be read (a rerun tries them again): " +
                std::to_string(s.unreadable.size()) + "\n";
    list(s.unreadable);
    if (!s.incomplete.empty()) text += "Imported without some values:\n";
    list(s.incomplete);
    return text;
}

}  // namespace krv::ingest
