#include "jet/jet_table.h"

#include <QProcess>
#include <array>
#include <cstring>
#include <fstream>

#include "platform/platform.h"
#include "report/text.h"

namespace krv::jet {

namespace {

constexpr int kStartTimeoutMs = 10'000;
// A row is a line; a longer one can only come from a reader gone wrong.
constexpr qint64 kMaxLine = 64 * 1024 * 1024;

Status damaged(const std::string& why) {
    return Status::failure(err::kNotADatabase,
                           "the old database is damaged and cannot be read (" + why + ")");
}

bool fromHex(const QByteArray& text, std::string& out) {
    return text::fromHex(std::string_view(text.constData(), static_cast<std::size_t>(text.size())),
                         out);
}

class ChildJetTable : public JetTable {
  public:
    explicit ChildJetTable(int idleTimeoutMs) : idleTimeoutMs_(idleTimeoutMs) {}

    ~ChildJetTable() override {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(kStartTimeoutMs);
        }
    }

    std::string name() const override { return table_; }

    Status start(const QString& reader, const std::string& path, const std::string& table) {
        table_ = table;
        process_.setProgram(reader);
        process_.setArguments({QString::fromStdString(path), QString::fromStdString(table)});
        // The reading library's warnings about odd pages are of no use to the user.
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start(QIODevice::ReadOnly);
        if (!process_.waitForStarted(kStartTimeoutMs)) {
            return Status::failure(err::kEngine, "the Jet reader could not be started (" +
                                                     reader.toStdString() + ": " +
                                                     process_.errorString().toStdString() + ")");
        }
        QByteArray line;
        Status st = readLine(line);
        if (!st.ok()) return st;
        if (line.startsWith("E ")) return refusal(line, table);
        if (!line.startsWith("KRVJET 1 ")) return damaged("unexpected reader output");
        for (;;) {
            st = readLine(line);
            if (!st.ok()) return st;
            if (line.startsWith("E ")) return refusal(line, table);
            if (!line.startsWith("C ")) break;
            const QList<QByteArray> parts = line.split(' ');
            JetColumn column;
            bool kindOk = false, sizeOk = false;
            if (parts.size() == 4) {
                column.kind = parts[1].toInt(&kindOk);
                column.size = parts[2].toInt(&sizeOk);
            }
            if (!kindOk || !sizeOk || !fromHex(parts[3], column.name))
                return damaged("unexpected column description");
            columns_.push_back(std::move(column));
        }
        pending_ = std::move(line);
        return Status::success();
    }

    const std::vector<JetColumn>& columns() const override { return columns_; }

    bool next(std::vector<JetCell>& row, Status& status) override {
        status = Status::success();
        if (finished_) return false;
        QByteArray line;
        if (!pending_.isNull()) {
            line = std::move(pending_);
            pending_ = QByteArray();
        } else if (status = readLine(line); !status.ok()) {
            return stop();
        }
        if (line.startsWith("END ")) {
            finished_ = true;
            process_.waitForFinished(idleTimeoutMs_);
            return false;
        }
        if (line.startsWith("E ")) {
            status = refusal(line, "");
            return stop();
        }
        const QList<QByteArray> cells = line.split(' ');
        if (cells.first() != "R" || cells.size() != static_cast<qsizetype>(columns_.size()) + 1) {
            status = damaged("unexpected row from the reader");
            return stop();
        }
        row.assign(columns_.size(), std::nullopt);
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            const QByteArray& cell = cells[static_cast<qsizetype>(i) + 1];
            if (cell == "-") continue;
            std::string bytes;
            if (!fromHex(cell, bytes)) {
                status = damaged("unexpected value from the reader");
                return stop();
            }
            row[i] = std::move(bytes);
        }
        return true;
    }

  private:
    bool stop() {
        finished_ = true;
        return false;
    }

    Status readLine(QByteArray& line) {
        while (!process_.canReadLine()) {
            if (process_.bytesAvailable() > kMaxLine) {
                process_.kill();
                return damaged("the reader sent a row without end");
            }
            if (process_.waitForReadyRead(idleTimeoutMs_)) continue;
            if (process_.state() == QProcess::NotRunning || process_.waitForFinished(0)) {
                if (process_.canReadLine()) break;
                if (process_.exitStatus() == QProcess::CrashExit)
                    return damaged("its reader crashed");
                return damaged("its reader ended early");
            }
            process_.kill();
            process_.waitForFinished(kStartTimeoutMs);
            return damaged("its reader stopped answering for " +
                           std::to_string(idleTimeoutMs_ / 1000) + " s");
        }
        line = process_.readLine();
        if (line.endsWith('\n')) line.chop(1);
        return Status::success();
    }

    static Status refusal(const QByteArray& line, const std::string& table) {
        const QList<QByteArray> parts = line.split(' ');
        std::string message;
        if (parts.size() >= 3) fromHex(parts[2], message);
        const QByteArray code = parts.size() >= 2 ? parts[1] : QByteArray();
        if (code == "notjet")
            return Status::failure(err::kNotADatabase, "not a Jet (Access) database");
        if (code == "notable")
            return Status::failure(err::kTableNotFound, "the old database has no table " + table);
        return damaged(message);
    }

    int idleTimeoutMs_;
    QProcess process_;
    std::vector<JetColumn> columns_;
    std::string table_;
    QByteArray pending_;
    bool finished_ = false;
};

}  // namespace

bool looksLikeJetFile(const std::string& path) {
    std::array<char, 20> header{};
    std::ifstream in(platform::toPath(path), std::ios::binary);
    if (!in.read(header.data(), header.size())) return false;
    static const char magic[4] = {0, 1, 0, 0};
    return std::memcmp(header.data(), magic, 4) == 0 &&
           (std::memcmp(header.data() + 4, "Standard Jet DB", 15) == 0 ||
            std::memcmp(header.data() + 4, "Standard ACE DB", 15) == 0);
}

std::string jetReadingUnavailable() { return {}; }

std::unique_ptr<JetTable> openJetTable(const std::string& path, const std::string& table,
                                       const ReaderOptions& options, Status& status) {
    if (!looksLikeJetFile(path)) {
        status = Status::failure(err::kNotADatabase,
                                 "not a Jet (Access) database, or it cannot be read");
        return nullptr;
    }
    QString reader = QString::fromStdString(options.readerPath);
    if (reader.isEmpty()) {
        // Beside the program that starts it in a build or a copied folder; in the private
        // program folder of an installed one.
#ifdef _WIN32
        const char* name = "krv-jet-reader.exe";
#else
        const char* name = "krv-jet-reader";
#endif
        const auto folder = platform::programFolder();
        std::filesystem::path found = folder / platform::toPath(name);
        std::error_code ec;
        if (!std::filesystem::exists(found, ec))
            found = folder / platform::toPath(KRV_READER_FROM_BIN) / platform::toPath(name);
        reader = QString::fromStdString(platform::fromPath(found));
    }
    auto source = std::make_unique<ChildJetTable>(options.idleTimeoutMs);
    status = source->start(reader, path, table);
    if (!status.ok()) return nullptr;
    return source;
}

}  // namespace krv::jet
