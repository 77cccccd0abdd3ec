#include "report/parser.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "report/text.h"

namespace krv {

namespace fs = std::filesystem;

namespace {

// Where the report's bytes come from. Each call hands out the next chunk; an empty chunk
// means the end. A chunk stays valid until the next call.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual std::string_view next() = 0;
};

class MemorySource : public ByteSource {
  public:
    explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
    std::string_view next() override { return std::exchange(bytes_, std::string_view{}); }

  private:
    std::string_view bytes_;
};

// Reads through one fixed buffer, so a report of any size costs the same memory.
class FileSource : public ByteSource {
  public:
    static constexpr std::size_t kChunk = 64 * 1024;
    explicit FileSource(std::ifstream& in) : in_(in), buffer_(kChunk) {}
    std::string_view next() override {
        if (!in_) return {};
        errno = 0;
        in_.read(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
        if (in_.bad() && !error_) error_ = errno ? errno : EIO;
        return {buffer_.data(), static_cast<std::size_t>(in_.gcount())};
    }
    // The system's error number when reading stopped before the end of the file.
    int error() const { return error_; }

  private:
    std::ifstream& in_;
    std::vector<char> buffer_;
    int error_ = 0;
};

// Hands out the report's characters as Windows-1252 bytes whatever the byte-order mark
// at its start announces; a report without one passes through untouched.
class DecodingSource : public ByteSource {
  public:
    explicit DecodingSource(ByteSource& raw) : raw_(raw) {}
    std::string_view next() override {
        for (;;) {
            std::string_view chunk = raw_.next();
            if (!decoder_) {
                std::size_t mark = 0;
                const text::Encoding e = text::detectByteOrderMark(chunk, mark);
                if (e == text::Encoding::Cp1252) passThrough_ = true;
                decoder_.emplace(e);
                chunk.remove_prefix(mark);
            }
            if (passThrough_) return chunk;
            decoded_.clear();
            if (chunk.empty()) {
                decoder_->finish(decoded_);
                return decoded_;  // empty: the end
            }
            decoder_->decode(chunk, decoded_);
            if (!decoded_.empty()) return decoded_;
        }
    }

  private:
    ByteSource& raw_;
    std::optional<text::Cp1252Decoder> decoder_;
    bool passThrough_ = false;
    std::string decoded_;
};

// Line reads and delimited-item reads over a byte source, with the end-of-file test the
// report writer's tools use: the end is reached when no byte is left after a read.
// CR LF, a lone LF and a lone CR each end a line. A returned text stays valid until the
// next read; at most kMaxKeptLine characters of it are kept.
class ReportReader {
  public:
    explicit ReportReader(ByteSource& source) : source_(source) {}

    bool atEnd() { return !ensure(); }

    std::string_view readLine() {
        kept_.clear();
        if (!ensure()) return {};
        bool spanned = false;
        for (;;) {
            const char* p = cur_;
            while (p < end_ && *p != '\r' && *p != '\n') ++p;
            const std::string_view piece(cur_, static_cast<std::size_t>(p - cur_));
            if (p < end_) {
                cur_ = p;
                consumeLineEnd();
                // A view into the chunk is only safe while the next end test needs no
                // refill, so a line that touches the chunk's end is copied.
                if (!spanned && cur_ < end_) return piece.substr(0, kMaxKeptLine);
                keep(piece);
                return kept_;
            }
            keep(piece);
            spanned = true;
            cur_ = end_;
            if (!ensure()) return kept_;
        }
    }

    // Blanks and tabs before the item are skipped; the item ends at a comma or at the end
    // of the line. A quoted item runs to the closing quote, and whatever follows it up to
    // the delimiter is dropped.
    std::string_view readField() {
        kept_.clear();
        for (;;) {
            if (!ensure()) return kept_;
            if (*cur_ != ' ' && *cur_ != '\t') break;
            ++cur_;
        }
        if (*cur_ == '"') {
            ++cur_;
            for (;;) {
                if (!ensure()) return kept_;
                const char* q = cur_;
                while (q < end_ && *q != '"') ++q;
                keep({cur_, static_cast<std::size_t>(q - cur_)});
                cur_ = q;
                if (q < end_) {
                    ++cur_;
                    break;
                }
            }
            skipToDelimiter(false);
        } else {
            skipToDelimiter(true);
        }
        return kept_;
    }

  private:
    // Makes a byte available unless the source is exhausted; an LF that completes a CR
    // seen at the end of the previous chunk is consumed here.
    bool ensure() {
        for (;;) {
            if (cur_ == end_) {
                const std::string_view chunk = source_.next();
                if (chunk.empty()) return false;
                cur_ = chunk.data();
                end_ = chunk.data() + chunk.size();
            }
            if (pendingLf_) {
                pendingLf_ = false;
                if (*cur_ == '\n') {
                    ++cur_;
                    continue;
                }
            }
            return true;
        }
    }

    void keep(std::string_view piece) {
        if (kept_.size() < kMaxKeptLine) kept_.append(piece.substr(0, kMaxKeptLine - kept_.size()));
    }

