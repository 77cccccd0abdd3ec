#pragma once

#include <QObject>
#include <QString>
#include <atomic>
#include <string>

#include "export/results_export.h"
#include "viewer/background_job.h"

namespace krv {

// One export run off the interface thread. The worker opens the database itself (a
// connection belongs to one thread) and reports through queued signals, so the window
// keeps painting and answering while a large table is written.
class BackgroundExport : public QObject {
    Q_OBJECT

  public:
    BackgroundExport(std::string databasePath, exports::Options options, std::string target,
                     QObject* parent = nullptr);
    // Cancels a run still going and waits for it: a chunk of records at most.
    ~BackgroundExport() override;

    void start();
    void cancel() { job_.cancel(); }
    const std::string& target() const { return target_; }

  signals:
    void progressed(qint64 done, qint64 total);
    // number 0: written; exports::kCancelled: stopped by the user, nothing written. `notes`
    // lists, one per line, what a written file does not carry exactly as stored.
    void finished(int number, const QString& description, const QString& notes);

  private:
    void work(const std::atomic<bool>& cancelled);

    std::string databasePath_;
    exports::Options options_;
    std::string target_;
    BackgroundJob job_;
};

}  // namespace krv
