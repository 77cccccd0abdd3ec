// The table as a spreadsheet: one sheet named after the table, written row by row in
// libxlsxwriter's constant-memory mode so a table of any length costs the same memory.

#include <xlsxwriter.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include "export/forms.h"
#include "export/values.h"
#include "platform/output_files.h"

namespace krv::exports {

namespace {

constexpr lxw_row_t kMaxRows = 1048576;
constexpr lxw_col_t kMaxColumns = 16384;
constexpr std::size_t kMaxCellChars = 32767;

namespace err {
using namespace krv::err;
inline constexpr int kOutOfMemory = 7;
}  // namespace err

// Texts that keep their identity even when they look like numbers (an identifier "0012"
// must not become 12).
bool staysText(std::string_view name) {
    return name == kFileNameField || name == kIdTextField || name == kDateAndTimeField ||
           name == kSampleDateField;
}

std::string codePoint(unsigned c) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "U+%04X", c);
    return buf;
}

// Twips as the viewer stores them to the sheet's character widths (96 dots per inch,
// 15 twips a dot, 7 dots a character plus 5 dots of cell margin).
double sheetWidth(std::int16_t twips) {
    const double dots = twips / 15.0;
    return dots > 5 ? (dots - 5) / 7.0 : 0.0;
}

class XlsxForm : public Form {
  public:
    XlsxForm(const Options& o, std::string path, std::string tmpdir, const NoteFn& notes)
        : options_(o), path_(std::move(path)), tmpdir_(std::move(tmpdir)), notes_(notes) {}
    ~XlsxForm() override {
        if (workbook_) workbook_close(workbook_);
    }

