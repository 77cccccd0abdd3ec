#include "export/results_export.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <ostream>
#include <random>
#include <system_error>

#include "export/forms.h"
#include "export/values.h"
#include "platform/platform.h"
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

// `sink`, when the form writes to one, is emptied after every chunk, so a write failure
// (a full disk) stops the export early and memory stays bounded.
Status run(db::Database& database, const Options& options, Form& form, const ProgressFn& progress,
           ByteSink* sink = nullptr) {
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
    const std::int64_t first = std::max<std::int64_t>(options.firstRecord, 1);
    const std::int64_t last = options.lastRecord > 0 ? std::min(options.lastRecord, count) : count;
    shape.firstPosition = first;
    shape.records = std::max<std::int64_t>(0, last - first + 1);

    st = form.begin(shape);
    if (!st.ok()) return st;
    const auto chunk =
        static_cast<std::int64_t>(std::max<std::size_t>(1, kCellsPerChunk / (names.size() + 1)));
    const auto readChunk = [&](std::int64_t i, std::vector<std::vector<db::Value>>& rows) {
        const std::int64_t j = std::min(last, i + chunk) - 1;
        return database.readRecords(options.table, names, ids[static_cast<std::size_t>(i)],
                                    ids[static_cast<std::size_t>(j)], rows);
    };
    // The next chunk is read while this one is written, so the store's reading hides
    // behind the writing (the spreadsheet's XML and compression most of all). Only one
    // thread at a time uses the database.
    std::vector<std::vector<db::Value>> rows, nextRows;
    std::int64_t done = 0;
    if (first - 1 < last) st = readChunk(first - 1, rows);
    for (std::int64_t i = first - 1; st.ok() && i < last; i += chunk) {
        if (progress && !progress(done, shape.records))
            return Status::failure(kCancelled, "export cancelled");
        std::future<Status> ahead;
        if (i + chunk < last)
            ahead = std::async(std::launch::async, readChunk, i + chunk, std::ref(nextRows));
        for (const auto& row : rows) {
            st = form.row(row);
            if (!st.ok()) return st;
        }
        done += std::min(last, i + chunk) - i;
        if (sink && !sink->flushIfFull()) return writeFailed();
        if (ahead.valid()) {
            st = ahead.get();
            rows.swap(nextRows);
        }
    }
    if (!st.ok()) return st;
    st = form.finish();
    if (st.ok() && progress) progress(shape.records, shape.records);
    return st;
}

Status runToSink(db::Database& database, const Options& options, ByteSink& sink,
                 const ProgressFn& progress) {
    auto form = makeTextForm(options, sink);
    Status st = run(database, options, *form, progress, &sink);
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

// A file that is removed unless it was kept.
struct PartFile {
    fs::path path;
    bool keep = false;
    ~PartFile() {
        std::error_code ec;
        if (!keep && !path.empty()) fs::remove(path, ec);
    }
};

// Writes the export to `part` (which must not exist yet).
Status writeTo(db::Database& database, const Options& options, const fs::path& part,
               const ProgressFn& progress) {
    if (options.format == Format::Xlsx) {
        auto form = makeXlsxForm(options, platform::fromPath(part));
        return run(database, options, *form, progress);
    }
    FileSink sink(part);
    if (!sink.isOpen()) return writeFailed();
    Status st = runToSink(database, options, sink, progress);
    if (st.ok() && !sink.close()) st = writeFailed();
    return st;
}

}  // namespace

int TableShape::field(std::string_view name) const {
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (fields[i].name == name) return static_cast<int>(i);
    return -1;
}

bool isFixedColumn(std::string_view name) {
    static const std::vector<db::FieldInfo> fixed = fixedFields();
    return std::any_of(fixed.begin(), fixed.end(),
                       [&](const db::FieldInfo& f) { return f.name == name; });
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
           status.number == err::kPathNotFound || status.number == err::kBadFileName;
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
                    const ProgressFn& progress, const std::string& databasePath) {
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
        return exportToStream(database, options, out, progress);
    }
    if (fs::is_directory(p, ec)) return Status::failure(err::kPathFileAccess, "is a folder");
    if (!databasePath.empty() && fs::equivalent(p, platform::toPath(databasePath), ec))
        return Status::failure(err::kPathFileAccess, "is the database being exported");
    const fs::path folder = p.parent_path().empty() ? fs::path(".") : p.parent_path();
    if (!fs::is_directory(folder, ec))
        return Status::failure(err::kPathNotFound,
                               "the folder '" + platform::fromPath(folder) + "' does not exist");

    // A private name beside the target, so the final rename stays on one file system.
    PartFile part;
    part.path = folder / ("." + platform::fromPath(p.filename()) + ".part-" + randomSuffix());
    errno = 0;
    Status st = writeTo(database, options, part.path, progress);
    if (!st.ok()) return st;
    fs::rename(part.path, p, ec);
    if (ec) return Status::failure(err::kPathFileAccess, "cannot write: " + ec.message());
    part.keep = true;
    return Status::success();
}

Status exportToStream(db::Database& database, const Options& options, std::ostream& out,
                      const ProgressFn& progress) {
    errno = 0;
    if (options.format != Format::Xlsx) {
        StreamSink sink(out);
        Status st = runToSink(database, options, sink, progress);
        if (st.ok() && !out.flush()) st = writeFailed();
        return st;
    }
    // The spreadsheet library writes files only; pass one through.
    PartFile part;
    part.path = fs::temp_directory_path() / ("krv-export-" + randomSuffix() + ".xlsx");
    Status st = writeTo(database, options, part.path, progress);
    if (!st.ok()) return st;
    std::ifstream in(part.path, std::ios::binary);
    out << in.rdbuf();
    if (!in || !out.flush()) return writeFailed();
    return Status::success();
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
