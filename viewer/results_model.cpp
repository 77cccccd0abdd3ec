#include "viewer/results_model.h"

#include <QTimer>
#include <algorithm>
#include <variant>

#include "audit/audit.h"
#include "results_db/engine_shared.h"

namespace krv {

namespace {

// A page that could not be read (the file briefly locked by a writer) is shown empty and
// asked for again after this pause, instead of on every paint of every cell.
constexpr int kRetryFailedPagesMs = 1000;

QString toText(const db::FieldInfo& field, const db::Value& value) {
    if (const auto* s = std::get_if<std::string>(&value))
        return QString::fromUtf8(s->data(), static_cast<qsizetype>(s->size()));
    if (const auto* d = std::get_if<double>(&value)) {
        if (field.type == db::FieldType::Int16) return QString::number(static_cast<qlonglong>(*d));
        return QString::number(*d, 'g', 15);
    }
    return {};
}

}  // namespace

ResultsModel::ResultsModel(QObject* parent) : QAbstractTableModel(parent) {}

ResultsModel::~ResultsModel() = default;

Status ResultsModel::bind(std::unique_ptr<db::Database> database, const std::string& table) {
    if (!database) return db::closedDatabase();
    std::vector<db::FieldInfo> fields;
    Status st = database->fields(table, fields);
    if (!st.ok()) return st;
    Identities identities;
    st = readIdentities(*database, table, identities);
    if (!st.ok()) return st;

    beginResetModel();
    database_ = std::move(database);
    table_ = table;
    fields_ = std::move(fields);
    columnNames_.clear();
    for (const db::FieldInfo& f : fields_) columnNames_.push_back(f.name);
    rows_ = identities.rows;
    lowest_ = identities.lowest;
    ids_ = std::move(identities.ids);
    pages_.clear();
    lru_.clear();
    const std::size_t perPage =
        static_cast<std::size_t>(kPageRows) * std::max<std::size_t>(1, fields_.size());
    maxPages_ = std::max<std::size_t>(kMinCachedPages, kCachedCells / perPage);
    endResetModel();
    return Status::success();
}

Status ResultsModel::refresh() {
    if (!database_) return db::closedDatabase();
    Identities identities;
    const Status st = readIdentities(*database_, table_, identities);
    beginResetModel();
    // When the identities cannot be read the rows stay as they were; their values are
    // read afresh either way.
    if (st.ok()) {
        rows_ = identities.rows;
        lowest_ = identities.lowest;
        ids_ = std::move(identities.ids);
    }
    pages_.clear();
    lru_.clear();
    endResetModel();
    return st;
}

Status ResultsModel::deleteLastRecord() {
    if (!database_) return db::closedDatabase();
    if (rows_ == 0) return Status::failure(err::kNoCurrentRecord, "No current record.");
    return audit::deleteRecord(*database_, table_, identityOf(rows_ - 1));
}

Status ResultsModel::readIdentities(db::Database& database, const std::string& table,
                                    Identities& out) {
    out = {};
    std::int64_t count = 0, lowest = 0, highest = 0;
    Status st = database.recordCount(table, count);
    if (st.ok()) st = database.identityRange(table, lowest, highest);
    if (!st.ok()) return st;
    if (count <= 0) return st;
    // Identities are unique, so as many records as the range is wide fill it exactly.
    if (highest - lowest + 1 == count) {
        out.rows = static_cast<std::size_t>(count);
        out.lowest = lowest;
        return st;
    }
    st = database.recordIds(table, out.ids);
    if (st.ok()) out.rows = out.ids.size();
    return st;
}

int ResultsModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_);
}

int ResultsModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(fields_.size());
}

QVariant ResultsModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
    const db::FieldInfo& field = fields_[static_cast<std::size_t>(index.column())];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole: {
            // Always text, so the grid edits every column in a plain line editor and the
            // column's own conversion decides what a typed value means.
            const db::Value* v = cell(index.row(), index.column());
            return v ? toText(field, *v) : QString();
        }
        case Qt::TextAlignmentRole:
            if (field.type == db::FieldType::Int16)
                return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
            return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
        default:
            return {};
    }
}

