#include "viewer/background_export.h"

#include <memory>

#include "results_db/store.h"

namespace krv {

BackgroundExport::BackgroundExport(std::string databasePath, exports::Options options,
                                   std::string target, QObject* parent)
    : QObject(parent),
      databasePath_(std::move(databasePath)),
      options_(std::move(options)),
      target_(std::move(target)) {}

BackgroundExport::~BackgroundExport() { job_.stop(); }

void BackgroundExport::start() {
    job_.start([this](const std::atomic<bool>& cancelled) { work(cancelled); });
}

void BackgroundExport::work(const std::atomic<bool>& cancelled) {
    Status st;
    std::string notes;
    auto engine = db::makeEngine();
    std::unique_ptr<db::Database> database = engine->openDatabase(databasePath_, st);
    if (database) {
        qint64 shownPermille = -1;
        st = exports::exportToFile(
            *database, options_, target_,
            [&](std::int64_t done, std::int64_t total) {
                // A signal per thousandth at most: the interface thread only repaints a bar.
                const qint64 permille = total > 0 ? done * 1000 / total : 0;
                if (permille != shownPermille) {
                    shownPermille = permille;
                    emit progressed(done, total);
                }
                return !cancelled;
            },
            databasePath_,
            [&](const exports::Note& note) {
                if (note.changedCell())
                    notes += "record " + std::to_string(note.record) + ", " + note.column + ": ";
                notes += note.text + "\n";
            });
        database->close();
    }
    if (cancelled && !st.ok()) st = Status::failure(exports::kCancelled, "export cancelled");
    emit finished(st.number, QString::fromStdString(st.description),
                  QString::fromStdString(st.ok() ? notes : std::string()));
}

}  // namespace krv
