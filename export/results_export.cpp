#include "export/results_export.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <ostream>
#include <random>
#include <system_error>

#include "export/forms.h"
#include "export/values.h"
#include "platform/output_files.h"
#include "platform/platform.h"
#include "platform/runs.h"
#include "results_db/archive.h"

namespace krv::exports {

namespace fs = std::filesystem;

namespace {

// Cells read from the store in one go: a few megabytes at most, whatever the width.
constexpr std::size_t kCellsPerChunk = 1u << 16;

class StreamSink : public ByteSink {
  public:
    explicit StreamSink(std::ostream& out) : out_(out) {}

  protected:
    bool writeOut(const char* data, std::size_t size) override {
        out_.write(data, static_cast<std::streamsize>(size));
        return static_cast<bool>(out_);
    }

  private:
    std::ostream& out_;
};

Status noSuchColumn(const std::string& wanted) {
    return Status::failure(err::kItemNotFound, "no column matches '" + wanted + "'");
}

// The chosen columns in the order asked for; a pattern brings its matches in table order.
Status selectColumns(const std::vector<db::FieldInfo>& fields,
                     const std::vector<std::string>& wanted, std::vector<int>& selected) {
    selected.clear();
    if (wanted.empty()) {
        for (std::size_t i = 0; i < fields.size(); ++i) selected.push_back(static_cast<int>(i));
        return Status::success();
    }
    std::vector<bool> taken(fields.size(), false);
    for (const std::string& w : wanted) {
        bool any = false;
        const bool pattern = w.find_first_of("*?") != std::string::npos;
        for (std::size_t i = 0; i < fields.size(); ++i) {
            if (pattern ? !platform::wildcardMatch(w, fields[i].name) : fields[i].name != w)
                continue;
            any = true;
            if (!taken[i]) selected.push_back(static_cast<int>(i));
            taken[i] = true;
        }
        if (!any) return noSuchColumn(w);
    }
    return Status::success();
}

std::string rangeText(const Options& o) {
    return (o.firstRecord > 0 ? std::to_string(o.firstRecord) : std::string()) + ".." +
           (o.lastRecord > 0 ? std::to_string(o.lastRecord) : std::string());
}

std::string recordsText(std::int64_t n) {
    return std::to_string(n) + (n == 1 ? " record" : " records");
}

// Reads records first..last (positions from 1) a chunk at a time and hands each row with
// its position to `each`; `afterChunk` gets the count done. The next chunk is read while
// this one is handled, so the store's reading hides behind the writing (the spreadsheet's
// XML and compression most of all). Only one thread at a time uses the database.
Status forEachRecord(db::Database& database, const std::string& table,
                     const std::vector<std::string>& names, const std::vector<std::int64_t>& ids,
                     std::int64_t first, std::int64_t last,
                     const std::function<Status(const std::vector<db::Value>&, std::int64_t)>& each,
                     const std::function<Status(std::int64_t)>& afterChunk) {
    const auto chunk =
        static_cast<std::int64_t>(std::max<std::size_t>(1, kCellsPerChunk / (names.size() + 1)));
    const auto readChunk = [&](std::int64_t i, std::vector<std::vector<db::Value>>& rows) {
        const std::int64_t j = std::min(last, i + chunk) - 1;
        return database.readRecords(table, names, ids[static_cast<std::size_t>(i)],
                                    ids[static_cast<std::size_t>(j)], rows);
    };
    std::vector<std::vector<db::Value>> rows, nextRows;
    Status st;
    if (first - 1 < last) st = readChunk(first - 1, rows);
    std::int64_t done = 0;
    for (std::int64_t i = first - 1; st.ok() && i < last; i += chunk) {
        std::future<Status> ahead;
        if (i + chunk < last)
            ahead = std::async(std::launch::async, readChunk, i + chunk, std::ref(nextRows));
        const std::int64_t expected = std::min(last, i + chunk) - i;
        // A record removed or added meanwhile would shift every position after it.
        if (static_cast<std::int64_t>(rows.size()) != expected)
            st = Status::failure(
                err::kItemNotFound,
                "the table changed while it was exported: " + std::to_string(rows.size()) + " of " +
                    recordsText(expected) + " read at position " + std::to_string(i + 1));
        for (std::size_t r = 0; st.ok() && r < rows.size(); ++r)
            st = each(rows[r], i + 1 + static_cast<std::int64_t>(r));
        if (st.ok()) {
            done += expected;
            st = afterChunk(done);
        }
        if (ahead.valid()) {
            const Status next = ahead.get();
            if (st.ok()) st = next;
            rows.swap(nextRows);
        }
    }
    return st;
}

// `sink`, when the form writes to one, is emptied after every chunk, so a write failure
// (a full disk) stops the export early and memory stays bounded.
Status run(db::Database& database, const Options& options, Form& form, const ProgressFn& progress,
           const NoteFn& notes, ByteSink* sink = nullptr) {
    TableShape shape;
    Status st = database.fields(options.table, shape.fields);
    if (!st.ok()) return st;
    st = selectColumns(shape.fields, options.columns, shape.selected);
    if (!st.ok()) return st;
    for (const auto& [column, keyword] : options.keywords)
        if (shape.field(column) < 0) return noSuchColumn(column);

    std::vector<int> read = shape.selected;
    for (int f : form.extraColumns(shape))
        if (f >= 0) read.push_back(f);
    std::sort(read.begin(), read.end());
    read.erase(std::unique(read.begin(), read.end()), read.end());
    std::vector<std::string> names;
    shape.rowPos.assign(shape.fields.size(), -1);
    for (int f : read) {
        names.push_back(shape.fields[static_cast<std::size_t>(f)].name);
        shape.rowPos[static_cast<std::size_t>(f)] = static_cast<int>(names.size());
    }

    std::vector<std::int64_t> ids;
    st = database.recordIds(options.table, ids);
    if (!st.ok()) return st;
    const auto count = static_cast<std::int64_t>(ids.size());
    const bool ranged = options.firstRecord > 0 || options.lastRecord > 0;
    const std::int64_t first = std::max<std::int64_t>(options.firstRecord, 1);
    if (ranged && first > count)
        return Status::failure(err::kItemNotFound, "records " + rangeText(options) +
                                                       " select nothing: the table has " +
                                                       recordsText(count));
    const std::int64_t last = options.lastRecord > 0 ? std::min(options.lastRecord, count) : count;
    if (options.lastRecord > count && notes)
        notes({0,
               {},
               "records " + rangeText(options) + " asked, the table has " + recordsText(count) +
                   ": exported " + std::to_string(first) + ".." + std::to_string(last)});
    shape.firstPosition = first;
    shape.records = std::max<std::int64_t>(0, last - first + 1);

    const auto cancelled = [&](std::int64_t done) {
        return progress && !progress(done, shape.records)
                   ? Status::failure(kCancelled, "export cancelled")
                   : Status::success();
    };
    st = form.prepare(shape);
    if (st.ok() && form.checksFirst()) {
        st = forEachRecord(
            database, options.table, names, ids, first, last,
            [&](const std::vector<db::Value>& row, std::int64_t position) {
                form.check(row, position);
                return Status::success();
            },
            [&](std::int64_t) { return cancelled(0); });
        if (st.ok()) st = form.checked();
    }
    if (st.ok()) st = form.begin(shape);
    if (st.ok()) st = cancelled(0);
    if (st.ok())
        st = forEachRecord(
            database, options.table, names, ids, first, last,
            [&](const std::vector<db::Value>& row, std::int64_t position) {
                return form.row(row, position);
            },
            [&](std::int64_t done) {
                if (sink && !sink->flushIfFull()) return writeFailed();
                return cancelled(done);
            });
    if (!st.ok()) return st;
    st = form.finish();
    if (st.ok() && progress) progress(shape.records, shape.records);
    return st;
}

Status runToSink(db::Database& database, const Options& options, ByteSink& sink,
                 const ProgressFn& progress, const NoteFn& notes) {
    auto form = makeTextForm(options, sink, notes);
    Status st = run(database, options, *form, progress, notes, &sink);
    if (st.ok() && !sink.flush()) st = writeFailed();
    return st;
}

std::string randomSuffix() {
    std::random_device rd;
    std::uniform_int_distribution<unsigned long long> d;
    char buf[20];
    std::snprintf(buf, sizeof buf, "%016llx", d(rd));
    return buf;
}

// This machine's name as it may stand in a file name.
std::string hostTag() {
    std::string h = platform::hostName();
    for (char& c : h)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-') c = '_';
    return h;
}

// Private files carry the host and process id of the run that writes them, so a later
// run can tell a killed run's leftover from a file a live run is still writing. A file
// written from another machine (a shared folder) is never judged.
std::string privateName(const std::string& lead, const std::string& tail) {
    return lead + hostTag() + "-" + std::to_string(platform::currentProcessId()) + "-" +
           randomSuffix() + tail;
}

// The process id in `name` when it is lead + this host + "-PID-RANDOM" + tail.
std::int64_t writerOf(std::string_view name, std::string_view lead, std::string_view tail) {
    const std::string marker = std::string(lead) + hostTag() + "-";
    const auto at = name.rfind(marker);
    if (at == std::string_view::npos || name.size() < tail.size() ||
        name.substr(name.size() - tail.size()) != tail)
        return 0;
    std::string_view rest = name.substr(at + marker.size());
    rest.remove_suffix(tail.size());
    const auto dash = rest.find('-');
    if (dash == std::string_view::npos || dash == 0 || rest.size() - dash - 1 != 16) return 0;
    std::int64_t pid = 0;
    for (char c : rest.substr(0, dash)) {
        if (!std::isdigit(static_cast<unsigned char>(c)) || pid > 1000000000L) return 0;
        pid = pid * 10 + (c - '0');
    }
    for (char c : rest.substr(dash + 1))
        if (!std::isxdigit(static_cast<unsigned char>(c))) return 0;
    return pid;
}

// Removes what killed exports left in `folder`: names made by privateName(lead, tail)
// whose process has ended. `hidden` asks for names that start with a dot.
void removeLeftovers(const fs::path& folder, std::string_view lead, std::string_view tail,
                     bool hidden) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = platform::fromPath(it->path().filename());
        if (hidden != (!name.empty() && name[0] == '.')) continue;
        const std::int64_t pid = writerOf(name, lead, tail);
        if (pid <= 0 || platform::processAlive(pid)) continue;
        std::error_code removed;
        fs::remove_all(it->path(), removed);
    }
}

