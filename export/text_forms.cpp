// The three text forms: the table as CSV, the long (tidy) form, and the LIMS's
// two-dimensional instrument file.

#include <algorithm>

#include "export/forms.h"
#include "export/values.h"
#include "results_db/archive.h"

namespace krv::exports {

namespace {

constexpr std::string_view kEol = "\r\n";

// The text of a cell as stored; numbers in their shortest form.
std::string_view cellText(const db::Value* v, std::string& scratch) {
    if (!v) return {};
    if (const auto* s = std::get_if<std::string>(v)) return *s;
    if (const auto* d = std::get_if<double>(v)) return scratch = numberText(*d);
    return {};
}

std::string_view trimBoth(std::string_view s) {
    s = trimPadding(s);
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    return s;
}

// Quotes only where RFC 4180 needs it. `Out` is the sink or a string being built.
template <typename Out>
void putCsvField(Out& out, std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out.put(text);
        return;
    }
    out.put('"');
    for (char c : text) {
        if (c == '"') out.put('"');
        out.put(c);
    }
    out.put('"');
}

class CsvForm : public Form {
  public:
    CsvForm(const Options& o, ByteSink& out) : keepPadding_(o.keepPadding), out_(out) {}

    Status begin(const TableShape& shape) override {
        shape_ = &shape;
        bool first = true;
        for (int f : shape.selected) {
            if (!first) out_.put(',');
            first = false;
            putCsvField(out_, shape.fields[static_cast<std::size_t>(f)].name);
        }
        out_.put(kEol);
        return Status::success();
    }

    Status row(const std::vector<db::Value>& row) override {
        bool first = true;
        for (int f : shape_->selected) {
            if (!first) out_.put(',');
            first = false;
            std::string_view text = cellText(shape_->cell(row, f), scratch_);
            putCsvField(out_, keepPadding_ ? text : trimPadding(text));
        }
        out_.put(kEol);
        return Status::success();
    }

    Status finish() override { return Status::success(); }

  private:
    bool keepPadding_;
    ByteSink& out_;
    const TableShape* shape_ = nullptr;
    std::string scratch_;
};

// Isotope columns among the selected ones, read back from their names once.
struct ValueColumn {
    int field;
    std::string name;
    IsotopeColumn meaning;
};
std::vector<ValueColumn> valueColumns(const TableShape& shape) {
    std::vector<ValueColumn> out;
    for (int f : shape.selected) {
        const std::string& name = shape.fields[static_cast<std::size_t>(f)].name;
        if (!isFixedColumn(name)) out.push_back({f, name, parseIsotopeColumn(name)});
    }
    return out;
}

std::vector<int> fixedColumns(const TableShape& shape) {
    std::vector<int> out;
    for (const db::FieldInfo& f : fixedFields()) out.push_back(shape.field(f.name));
    return out;
}

// A value for the forms that want numbers: "." as separator, texts that are no number
// as they stand (trimmed), so nothing the table holds is lost.
std::string_view valueText(std::string_view stored, std::string& scratch) {
    stored = trimBoth(stored);
    if (const auto n = readStoredNumber(stored)) return scratch = numberText(*n);
    return stored;
}

class LongForm : public Form {
  public:
    explicit LongForm(ByteSink& out) : out_(out) {}

    std::vector<int> extraColumns(const TableShape& shape) const override {
        return fixedColumns(shape);
    }

    Status begin(const TableShape& shape) override {
        shape_ = &shape;
        fixed_ = fixedColumns(shape);
        values_ = valueColumns(shape);
        for (const db::FieldInfo& f : fixedFields()) {
            putCsvField(out_, f.name);
            out_.put(',');
        }
        out_.put("Nuclide,Line,Quantity,Value");
        out_.put(kEol);
        return Status::success();
    }

    Status row(const std::vector<db::Value>& row) override {
        // The record's own columns are written once per value; build them once.
        prefix_.clear();
        for (std::size_t i = 0; i < fixed_.size(); ++i) {
            std::string_view text = trimPadding(cellText(shape_->cell(row, fixed_[i]), scratch_));
            if (i == fixed_.size() - 1) text = trimBoth(text);
            StringOut to{prefix_};
            putCsvField(to, text);
            prefix_ += ',';
        }
        for (const ValueColumn& c : values_) {
            const std::string_view stored =
                trimBoth(cellText(shape_->cell(row, c.field), scratch_));
            if (stored.empty()) continue;
            out_.put(prefix_);
            putCsvField(out_, c.meaning.nuclide);
            out_.put(',');
            putCsvField(out_, c.meaning.line);
            out_.put(',');
            out_.put(c.meaning.quantity);
            out_.put(',');
            putCsvField(out_, valueText(stored, number_));
            out_.put(kEol);
        }
        return Status::success();
    }

