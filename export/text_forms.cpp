// The three text forms: the table as CSV, the long (tidy) form, and the LIMS's
// two-dimensional instrument file.

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <map>
#include <optional>
#include <unordered_map>

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
    if (const auto* d = std::get_if<double>(v)) return scratch = text::numberText(*d);
    return {};
}

std::string_view trimBoth(std::string_view s) { return text::trim(trimPadding(s)); }

class CsvForm : public Form {
  public:
    CsvForm(const Options& o, ByteSink& out) : keepPadding_(o.keepPadding), out_(out) {}

    Status begin(const TableShape& shape) override {
        shape_ = &shape;
        bool first = true;
        for (int f : shape.selected) {
            if (!first) out_.put(',');
            first = false;
            out_.putCsvField(shape.fields[static_cast<std::size_t>(f)].name);
        }
        out_.put(kEol);
        return Status::success();
    }

    Status row(const std::vector<db::Value>& row, std::int64_t) override {
        bool first = true;
        for (int f : shape_->selected) {
            if (!first) out_.put(',');
            first = false;
            const std::string_view cell = cellText(shape_->cell(row, f), scratch_);
            out_.putCsvField(keepPadding_ ? cell : trimPadding(cell));
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
        if (!isFixedField(name)) out.push_back({f, name, parseIsotopeColumn(name)});
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
    if (const auto n = readStoredNumber(stored)) return scratch = text::numberText(*n);
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
            out_.putCsvField(f.name);
            out_.put(',');
        }
        out_.put("Nuclide,Line,Quantity,Value");
        out_.put(kEol);
        return Status::success();
    }

    Status row(const std::vector<db::Value>& row, std::int64_t) override {
        // The record's own columns are written once per value; build them once.
        prefix_.clear();
        for (std::size_t i = 0; i < fixed_.size(); ++i) {
            std::string_view cell = trimPadding(cellText(shape_->cell(row, fixed_[i]), scratch_));
            if (i == fixed_.size() - 1) cell = trimBoth(cell);
            text::appendCsvField(prefix_, cell);
            prefix_ += ',';
        }
        for (const ValueColumn& c : values_) {
            const std::string_view stored =
                trimBoth(cellText(shape_->cell(row, c.field), scratch_));
            if (stored.empty()) continue;
            out_.put(prefix_);
            out_.putCsvField(c.meaning.nuclide);
            out_.put(',');
            out_.putCsvField(c.meaning.line);
            out_.put(',');
            out_.put(c.meaning.quantity);
            out_.put(',');
            out_.putCsvField(valueText(stored, number_));
            out_.put(kEol);
        }
        return Status::success();
    }

    Status finish() override { return Status::success(); }

  private:
    ByteSink& out_;
    const TableShape* shape_ = nullptr;
    std::vector<int> fixed_;
    std::vector<ValueColumn> values_;
    std::string prefix_, scratch_, number_;
};

// The LIMS splits its lines at every comma and knows no quoting, so a text that holds a
// comma or a line break cannot be carried at all (nor a quote, which spreadsheet programs
// opening the file would take for quoting).
bool fitsTwoDimension(std::string_view text) {
    return text.find_first_of(",\r\n\"") == std::string_view::npos;
}

// Cells as the LIMS sees them: it strips every token of Python's blanks.
std::string_view limsTrim(std::string_view s) { return text::trim(trimPadding(s), " \t\v\f\r\n"); }

// What Python's float() (the LIMS runs Python 2) makes of a text it accepts that is no
// number the archive would write: nothing when it does not accept the text.
std::optional<double> pythonFloat(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::string rest;
    for (std::size_t k = i; k < s.size(); ++k)
        rest += static_cast<char>(std::tolower(static_cast<unsigned char>(s[k])));
    const bool negative = !s.empty() && s[0] == '-';
    if (rest == "inf" || rest == "infinity") return negative ? -HUGE_VAL : HUGE_VAL;
    if (rest == "nan") return std::nan("");
    std::size_t digits = 0, k = 0;
    while (k < rest.size() && std::isdigit(static_cast<unsigned char>(rest[k]))) ++k, ++digits;
    if (k < rest.size() && rest[k] == '.') ++k;
    while (k < rest.size() && std::isdigit(static_cast<unsigned char>(rest[k]))) ++k, ++digits;
    if (digits == 0) return std::nullopt;
    if (k < rest.size() && rest[k] == 'e') {
        ++k;
        if (k < rest.size() && (rest[k] == '+' || rest[k] == '-')) ++k;
        const std::size_t e = k;
        while (k < rest.size() && std::isdigit(static_cast<unsigned char>(rest[k]))) ++k;
        if (k == e) return std::nullopt;
    }
    if (k != rest.size()) return std::nullopt;
    return std::strtod(std::string(s).c_str(), nullptr);
}