constexpr std::string_view kPartLead = ".part-";
constexpr std::string_view kWorkLead = ".work-";
constexpr std::string_view kTempLead = "krv-export-";

class FileSink : public ByteSink {
  public:
    explicit FileSink(const fs::path& p) : out_(p, std::ios::binary | std::ios::trunc) {}
    bool isOpen() const { return out_.is_open(); }
    bool close() {
        if (!flush()) return false;
        out_.close();
        return !out_.fail();
    }

  protected:
    bool writeOut(const char* data, std::size_t size) override {
        out_.write(data, static_cast<std::streamsize>(size));
        return static_cast<bool>(out_);
    }

  private:
    std::ofstream out_;
};

// A file (or folder) that is removed unless it was kept.
struct PartFile {
    fs::path path;
    bool keep = false;
    ~PartFile() {
        std::error_code ec;
        if (!keep && !path.empty()) fs::remove_all(path, ec);
    }
};

Status failedWith(const std::error_code& ec) {
    if (ec == std::errc::no_space_on_device)
        return Status::failure(err::kDiskFull, "cannot write: no space left on the device");
    return Status::failure(err::kPathFileAccess, "cannot write: " + ec.message());
}

// Writes the export to `part` (which must not exist yet) and flushes it to the disk. xlsx
// keeps the spreadsheet library's working files in the private folder `work`.
Status writeTo(db::Database& database, const Options& options, const fs::path& part,
               const fs::path& work, const ProgressFn& progress, const NoteFn& notes) {
    Status st;
    if (options.format == Format::Xlsx) {
        // Beside the output, on the disk that must hold the result anyway rather than in a
        // temporary folder that may be small; and in a folder of its own, since the library
        // names its files itself and leaves one behind when it cannot remove it.
        PartFile workFolder;
        std::error_code ec;
        if (!fs::create_directory(work, ec)) return failedWith(ec);
        workFolder.path = work;
        // The library opens its files by narrow names, in the Windows code page there.
        std::string partName, workName;
        if (!platform::narrowPath(part, partName) || !platform::narrowPath(work, workName))
            return Status::failure(err::kPathFileAccess,
                                   "the spreadsheet library cannot write where the name holds "
                                   "characters outside the system's code page; choose another "
                                   "folder or name");
        auto form = makeXlsxForm(options, partName, workName, notes);
        st = run(database, options, *form, progress, notes);
    } else {
        FileSink sink(part);
        if (!sink.isOpen()) return writeFailed();
        st = runToSink(database, options, sink, progress, notes);
        if (st.ok() && !sink.close()) st = writeFailed();
    }
    if (st.ok()) {
        if (const std::error_code ec = platform::syncFile(part)) return failedWith(ec);
    }
    return st;
}

}  // namespace