    Status finish() override { return Status::success(); }

  private:
    struct StringOut {
        std::string& s;
        void put(char c) { s += c; }
        void put(std::string_view t) { s += t; }
    };

    ByteSink& out_;
    const TableShape* shape_ = nullptr;
    std::vector<int> fixed_;
    std::vector<ValueColumn> values_;
    std::string prefix_, scratch_, number_;
};

// The LIMS splits its lines at every comma and knows no quoting, so a text that holds a
// comma or a line break cannot be carried at all.
bool fitsTwoDimension(std::string_view text) {
    return text.find_first_of(",\r\n\"") == std::string_view::npos;
}

// Keywords across after an ignored first cell, closed by "end"; one line per sample
// with an empty last cell; a closing "end" line.
class Lims2dForm : public Form {
  public:
    Lims2dForm(const Options& o, ByteSink& out)
        : keywords_(o.keywords), fromFileName_(o.sampleIdFromFileName), out_(out) {}

    std::vector<int> extraColumns(const TableShape& shape) const override {
        return {shape.field(sampleColumn())};
    }

    Status begin(const TableShape& shape) override {
        shape_ = &shape;
        sample_ = shape.field(sampleColumn());
        if (sample_ < 0)
            return Status::failure(err::kItemNotFound,
                                   "the table has no '" + sampleColumn() + "' column");
        std::vector<std::pair<int, std::string>> columns;
        if (keywords_.empty()) {
            for (const ValueColumn& c : valueColumns(shape)) columns.emplace_back(c.field, c.name);
        } else {
            for (const auto& [column, keyword] : keywords_) {
                const int f = shape.field(column);
                if (f >= 0 && std::find(shape.selected.begin(), shape.selected.end(), f) !=
                                  shape.selected.end())
                    columns.emplace_back(f, keyword);
            }
        }
        out_.put("");
        for (const auto& [field, keyword] : columns) {
            if (!fitsTwoDimension(keyword))
                return Status::failure(
                    kNotRepresentable,
                    "the LIMS keyword '" + keyword + "' holds a comma, quote or line break");
            out_.put(',');
            out_.put(keyword);
            fields_.push_back(field);
        }
        out_.put(",end");
        out_.put(kEol);
        return Status::success();
    }

    Status row(const std::vector<db::Value>& row) override {
        const std::int64_t position = shape_->firstPosition + rowsDone_++;
        const std::string_view id = trimBoth(cellText(shape_->cell(row, sample_), scratch_));
        if (!fitsTwoDimension(id))
            return Status::failure(kNotRepresentable, "record " + std::to_string(position) +
                                                          ": the sample identifier '" +
                                                          std::string(id) +
                                                          "' holds a comma, quote or line break");
        out_.put(id);
        for (int f : fields_) {
            const std::string_view v =
                valueText(trimBoth(cellText(shape_->cell(row, f), scratch_)), number_);
            if (!fitsTwoDimension(v))
                return Status::failure(kNotRepresentable,
                                       "record " + std::to_string(position) + ": the value '" +
                                           std::string(v) + "' of '" +
                                           shape_->fields[static_cast<std::size_t>(f)].name +
                                           "' holds a comma, quote or line break");
            out_.put(',');
            out_.put(v);
        }
        out_.put(',');
        out_.put(kEol);
        return Status::success();
    }

    Status finish() override {
        out_.put("end");
        out_.put(std::string(fields_.size() + 1, ','));
        out_.put(kEol);
        return Status::success();
    }

  private:
    std::string sampleColumn() const { return fromFileName_ ? "File Name" : "ID Text"; }

    std::vector<std::pair<std::string, std::string>> keywords_;
    bool fromFileName_;
    ByteSink& out_;
    const TableShape* shape_ = nullptr;
    int sample_ = -1;
    std::vector<int> fields_;
    std::int64_t rowsDone_ = 0;
    std::string scratch_, number_;
};

}  // namespace

std::unique_ptr<Form> makeTextForm(const Options& options, ByteSink& sink) {
    switch (options.format) {
        case Format::Long:
            return std::make_unique<LongForm>(sink);
        case Format::Lims2d:
            return std::make_unique<Lims2dForm>(options, sink);
        default:
            return std::make_unique<CsvForm>(options, sink);
    }
}

}  // namespace krv::exports