    // At a CR or LF: consumes the line end.
    void consumeLineEnd() {
        const char c = *cur_++;
        if (c != '\r') return;
        if (cur_ < end_) {
            if (*cur_ == '\n') ++cur_;
        } else {
            pendingLf_ = true;
        }
    }

    void skipToDelimiter(bool keepText) {
        for (;;) {
            if (!ensure()) return;
            const char* p = cur_;
            while (p < end_ && *p != ',' && *p != '\r' && *p != '\n') ++p;
            if (keepText) keep({cur_, static_cast<std::size_t>(p - cur_)});
            cur_ = p;
            if (p == end_) continue;
            if (*p == ',')
                ++cur_;
            else
                consumeLineEnd();
            return;
        }
    }

    ByteSource& source_;
    const char* cur_ = nullptr;
    const char* end_ = nullptr;
    bool pendingLf_ = false;
    std::string kept_;
};

bool startsWith(std::string_view s, std::string_view key) { return s.substr(0, key.size()) == key; }

// Positions live in 16-bit fields; a position that does not fit is an overflow, and a
// failed step leaves its target as it was.
void setPosition(long& target, std::size_t position) {
    if (position <= static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max()))
        target = static_cast<long>(position);
}

void setNumber(float& target, std::optional<std::string_view> text) {
    if (!text) return;
    if (const auto v = text::toSingle(text::readNumber(*text))) target = *v;
}

// The table columns carry thousands separators; the header values never do.
void setColumn(float& target, std::optional<std::string_view> text) {
    if (!text) return;
    if (const auto v = text::toSingle(text::readNumberSkippingCommas(*text))) target = *v;
}

struct ReadSummary {
    bool idSeen = false;
    int readError = 0;  // the system's error number when the file could not be read through
};

class BodyParser {
  public:
    BodyParser(ByteSource& source, AnalysisReport& report) : in_(source), r_(report) {}

    ReadSummary run() {
        while (!in_.atEnd()) {
            const std::string_view line = in_.readLine();
            if (!handleLine(line)) break;
        }
        return summary_;
    }

  private:
    // Returns false when the file ended inside an isotope block.
    bool handleLine(std::string_view line) {
        using namespace text;
        if (startsWith(line, "ID:")) {
            r_.idText.assign(*slice(line, 4, 72));
            summary_.idSeen = true;
            return true;
        }
        if (startsWith(line, "File:")) r_.fileName.assign(*slice(line, 6, 18));
        if (const std::size_t p = find(line, "Date:")) {
            // The character after the colon is always skipped, blank or not.
            r_.dateAndTime.assign(trim(*slice(line, static_cast<long>(p) + 6, 30)));
            return true;
        }
        if (startsWith(line, "LT:")) setNumber(r_.countingTime, slice(line, 4, 18));
        if (const std::size_t p = find(line, "DT:")) {
            // The writer ends the dead time with a percent sign, which is cut off blindly.
            const std::string_view shortened = line.substr(0, line.size() - 1);
            setNumber(r_.deadTimePct, slice(shortened, static_cast<long>(p) + 3, 18));
            return true;
        }
        if (startsWith(line, "Activities reported as of")) {
            r_.sampleDate.assign(trim(*slice(line, 26, 24)));
            if (find(r_.sampleDate.value(), "Measurement Date"))
                r_.sampleDate.assign(left(r_.dateAndTime.value(), 24));
        }
        if (!find(line, "Activity =")) return true;
        return readIsotopeBlock(line);
    }

    bool readIsotopeBlock(std::string_view isotopeLine) {
        using namespace text;
        if (r_.corrCoeffPos == 0) {
            long pos = 0;
            setPosition(pos, find(isotopeLine, "Corr. Coeff."));
            r_.corrCoeffPos = static_cast<std::int16_t>(pos);
        }
        // Blocks past the model's capacity are still read through, so the text after
        // them stays in step; their rows are refused by the model.
        const bool stored = r_.addIsotope(trim(left(isotopeLine, 6)));
        if (in_.atEnd()) return false;

        // Continuation fields that carry "Activity =" are passed over until the heading.
        long p = 0;
        for (;;) {
            const std::string_view field = in_.readField();
            if (in_.atEnd()) break;
            setPosition(activityPos_, find(field, "Activity"));
            setPosition(p, find(field, "Activity ="));
            if (p <= 1) break;
        }
        in_.readField();  // the units line, or the rest of a heading that had a comma
        if (in_.atEnd()) return false;

        while (!in_.atEnd()) {
            const std::string_view row = in_.readLine();
            // The writer's tools never use a line that ends the file; the last row of a
            // table without a closing empty line is lost with it.
            if (in_.atEnd()) return false;
            if (row.empty()) break;
            readRow(row, stored);
        }
        return true;
    }