QVariant ResultsModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= columnCount()) return {};
        const std::string& name = fields_[static_cast<std::size_t>(section)].name;
        return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    }
    return QString::number(section + 1);
}

Qt::ItemFlags ResultsModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable;
}

bool ResultsModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !database_ || !index.isValid() || index.row() >= rowCount() ||
        index.column() >= columnCount())
        return false;
    const QString text = value.toString();
    // The grid commits whenever an editor closes; an untouched cell must not turn a null
    // into an empty text or fail on a record someone else removed.
    if (text == data(index, Qt::EditRole).toString()) return true;

    const auto row = static_cast<std::size_t>(index.row());
    const db::FieldInfo& field = fields_[static_cast<std::size_t>(index.column())];
    const Status st =
        audit::editValue(*database_, table_, identityOf(row), field, db::Value(text.toStdString()));
    if (!st.ok()) {
        emit editRefused(QString::fromStdString(st.description));
        return false;
    }
    // Read the page back, so the cell shows what the column made of the text.
    forgetPage(index.row() / kPageRows);
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    return true;
}

const db::Value* ResultsModel::cell(int row, int column) const {
    Page& p = page(row / kPageRows);
    const std::vector<db::Value>& values = p.rows[static_cast<std::size_t>(row % kPageRows)];
    // Each row starts with its identity.
    const auto at = static_cast<std::size_t>(column) + 1;
    return at < values.size() ? &values[at] : nullptr;
}

ResultsModel::Page& ResultsModel::page(int index) const {
    if (auto it = pages_.find(index); it != pages_.end()) {
        lru_.splice(lru_.begin(), lru_, it->second.lruPos);
        return it->second;
    }
    while (pages_.size() >= maxPages_ && !lru_.empty()) {
        pages_.erase(lru_.back());
        lru_.pop_back();
    }
    Page& p = pages_[index];
    lru_.push_front(index);
    p.lruPos = lru_.begin();
    fetch(index, p);
    return p;
}

void ResultsModel::fetch(int index, Page& page) const {
    const std::size_t begin = static_cast<std::size_t>(index) * kPageRows;
    const std::size_t end = std::min(begin + kPageRows, rows_);
    page.rows.assign(end - begin, {});
    page.failed = false;
    if (begin >= end) return;

    std::vector<std::vector<db::Value>> rows;
    const Status st =
        database_->readRecords(table_, columnNames_, identityOf(begin), identityOf(end - 1), rows);
    if (!st.ok()) {
        page.failed = true;
        if (!retryScheduled_) {
            retryScheduled_ = true;
            QTimer::singleShot(kRetryFailedPagesMs, this,
                               [this] { const_cast<ResultsModel*>(this)->retryFailedPages(); });
        }
        return;
    }
    // Identities ascend in both lists. Records that appeared in the range since the
    // identities were read are not rows of this model; missing ones stay empty.
    std::size_t k = begin;
    for (std::vector<db::Value>& r : rows) {
        const auto* id = r.empty() ? nullptr : std::get_if<double>(&r.front());
        if (!id) continue;
        const auto identity = static_cast<std::int64_t>(*id);
        while (k < end && identityOf(k) < identity) ++k;
        if (k == end) break;
        if (identityOf(k) == identity) page.rows[k++ - begin] = std::move(r);
    }
}

void ResultsModel::forgetPage(int index) const {
    if (auto it = pages_.find(index); it != pages_.end()) {
        lru_.erase(it->second.lruPos);
        pages_.erase(it);
    }
}

void ResultsModel::retryFailedPages() {
    retryScheduled_ = false;
    std::vector<int> failed;
    for (const auto& [index, p] : pages_)
        if (p.failed) failed.push_back(index);
    for (int index : failed) {
        forgetPage(index);
        const int first = index * kPageRows;
        const int last = std::min(first + kPageRows, rowCount()) - 1;
        if (first <= last && columnCount() > 0)
            emit dataChanged(this->index(first, 0), this->index(last, columnCount() - 1));
    }
}

}  // namespace krv
