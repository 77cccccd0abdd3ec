#pragma once

// The export forms behind results_export.h: each turns rows of the selected records into
// its own bytes. Internal to the export library.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "export/results_export.h"
#include "report/text.h"

namespace krv::exports {

// Bytes out, gathered in a large buffer so the store's reads and the writes interleave in
// big steps. Any write failure sticks.
class ByteSink {
  public:
    virtual ~ByteSink() = default;
    void put(char c) { buffer_.push_back(c); }
    void put(std::string_view s) { buffer_.append(s); }
    void putCsvField(std::string_view s) { text::appendCsvField(buffer_, s); }
    bool flushIfFull() { return buffer_.size() < kFlushAt || flush(); }
    bool flush();
    bool failed() const { return failed_; }

  protected:
    virtual bool writeOut(const char* data, std::size_t size) = 0;

  private:
    static constexpr std::size_t kFlushAt = 1u << 18;
    std::string buffer_;
    bool failed_ = false;
};

// What the forms know of the table: its columns, which of them were chosen (in output
// order) and where each column's value sits in a row read from the store (row[0] is the
// record's identity; -1 for a column that was not read).
struct TableShape {
    std::vector<db::FieldInfo> fields;
    std::vector<int> selected;
    std::vector<int> rowPos;
    std::int64_t records = 0;
    std::int64_t firstPosition = 1;  // of the first record exported, counted from 1
    int field(std::string_view name) const;
    const db::Value* cell(const std::vector<db::Value>& row, int fieldIndex) const {
        const int p = fieldIndex < 0 ? -1 : rowPos[static_cast<std::size_t>(fieldIndex)];
        return p < 0 ? nullptr : &row[static_cast<std::size_t>(p)];
    }
};

class Form {
  public:
    virtual ~Form() = default;
    // Columns the form reads beyond the selected ones (field indices).
    virtual std::vector<int> extraColumns(const TableShape&) const { return {}; }
    // A form that must see every record before it writes anything (so a failure leaves
    // nothing, even on a stream) gets a read-only pass of check() calls, then checked().
    virtual bool checksFirst() const { return false; }
    virtual Status prepare(const TableShape&) { return Status::success(); }
    virtual void check(const std::vector<db::Value>&, std::int64_t /*position*/) {}
    virtual Status checked() { return Status::success(); }
    virtual Status begin(const TableShape& shape) = 0;
    // `position`: the record's place in the table, counted from 1.
    virtual Status row(const std::vector<db::Value>& row, std::int64_t position) = 0;
    virtual Status finish() = 0;
};

std::unique_ptr<Form> makeTextForm(const Options& options, ByteSink& sink, const NoteFn& notes);
// `tmpdir`: where the spreadsheet library keeps its working files.
std::unique_ptr<Form> makeXlsxForm(const Options& options, const std::string& path,
                                   const std::string& tmpdir, const NoteFn& notes);

// Reads a finished workbook back: every part inflates whole to the size its directory
// records, every XML part ends with its root element's end tag, and the first
// sheet's rows are exactly `sheetRowBytes` bytes. The spreadsheet library does not check
// its own temporary files, so a failed write there shows only here.
Status checkWorkbook(const std::string& path, std::uint64_t sheetRowBytes);

// A text as a spreadsheet cell can hold it (valid UTF-8, no control characters but tab
// and line feed, at most 32767 characters) in `out`; what had to change in `changes`
// ("; "-separated, empty when the text went in as it is).
void sheetText(std::string_view in, std::string& out, std::string& changes);

// A failed write as the system reported it (the output is named by the caller).
Status writeFailed();

}  // namespace krv::exports