    Status begin(const TableShape& shape) override {
        shape_ = &shape;
        if (shape.records + 1 > static_cast<std::int64_t>(kMaxRows))
            return Status::failure(kNotRepresentable,
                                   std::to_string(shape.records) +
                                       " records do not fit on one sheet (at most 1048575)");
        if (shape.selected.size() > kMaxColumns)
            return Status::failure(kNotRepresentable,
                                   std::to_string(shape.selected.size()) +
                                       " columns do not fit on one sheet (at most 16384)");
        // The library prints its own failures; ours say them once, in our words.
        quiet_.emplace(std::vector<std::string>{"[ERROR]", "[WARNING]"});
        lxw_workbook_options opts{};
        opts.constant_memory = LXW_TRUE;
        opts.use_zip64 = LXW_TRUE;
        opts.tmpdir = tmpdir_.empty() ? nullptr : tmpdir_.data();
        errno = 0;
        workbook_ = workbook_new_opt(path_.c_str(), &opts);
        if (!workbook_) return Status::failure(err::kOutOfMemory, "out of memory");
        std::string sheetName, changes;
        sheetText(options_.table.substr(0, 31), sheetName, changes);
        sheet_ = workbook_add_worksheet(workbook_, sheetName.c_str());
        // Its working file could not be made (the only cause besides memory).
        if (!sheet_) return workingFileFailure();
        lxw_format* bold = workbook_add_format(workbook_);
        if (!bold) return Status::failure(err::kOutOfMemory, "out of memory");
        format_set_bold(bold);

        numeric_.clear();
        for (std::size_t c = 0; c < shape.selected.size(); ++c) {
            const int f = shape.selected[c];
            const db::FieldInfo& field = shape.fields[static_cast<std::size_t>(f)];
            numeric_.push_back(!staysText(field.name));
            if (f < static_cast<int>(options_.widthsTwips.size()) - 1 &&
                options_.widthsTwips[static_cast<std::size_t>(f)] > 100) {
                const lxw_error e = worksheet_set_column(
                    sheet_, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c),
                    sheetWidth(options_.widthsTwips[static_cast<std::size_t>(f)]), nullptr);
                if (e != LXW_NO_ERROR) return libraryFailure(e);
            }
        }
        const auto lastCol =
            static_cast<lxw_col_t>(shape.selected.empty() ? 0 : shape.selected.size() - 1);
        worksheet_freeze_panes(sheet_, 1, 2);
        if (!shape.selected.empty()) {
            const lxw_error e =
                worksheet_autofilter(sheet_, 0, 0, static_cast<lxw_row_t>(shape.records), lastCol);
            if (e != LXW_NO_ERROR) return libraryFailure(e);
        }
        for (std::size_t c = 0; c < shape.selected.size(); ++c) {
            sheetText(shape.fields[static_cast<std::size_t>(shape.selected[c])].name, text_,
                      changes);
            const lxw_error e =
                worksheet_write_string(sheet_, 0, static_cast<lxw_col_t>(c), text_.c_str(), bold);
            if (e != LXW_NO_ERROR) return libraryFailure(e);
        }
        return Status::success();
    }

    Status row(const std::vector<db::Value>& row, std::int64_t position) override {
        ++rowIndex_;
        if (rowIndex_ >= kMaxRows)
            return Status::failure(kNotRepresentable, "the table grew past one sheet's rows");
        for (std::size_t c = 0; c < shape_->selected.size(); ++c) {
            const db::Value* v = shape_->cell(row, shape_->selected[c]);
            if (!v) continue;
            const auto col = static_cast<lxw_col_t>(c);
            lxw_error e = LXW_NO_ERROR;
            if (const auto* d = std::get_if<double>(v)) {
                if (std::isfinite(*d)) {
                    e = worksheet_write_number(sheet_, rowIndex_, col, *d, nullptr);
                } else {
                    // A sheet has no infinity: the value goes as its text.
                    note(position, c, "no finite number, written as text");
                    e = worksheet_write_string(sheet_, rowIndex_, col, text::numberText(*d).c_str(),
                                               nullptr);
                }
            } else if (const auto* s = std::get_if<std::string>(v)) {
                const std::string_view text =
                    options_.keepPadding ? std::string_view(*s) : trimPadding(*s);
                if (text.empty()) continue;
                if (numeric_[c]) {
                    if (const auto n = readStoredNumber(text)) {
                        e = worksheet_write_number(sheet_, rowIndex_, col, *n, nullptr);
                        if (e != LXW_NO_ERROR) return libraryFailure(e);
                        continue;
                    }
                }
                sheetText(text, text_, changes_);
                if (!changes_.empty()) note(position, c, changes_);
                e = worksheet_write_string(sheet_, rowIndex_, col, text_.c_str(), nullptr);
            }
            if (e != LXW_NO_ERROR) return libraryFailure(e);
        }
        // The library does not check the writes of its working file; a full disk shows
        // only in the stream's error flag.
        if (std::ferror(sheet_->optimize_tmpfile)) return workingFileFailure();
        return Status::success();
    }

    Status finish() override {
        // The last row is still in memory: write it out and learn how many bytes of rows
        // the sheet must hold.
        lxw_worksheet_write_single_row(sheet_);
        errno = 0;
        if (std::fflush(sheet_->optimize_tmpfile) != 0 || std::ferror(sheet_->optimize_tmpfile))
            return workingFileFailure();
        const off_t rowBytes = ftello(sheet_->optimize_tmpfile);
        if (rowBytes < 0) return workingFileFailure();
        errno = 0;
        const lxw_error e = workbook_close(workbook_);
        workbook_ = nullptr;
        if (e != LXW_NO_ERROR) return libraryFailure(e);
        return checkWorkbook(path_, static_cast<std::uint64_t>(rowBytes));
    }

  private:
    void note(std::int64_t position, std::size_t c, const std::string& what) {
        if (notes_)
            notes_({position, shape_->fields[static_cast<std::size_t>(shape_->selected[c])].name,
                    what});
    }

    Status workingFileFailure() const {
        if (errno == 0 || errno == ENOSPC) return writeFailed();
        return Status::failure(
            err::kPathFileAccess,
            "cannot write the spreadsheet's working files: " + std::string(std::strerror(errno)));
    }

    // The library's own words name its private files; errno says what the system refused.
    Status libraryFailure(lxw_error e) const {
        if (errno != 0) return writeFailed();
        if (e == LXW_ERROR_MEMORY_MALLOC_FAILED)
            return Status::failure(err::kOutOfMemory, "out of memory");
        return Status::failure(err::kPathFileAccess,
                               "cannot write the spreadsheet: " + std::string(lxw_strerror(e)));
    }

    const Options& options_;
    std::string path_, tmpdir_;
    const NoteFn& notes_;
    std::optional<platform::StderrFilter> quiet_;
    lxw_workbook* workbook_ = nullptr;
    lxw_worksheet* sheet_ = nullptr;
    const TableShape* shape_ = nullptr;
    std::vector<bool> numeric_;
    lxw_row_t rowIndex_ = 0;
    std::string text_, changes_;
};

}  // namespace

