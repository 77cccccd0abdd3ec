#pragma once

// The main window's Import menu: an old Access results file, or archived reports in bulk.
// Each job runs on a thread of its own, which opens the store itself; the window stays
// responsive and shows a progress dialog whose Cancel stops after the current report.

#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "report/analysis_report.h"
#include "viewer/background_job.h"

class QAction;
class QMenu;
class QWidget;

namespace krv {

// Where the menu gets its file names; a test answers instead of a person. Empty means the
// user cancelled.
class ImportFileChooser {
  public:
    virtual ~ImportFileChooser() = default;
    virtual std::string legacyFile(QWidget* parent) = 0;
    virtual std::string legacyDestination(QWidget* parent, const std::string& suggested) = 0;
    virtual std::vector<std::string> reportFiles(QWidget* parent) = 0;
};

class ImportMenu : public QObject {
    Q_OBJECT
  public:
    // `current` hands over the window state with the path boxes read.
    ImportMenu(QWidget* window, Dialogs& dialogs, std::function<WindowState&()> current);
    ~ImportMenu() override;

    void setChooser(std::unique_ptr<ImportFileChooser> chooser) { chooser_ = std::move(chooser); }
    void addActionsTo(QMenu* menu);
    void importLegacy();
    void importReports();
    bool busy() const { return job_.running(); }
    QProgressDialog* progressDialog() const { return progress_; }

  signals:
    void jobFinished();

  private:
    using Progress = std::function<bool(std::int64_t done, std::int64_t total)>;
    void start(const QString& label, std::function<std::string(const Progress&)> job);
    void finish(const std::string& summary);

    QWidget* window_;
    Dialogs& dialogs_;
    std::function<WindowState&()> current_;
    std::unique_ptr<ImportFileChooser> chooser_;
    std::vector<QAction*> actions_;
    QPointer<QProgressDialog> progress_;
    BackgroundJob job_;
};

// Adds the Import menu to the window's menu bar, which is made when the window has none.
ImportMenu* addImportMenu(QWidget* window, Dialogs& dialogs, std::function<WindowState&()> current);

}  // namespace krv