    void readRow(std::string_view row, bool stored) {
        using namespace text;
        // A value that cannot be read keeps what its slot held, as any failed step does.
        IsotopeLine v{};
        const auto i = r_.isotopeCount;
        if (stored && r_.lineCount[i] < kMaxLinesPerIsotope) v = r_.lines[i][r_.lineCount[i] + 1];

        setNumber(v.energy, left(row, 8));
        const bool second = r_.corrCoeffPos != 0;
        setColumn(v.gross, slice(row, second ? 24 : 29, 9));
        setColumn(v.net, slice(row, second ? 42 : 47, 9));
        // Without an "Activity" heading there is no column to cut: 0 says so plainly,
        // where a value carried over from another row would pass for a measurement.
        if (activityPos_ < 1)
            v.activity = 0;
        else
            setColumn(v.activity, slice(row, activityPos_, second ? 9 : 10));
        r_.addLine(v);
    }

    ReportReader in_;
    AnalysisReport& r_;
    long activityPos_ = 0;  // kept from one block to the next
    ReadSummary summary_;
};

ReadSummary parseFile(const std::string& path, AnalysisReport& report) {
    errno = 0;
    std::ifstream in(platform::toPath(path), std::ios::binary);
    if (!in) {
        ReadSummary unread;
        unread.readError = errno ? errno : EIO;
        return unread;
    }
    FileSource source(in);
    DecodingSource decoded(source);
    ReadSummary summary = BodyParser(decoded, report).run();
    summary.readError = source.error();
    return summary;
}

Status failure(int number) {
    switch (number) {
        case err::kBadFileNameOrNumber:
            return Status::failure(number, "Bad file name or number");
        case err::kBadFileName:
            return Status::failure(number, "Bad file name");
        case err::kPermissionDenied:
            return Status::failure(number, "Permission denied");
        case err::kPathNotFound:
            return Status::failure(number, "Path not found");
        default:
            return Status::failure(err::kPathFileAccess, "Path/File access error");
    }
}

Status failureFrom(int errorNumber) {
    switch (errorNumber) {
        case EACCES:
        case EPERM:
        case EROFS:
            return failure(err::kPermissionDenied);
        case ENOENT:
        case ENOTDIR:
            return failure(err::kPathNotFound);
        case ENAMETOOLONG:
        case EINVAL:
            return failure(err::kBadFileName);
        default:
            return failure(err::kPathFileAccess);
    }
}

}  // namespace

Status openTestReport(const std::string& path, std::int64_t& length) {
    length = 0;
    if (path.empty()) return failure(err::kBadFileNameOrNumber);
    if (path.find('\0') != std::string::npos) return failure(err::kBadFileName);
    const fs::path p = platform::toPath(path);
    std::error_code ec;
    const fs::file_status st = fs::status(p, ec);
    if (ec && ec != std::errc::no_such_file_or_directory) return failureFrom(ec.value());
    // Devices and pipes are refused too: opening one could wait forever for a writer.
    if (fs::exists(st) && !fs::is_regular_file(st)) return failure(err::kPathFileAccess);

    if (fs::exists(st)) {
        errno = 0;
        std::ifstream in(p, std::ios::binary);
        if (!in) return failureFrom(errno ? errno : EACCES);
        in.seekg(0, std::ios::end);
        const std::streamoff size = in.tellg();
        length = size < 0 ? 0 : static_cast<std::int64_t>(size);
        return Status::success();
    }

    // The writer's tools create the file when the folder exists; the caller then finds
    // it empty and stops quietly.
    const fs::path folder = p.has_parent_path() ? p.parent_path() : fs::path(".");
    if (!fs::is_directory(folder, ec)) return failure(err::kPathNotFound);
    errno = 0;
    std::ofstream created(p, std::ios::binary | std::ios::app);
    if (!created) return failureFrom(errno ? errno : EACCES);
    return Status::success();
}

void parseReportFile(const std::string& path, AnalysisReport& report) { parseFile(path, report); }

bool parseReportText(std::string_view bytes, AnalysisReport& report) {
    MemorySource source(bytes);
    DecodingSource decoded(source);
    return BodyParser(decoded, report).run().idSeen;
}

JobOutcome readKrvFile(WindowState& state, Dialogs& dialogs) {
    const std::string path(text::trim(state.rpathText));
    state.report.beginRead();
    std::int64_t length = 0;
    const Status opened = openTestReport(path, length);
    std::string failedWhy;
    if (!opened.ok()) {
        failedWhy = "Invalid path or file name [ " + path + " ] <" + opened.description + ">";
        if (!state.blindFlag) dialogs.message(failedWhy, kAppTitle);
        length = 0;
    }
    state.currentFileCaption.clear();
    if (length < 1) {
        if (failedWhy.empty()) failedWhy = "Report file is empty [ " + path + " ]";
        return JobOutcome::failed(failedWhy);
    }

    const ReadSummary summary = parseFile(path, state.report);
    if (summary.idSeen) state.currentFileCaption = text::cp1252ToUtf8(state.report.idText.value());
    state.numbIsoCaption = std::to_string(state.report.isotopeCount);
    // The open test passed, so the window carries on as before; a job must still learn
    // that the values came from a report that was not read through.
    if (summary.readError)
        return JobOutcome::failed(
            "Report could not be read [ " + path + " ] <" +
            std::error_code(summary.readError, std::generic_category()).message() + ">");
    return JobOutcome::done();
}

}  // namespace krv