// What XML 1.0 can carry: valid UTF-8 without control characters other than tab and
// line feed, at most the cell limit of characters. A store edited by hand may hold
// anything; broken bytes become U+FFFD. NULs that only pad the end go without a word.
void sheetText(std::string_view in, std::string& out, std::string& changes) {
    out.clear();
    changes.clear();
    std::size_t chars = 0;
    bool replaced = false, crlf = false, loneCr = false;
    unsigned firstControl = 0x100;
    const auto padStart = in.find_last_not_of('\0') + 1;
    for (std::size_t i = 0; i < in.size();) {
        const auto c = static_cast<unsigned char>(in[i]);
        std::size_t len = c < 0x80         ? 1
                          : (c >> 5) == 6  ? 2
                          : (c >> 4) == 14 ? 3
                          : (c >> 3) == 30 ? 4
                                           : 0;
        bool valid = len > 0 && i + len <= in.size();
        for (std::size_t k = 1; valid && k < len; ++k)
            valid = (static_cast<unsigned char>(in[i + k]) & 0xC0) == 0x80;
        if (valid && len > 1) {
            // Overlong forms, surrogates and values past U+10FFFF are not characters.
            std::uint32_t cp = c & (0x7F >> len);
            for (std::size_t k = 1; k < len; ++k)
                cp = cp << 6 | (static_cast<unsigned char>(in[i + k]) & 0x3F);
            static constexpr std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
            valid = cp >= kMin[len] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF) &&
                    cp != 0xFFFE && cp != 0xFFFF;
        }
        const bool room = chars < kMaxCellChars;
        if (!valid) {
            if (room) out += "\xEF\xBF\xBD";
            replaced = true;
            len = 1;
        } else if (c == '\r') {
            // A cell's line break is a bare LF; CR would come out as the escape _x000D_.
            const bool pair = i + 1 < in.size() && in[i + 1] == '\n';
            if (room && !pair) out += '\n';
            (pair ? crlf : loneCr) = true;
            if (pair) {
                i += len;
                continue;
            }
        } else if (len > 1 || c >= 0x20 || c == '\t' || c == '\n') {
            if (room) out.append(in.substr(i, len));
        } else {
            if (i < padStart && firstControl == 0x100) firstControl = c;
            i += len;
            continue;
        }
        i += len;
        ++chars;
    }
    const auto add = [&](const std::string& what) {
        changes += (changes.empty() ? "" : "; ") + what;
    };
    if (chars > kMaxCellChars)
        add("cut to " + std::to_string(kMaxCellChars) + " of " + std::to_string(chars) +
            " characters, a cell's limit");
    if (firstControl != 0x100)
        add("control character " + codePoint(firstControl) + " left out, a sheet cannot hold it");
    if (crlf) add("line break CR LF written as LF");
    if (loneCr) add("line break CR written as LF");
    if (replaced) add("bytes that are no UTF-8 written as U+FFFD");
}

std::unique_ptr<Form> makeXlsxForm(const Options& options, const std::string& path,
                                   const std::string& tmpdir, const NoteFn& notes) {
    return std::make_unique<XlsxForm>(options, path, tmpdir, notes);
}

}  // namespace krv::exports
