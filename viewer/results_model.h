#pragma once

#include <QAbstractTableModel>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/status.h"
#include "results_db/store.h"

namespace krv {

// The records of one table as the grid sees them. A table without gaps in its record
// identities (the usual case: records are only ever appended and the last one deleted)
// maps row r to identity lowest + r, so binding costs three short look-ups whatever the
// table's length; only a table with gaps has its identities read and held. Cell values are
// read a page at a time when the view asks for them and kept in a small cache of recently
// shown pages, so a table of any length costs bounded memory.
// No statement stays open between calls, so other writers are never held up by the view.
class ResultsModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    static constexpr int kPageRows = 128;
    // Cells kept in the page cache; the number of pages follows from the table's width.
    static constexpr std::size_t kCachedCells = 1u << 18;
    static constexpr int kMinCachedPages = 4;

    explicit ResultsModel(QObject* parent = nullptr);
    ~ResultsModel() override;

    // Takes the database and reads the table's columns and record identities. On failure
    // the model stays empty and holds no database.
    Status bind(std::unique_ptr<db::Database> database, const std::string& table);
    bool isBound() const { return database_ != nullptr; }
    // Reads the record identities again and forgets cached values. The columns stay those
    // read when binding: columns added by others meanwhile appear only on a new binding.
    Status refresh();
    // Deletes the last record of the model's own list (its insertion order), keeping the
    // whole record in the audit trail.
    Status deleteLastRecord();

    const std::vector<db::FieldInfo>& fields() const { return fields_; }
    std::size_t recordCount() const { return rows_; }
    // Whether rows map to identities by arithmetic (no list of identities is held).
    bool identitiesContiguous() const { return ids_.empty(); }
    std::size_t cachedPages() const { return pages_.size(); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Writes exactly the record of `index.row()`, with its audit entry; a value the column
    // refuses, or an entry that cannot be written, leaves the record as it was and reports
    // the engine's reason through editRefused.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

  signals:
    void editRefused(const QString& reason);

  private:
    struct Page {
        // One entry per row of the page; an empty row is a record that was not found
        // (deleted by another program since the identities were read).
        std::vector<std::vector<db::Value>> rows;
        bool failed = false;
        std::list<int>::iterator lruPos;
    };

    struct Identities {
        std::size_t rows = 0;
        std::int64_t lowest = 0;
        std::vector<std::int64_t> ids;  // empty when contiguous
    };
    static Status readIdentities(db::Database& database, const std::string& table, Identities& out);
    std::int64_t identityOf(std::size_t row) const {
        return ids_.empty() ? lowest_ + static_cast<std::int64_t>(row) : ids_[row];
    }
    const db::Value* cell(int row, int column) const;
    Page& page(int index) const;
    void fetch(int index, Page& page) const;
    void forgetPage(int index) const;
    void retryFailedPages();

    std::unique_ptr<db::Database> database_;
    std::string table_;
    std::vector<db::FieldInfo> fields_;
    std::vector<std::string> columnNames_;
    std::size_t rows_ = 0;
    std::int64_t lowest_ = 0;
    std::vector<std::int64_t> ids_;
    std::size_t maxPages_ = kMinCachedPages;

    // Filled lazily from const data(): the cache is not part of the model's visible state.
    mutable std::unordered_map<int, Page> pages_;
    mutable std::list<int> lru_;  // most recently used first
    mutable bool retryScheduled_ = false;
};

}  // namespace krv