int TableShape::field(std::string_view name) const {
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (fields[i].name == name) return static_cast<int>(i);
    return -1;
}

bool ByteSink::flush() {
    if (!failed_ && !buffer_.empty() && !writeOut(buffer_.data(), buffer_.size())) failed_ = true;
    buffer_.clear();
    return !failed_;
}

Status writeFailed() {
    const int e = errno;
    const std::string reason = e == ENOSPC ? "no space left on the device"
                               : e != 0    ? std::strerror(e)
                                           : "write failed";
    return Status::failure(e == ENOSPC ? err::kDiskFull : err::kPathFileAccess,
                           "cannot write: " + reason);
}

bool isOutputFailure(const Status& status) {
    return status.number == err::kPathFileAccess || status.number == err::kDiskFull ||
           status.number == err::kPermissionDenied || status.number == err::kPathNotFound ||
           status.number == err::kBadFileName;
}

std::optional<Format> formatFromName(std::string_view name) {
    for (Format f : {Format::Csv, Format::Xlsx, Format::Long, Format::Lims2d})
        if (name == formatName(f)) return f;
    return std::nullopt;
}

const char* formatName(Format format) {
    switch (format) {
        case Format::Xlsx:
            return "xlsx";
        case Format::Long:
            return "long";
        case Format::Lims2d:
            return "lims2d";
        default:
            return "csv";
    }
}