// Why the LIMS would not import `value` as the number the archive holds; empty when it
// would. "ND" and texts starting with "--" are its own words for 0, and a negative number
// becomes 0 there by design (both documented).
std::string limsValueProblem(std::string_view value) {
    if (value.empty() || readStoredNumber(value) || value == "ND" || value.substr(0, 2) == "--")
        return {};
    if (!fitsTwoDimension(value)) return "holds a comma, quote or line break";
    if (const auto d = pythonFloat(value)) {
        if (std::isinf(*d) && *d > 0) return "is no finite number: the LIMS would store infinity";
        return "is no finite number: the LIMS would store 0";
    }
    return "is no number: the LIMS would not import it";
}

// Keywords across after an ignored first cell, closed by "end"; one line per sample
// with an empty last cell; a closing "end" line. Every record is checked before the first
// byte is written, so a failure writes nothing, not even to a stream.
class Lims2dForm : public Form {
  public:
    Lims2dForm(const Options& o, ByteSink& out, const NoteFn& notes)
        : options_(o), out_(out), notes_(notes) {}

    std::vector<int> extraColumns(const TableShape& shape) const override {
        return {shape.field(sampleColumn())};
    }

    bool checksFirst() const override { return true; }

    Status prepare(const TableShape& shape) override {
        shape_ = &shape;
        sample_ = shape.field(sampleColumn());
        if (sample_ < 0)
            return Status::failure(err::kItemNotFound,
                                   "the table has no '" + sampleColumn() + "' column");
        if (options_.keywords.empty()) {
            for (const ValueColumn& c : valueColumns(shape)) columns_.emplace_back(c.field, c.name);
        } else {
            for (const auto& [column, keyword] : options_.keywords) {
                const int f = shape.field(column);
                if (f >= 0 && std::find(shape.selected.begin(), shape.selected.end(), f) !=
                                  shape.selected.end())
                    columns_.emplace_back(f, keyword);
            }
        }
        std::map<std::string, std::string> lookedUp;
        for (const auto& [field, keyword] : columns_) {
            const std::string_view k = limsTrim(keyword);
            if (!fitsTwoDimension(keyword))
                return Status::failure(
                    kNotRepresentable,
                    "the LIMS keyword '" + keyword + "' holds a comma, quote or line break");
            const std::string key = limsLookupKeyword(k, options_.limsRules);
            if (key.empty())
                return Status::failure(
                    kNotRepresentable,
                    "the LIMS keyword '" + keyword + "' has no letter or digit the LIMS looks up");
            const auto [at, fresh] = lookedUp.emplace(key, keyword);
            if (!fresh)
                return Status::failure(kNotRepresentable,
                                       "the LIMS keywords '" + at->second + "' and '" + keyword +
                                           "' are both looked up as '" + key + "'");
        }
        return Status::success();
    }

    void check(const std::vector<db::Value>& row, std::int64_t position) override {
        const std::string_view id = limsTrim(cellText(shape_->cell(row, sample_), scratch_));
        const std::string where = "record " + std::to_string(position) + ": ";
        if (id.empty()) {
            problem(where + "the sample identifier ('" + sampleColumn() +
                    "') is empty, which the LIMS cannot place");
        } else if (id == "end") {
            problem(where + "the sample identifier is 'end', which makes the LIMS skip the line");
        } else if (!fitsTwoDimension(id)) {
            problem(where + "the sample identifier '" + std::string(id) +
                    "' holds a comma, quote or line break");
        } else {
            Sample& s = samples_[std::string(id)];
            if (s.count++ == 0) s.first = position;
            s.last = position;
        }
        for (const auto& [field, keyword] : columns_) {
            const std::string_view v =
                valueText(limsTrim(cellText(shape_->cell(row, field), scratch_)), number_);
            const std::string why = limsValueProblem(v);
            if (!why.empty())
                problem(where + "the value '" + std::string(v) + "' of '" +
                        shape_->fields[static_cast<std::size_t>(field)].name + "' " + why);
        }
    }

