// The table as a spreadsheet: one sheet named after the table, written row by row in
// libxlsxwriter's constant-memory mode so a table of any length costs the same memory.

#include <xlsxwriter.h>

#include "export/forms.h"
#include "export/values.h"

namespace krv::exports {

namespace {

constexpr lxw_row_t kMaxRows = 1048576;
constexpr lxw_col_t kMaxColumns = 16384;
constexpr std::size_t kMaxCellChars = 32767;

// Texts that keep their identity even when they look like numbers (an identifier "0012"
// must not become 12).
bool staysText(std::string_view name) {
    return name == "File Name" || name == "ID Text" || name == "Date & time" ||
           name == "Sample Date";
}

// What XML 1.0 can carry: valid UTF-8 without control characters other than tab and
// line feeds, at most the cell limit of characters. A store edited by hand may hold
// anything; broken bytes become U+FFFD.
void cleanForSheet(std::string_view in, std::string& out) {
    out.clear();
    std::size_t chars = 0;
    for (std::size_t i = 0; i < in.size() && chars < kMaxCellChars;) {
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
        if (!valid) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else {
            // A cell's line break is a bare LF; CR would come out as the escape _x000D_.
            if (c == '\r') {
                if (i + 1 >= in.size() || in[i + 1] != '\n') out += '\n';
            } else if (len > 1 || c >= 0x20 || c == '\t' || c == '\n') {
                out.append(in.substr(i, len));
            }
            i += len;
        }
        ++chars;
    }
}

// Twips as the viewer stores them to the sheet's character widths (96 dots per inch,
// 15 twips a dot, 7 dots a character plus 5 dots of cell margin).
double sheetWidth(std::int16_t twips) {
    const double dots = twips / 15.0;
    return dots > 5 ? (dots - 5) / 7.0 : 0.0;
}

class XlsxForm : public Form {
  public:
    XlsxForm(const Options& o, std::string path) : options_(o), path_(std::move(path)) {}
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
        lxw_workbook_options opts{};
        opts.constant_memory = LXW_TRUE;
        opts.use_zip64 = LXW_TRUE;
        workbook_ = workbook_new_opt(path_.c_str(), &opts);
        if (!workbook_) return writeFailed();
        std::string sheetName;
        cleanForSheet(options_.table.substr(0, 31), sheetName);
        sheet_ = workbook_add_worksheet(workbook_, sheetName.c_str());
        if (!sheet_) sheet_ = workbook_add_worksheet(workbook_, nullptr);
        if (!sheet_) return writeFailed();
        lxw_format* bold = workbook_add_format(workbook_);
        format_set_bold(bold);

        numeric_.clear();
        for (std::size_t c = 0; c < shape.selected.size(); ++c) {
            const int f = shape.selected[c];
            const db::FieldInfo& field = shape.fields[static_cast<std::size_t>(f)];
            numeric_.push_back(!staysText(field.name));
            if (f < static_cast<int>(options_.widthsTwips.size()) - 1 &&
                options_.widthsTwips[static_cast<std::size_t>(f)] > 100)
                worksheet_set_column(sheet_, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c),
                                     sheetWidth(options_.widthsTwips[static_cast<std::size_t>(f)]),
                                     nullptr);
        }
        const auto lastCol =
            static_cast<lxw_col_t>(shape.selected.empty() ? 0 : shape.selected.size() - 1);
        worksheet_freeze_panes(sheet_, 1, 2);
        if (!shape.selected.empty())
            worksheet_autofilter(sheet_, 0, 0, static_cast<lxw_row_t>(shape.records), lastCol);
        for (std::size_t c = 0; c < shape.selected.size(); ++c) {
            cleanForSheet(shape.fields[static_cast<std::size_t>(shape.selected[c])].name, text_);
            const lxw_error e =
                worksheet_write_string(sheet_, 0, static_cast<lxw_col_t>(c), text_.c_str(), bold);
            if (e != LXW_NO_ERROR) return libraryFailure(e);
        }
        return Status::success();
    }

    Status row(const std::vector<db::Value>& row) override {
        ++rowIndex_;
        if (rowIndex_ >= kMaxRows)
            return Status::failure(kNotRepresentable, "the table grew past one sheet's rows");
        for (std::size_t c = 0; c < shape_->selected.size(); ++c) {
            const db::Value* v = shape_->cell(row, shape_->selected[c]);
            if (!v) continue;
            const auto col = static_cast<lxw_col_t>(c);
            lxw_error e = LXW_NO_ERROR;
            if (const auto* d = std::get_if<double>(v)) {
                e = worksheet_write_number(sheet_, rowIndex_, col, *d, nullptr);
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
                cleanForSheet(text, text_);
                e = worksheet_write_string(sheet_, rowIndex_, col, text_.c_str(), nullptr);
            }
            if (e != LXW_NO_ERROR) return libraryFailure(e);
        }
        return Status::success();
    }

    Status finish() override {
        const lxw_error e = workbook_close(workbook_);
        workbook_ = nullptr;
        return e == LXW_NO_ERROR ? Status::success() : libraryFailure(e);
    }

  private:
    Status libraryFailure(lxw_error e) const {
        return Status::failure(err::kPathFileAccess,
                               "cannot write the spreadsheet: " + std::string(lxw_strerror(e)));
    }

    const Options& options_;
    std::string path_;
    lxw_workbook* workbook_ = nullptr;
    lxw_worksheet* sheet_ = nullptr;
    const TableShape* shape_ = nullptr;
    std::vector<bool> numeric_;
    lxw_row_t rowIndex_ = 0;
    std::string text_;
};

}  // namespace

std::unique_ptr<Form> makeXlsxForm(const Options& options, const std::string& path) {
    return std::make_unique<XlsxForm>(options, path);
}

}  // namespace krv::exports
