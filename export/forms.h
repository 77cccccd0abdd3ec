#pragma once

// The export forms behind results_export.h: each turns rows of the selected records into
// its own bytes. Internal to the export library.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "export/results_export.h"

namespace krv::exports {

// Bytes out, gathered in a large buffer so the store's reads and the writes interleave in
// big steps. Any write failure sticks.
class ByteSink {
  public:
    virtual ~ByteSink() = default;
    void put(char c) { buffer_.push_back(c); }
    void put(std::string_view s) { buffer_.append(s); }
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
    virtual Status begin(const TableShape& shape) = 0;
    virtual Status row(const std::vector<db::Value>& row) = 0;
    virtual Status finish() = 0;
};

std::unique_ptr<Form> makeTextForm(const Options& options, ByteSink& sink);
std::unique_ptr<Form> makeXlsxForm(const Options& options, const std::string& path);

// Whether `name` is one of the seven columns every results table starts with.
bool isFixedColumn(std::string_view name);

// A failed write as the system reported it (the output is named by the caller).
Status writeFailed();

}  // namespace krv::exports