const char* formatSuffix(Format format) { return format == Format::Xlsx ? ".xlsx" : ".csv"; }

Status exportToFile(db::Database& database, const Options& options, const std::string& target,
                    const ProgressFn& progress, const std::string& databasePath,
                    const NoteFn& notes) {
    const fs::path named = platform::toPath(target);
    std::error_code ec;
    if (target.empty() || named.filename().empty())
        return Status::failure(err::kBadFileName, "no output file name given");
    // A link stays a link: the file it names gets the export.
    fs::path p = named;
    if (platform::resolveLinks(named, p))
        return Status::failure(err::kPathFileAccess, "the symbolic links form a loop");
    const fs::file_status kind = fs::status(p, ec);
    if (fs::exists(kind) && !fs::is_regular_file(kind) && !fs::is_directory(kind)) {
        // A device or a pipe is written in place: renaming over it would replace it.
        std::ofstream out(p, std::ios::binary);
        if (!out) return writeFailed();
        return exportToStream(database, options, out, progress, notes);
    }
    if (fs::is_directory(p, ec)) return Status::failure(err::kPathFileAccess, "is a folder");
    if (!databasePath.empty() && fs::equivalent(p, platform::toPath(databasePath), ec))
        return Status::failure(err::kPathFileAccess, "is the database being exported");
    const bool replacing = fs::is_regular_file(kind);
    // The rename needs only the folder's permission; a file marked read-only is kept as
    // copying tools and spreadsheet programs keep it, also for the administrator.
    if (replacing && !options.replaceReadOnly &&
        ((kind.permissions() & fs::perms::owner_write) == fs::perms::none ||
         !platform::writableByCurrentUser(p)))
        return Status::failure(err::kPermissionDenied, "is read-only");
    const fs::path folder = p.parent_path().empty() ? fs::path(".") : p.parent_path();
    if (!fs::is_directory(folder, ec))
        return Status::failure(err::kPathNotFound,
                               "the folder '" + platform::fromPath(folder) + "' does not exist");
    removeLeftovers(folder, kPartLead, "", true);
    removeLeftovers(folder, kWorkLead, "", true);

    // A private name beside the target, so the final rename stays on one file system.
    PartFile part;
    const std::string hidden = "." + platform::fromPath(p.filename());
    part.path = folder / platform::toPath(privateName(hidden + std::string(kPartLead), ""));
    errno = 0;
    Status st = writeTo(database, options, part.path,
                        folder / platform::toPath(privateName(hidden + std::string(kWorkLead), "")),
                        progress, notes);
    if (!st.ok()) return st;
    if (replacing) fs::permissions(part.path, kind.permissions(), ec);
    ec.clear();
    fs::rename(part.path, p, ec);
    if (ec) return failedWith(ec);
    part.keep = true;
    if ((ec = platform::syncFolder(folder)))
        return Status::failure(err::kPathFileAccess,
                               "written, but the folder could not be synced: " + ec.message());
    return Status::success();
}