    Status checked() override {
        if (options_.duplicates == Duplicates::Fail) {
            std::vector<std::pair<const std::string*, const Sample*>> shared;
            for (const auto& [id, s] : samples_)
                if (s.count > 1) shared.emplace_back(&id, &s);
            std::sort(shared.begin(), shared.end(), [](const auto& a, const auto& b) {
                return a.second->first < b.second->first;
            });
            for (const auto& [idp, sp] : shared) {
                const std::string& id = *idp;
                const Sample& s = *sp;
                problem("records " + std::to_string(s.first) + " and " + std::to_string(s.last) +
                        (s.count > 2 ? " (and " + std::to_string(s.count - 2) + " more)"
                                     : std::string()) +
                        " have the sample identifier '" + id +
                        "', which the LIMS would merge into one sample");
            }
        }
        if (problems_ == 0) return Status::success();
        std::string text = std::to_string(problems_) + (problems_ == 1 ? " problem" : " problems") +
                           " for the LIMS, nothing written: " + listed_;
        if (problems_ > kListed) text += "; and " + std::to_string(problems_ - kListed) + " more";
        return Status::failure(kNotRepresentable, text);
    }

    Status begin(const TableShape&) override {
        out_.put("");
        for (const auto& [field, keyword] : columns_) {
            out_.put(',');
            out_.put(limsTrim(keyword));
        }
        out_.put(",end");
        out_.put(kEol);
        return Status::success();
    }

    Status row(const std::vector<db::Value>& row, std::int64_t position) override {
        const std::string_view id = limsTrim(cellText(shape_->cell(row, sample_), scratch_));
        const auto s = samples_.find(std::string(id));
        if (s == samples_.end())
            return Status::failure(kNotRepresentable, "record " + std::to_string(position) +
                                                          " changed while it was exported");
        if (s->second.count > 1) {
            const bool kept = options_.duplicates == Duplicates::First ? position == s->second.first
                                                                       : position == s->second.last;
            if (!kept) {
                ++skipped_;
                return Status::success();
            }
        }
        out_.put(id);
        for (const auto& [field, keyword] : columns_) {
            const std::string_view v =
                valueText(limsTrim(cellText(shape_->cell(row, field), scratch_)), number_);
            if (!limsValueProblem(v).empty())
                return Status::failure(kNotRepresentable, "record " + std::to_string(position) +
                                                              " changed while it was exported");
            out_.put(',');
            out_.put(v);
        }
        out_.put(',');
        out_.put(kEol);
        return Status::success();
    }

    Status finish() override {
        out_.put("end");
        out_.put(std::string(columns_.size() + 1, ','));
        out_.put(kEol);
        if (skipped_ > 0 && notes_)
            notes_({0,
                    {},
                    std::to_string(skipped_) + (skipped_ == 1 ? " record" : " records") +
                        " left out for " +
                        (options_.duplicates == Duplicates::First ? "an earlier" : "a later") +
                        " record of the same sample identifier"});
        return Status::success();
    }

  private:
    static constexpr std::int64_t kListed = 5;
    struct Sample {
        std::int64_t count = 0, first = 0, last = 0;
    };

    std::string sampleColumn() const {
        return options_.sampleIdFromFileName ? kFileNameField : kIdTextField;
    }
    void problem(const std::string& text) {
        if (problems_++ < kListed) listed_ += (listed_.empty() ? "" : "; ") + text;
    }

    const Options& options_;
    ByteSink& out_;
    const NoteFn& notes_;
    const TableShape* shape_ = nullptr;
    int sample_ = -1;
    std::vector<std::pair<int, std::string>> columns_;
    std::unordered_map<std::string, Sample> samples_;
    std::int64_t problems_ = 0, skipped_ = 0;
    std::string listed_, scratch_, number_;
};

}  // namespace

std::unique_ptr<Form> makeTextForm(const Options& options, ByteSink& sink, const NoteFn& notes) {
    switch (options.format) {
        case Format::Long:
            return std::make_unique<LongForm>(sink);
        case Format::Lims2d:
            return std::make_unique<Lims2dForm>(options, sink, notes);
        default:
            return std::make_unique<CsvForm>(options, sink);
    }
}

}  // namespace krv::exports