Status exportToStream(db::Database& database, const Options& options, std::ostream& out,
                      const ProgressFn& progress, const NoteFn& notes) {
    errno = 0;
    if (options.format != Format::Xlsx) {
        StreamSink sink(out);
        Status st = runToSink(database, options, sink, progress, notes);
        if (st.ok() && !out.flush()) st = writeFailed();
        return st;
    }
    // The spreadsheet library writes files only; pass one through.
    std::error_code ec;
    const fs::path temp = fs::temp_directory_path(ec);
    if (ec) return Status::failure(err::kPathNotFound, "no temporary folder: " + ec.message());
    removeLeftovers(temp, kTempLead, ".xlsx", false);
    removeLeftovers(temp, kTempLead, ".work", false);
    PartFile part;
    part.path = temp / privateName(std::string(kTempLead), ".xlsx");
    Status st = writeTo(database, options, part.path,
                        temp / privateName(std::string(kTempLead), ".work"), progress, notes);
    if (!st.ok()) return st;
    std::ifstream in(part.path, std::ios::binary);
    out << in.rdbuf();
    if (!in || !out.flush()) return writeFailed();
    return Status::success();
}

std::optional<LimsRules> limsRulesFor(std::string_view version) {
    int major = 0, minor = 0;
    const auto dot = version.find('.');
    const std::string_view a = version.substr(0, dot);
    const std::string_view b = dot == std::string_view::npos ? "0" : version.substr(dot + 1);
    // "2.5.0" and "2.5" alike: the patch level never changed the importer.
    const std::string_view bMinor = b.substr(0, b.find('.'));
    if (a.empty() || bMinor.empty() ||
        std::from_chars(a.data(), a.data() + a.size(), major).ptr != a.data() + a.size() ||
        std::from_chars(bMinor.data(), bMinor.data() + bMinor.size(), minor).ptr !=
            bMinor.data() + bMinor.size())
        return std::nullopt;
    if (major == 1) return LimsRules::Senaite20;
    if (major != 2) return std::nullopt;
    return minor >= 5   ? LimsRules::Senaite25
           : minor >= 1 ? LimsRules::Senaite21
                        : LimsRules::Senaite20;
}

std::string limsLookupKeyword(std::string_view keyword, LimsRules rules) {
    std::string out;
    for (char c : keyword) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == '_' ||
                          (rules != LimsRules::Senaite20 && (c == '-' || c == '+' || c == '.'));
        if (kept) out += c;
    }
    return out;
}

Status readKeywordMap(std::string_view text,
                      std::vector<std::pair<std::string, std::string>>& keywords) {
    keywords.clear();
    std::vector<std::vector<std::string>> rows;
    if (!readCsv(text, rows))
        return Status::failure(kNotRepresentable, "a quoted field never ends");
    std::size_t line = 0;
    for (auto& row : rows) {
        ++line;
        if (row.size() == 1 && row[0].empty()) continue;
        if (!row.empty() && !row[0].empty() && row[0][0] == '#') continue;
        if (row.size() != 2 || row[0].empty() || row[1].empty())
            return Status::failure(kNotRepresentable,
                                   "line " + std::to_string(line) +
                                       ": expected two fields, column name and LIMS keyword");
        keywords.emplace_back(std::move(row[0]), std::move(row[1]));
    }
    return Status::success();
}

}  // namespace krv::exports
