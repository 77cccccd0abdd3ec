#include "app/import_menu.h"

#include <QAction>
#include <QFileDialog>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QProgressDialog>
#include <chrono>

#include "ingest/report_import.h"
#include "jet/legacy_import.h"
#include "platform/platform.h"
#include "report/text.h"
#include "results_db/archive.h"

namespace krv {

namespace {

// A summary box lists at most this many refused files.
constexpr std::size_t kListedRefusals = 20;

class QtFileChooser : public ImportFileChooser {
  public:
    std::string legacyFile(QWidget* parent) override {
        return QFileDialog::getOpenFileName(parent, QStringLiteral("Import legacy database"),
                                            QString(),
                                            QStringLiteral("Access databases (*.mdb *.MDB);;"
                                                           "All files (*)"))
            .toStdString();
    }
    std::string legacyDestination(QWidget* parent, const std::string& suggested) override {
        // The import never replaces a file, so the dialog need not ask about one.
        return QFileDialog::getSaveFileName(parent,
                                            QStringLiteral("New results database for the import"),
                                            QString::fromStdString(suggested), QString(), nullptr,
                                            QFileDialog::DontConfirmOverwrite)
            .toStdString();
    }
    std::vector<std::string> reportFiles(QWidget* parent) override {
        std::vector<std::string> files;
        for (const QString& f :
             QFileDialog::getOpenFileNames(parent, QStringLiteral("Import reports"), QString(),
                                           QStringLiteral("Reports (*.txt *.TXT);;All files (*)")))
            files.push_back(f.toStdString());
        return files;
    }
};

}  // namespace

ImportMenu::ImportMenu(QWidget* window, Dialogs& dialogs, std::function<WindowState&()> current)
    : QObject(window),
      window_(window),
      dialogs_(dialogs),
      current_(std::move(current)),
      chooser_(std::make_unique<QtFileChooser>()) {}

// A window closed during a job waits for the report under way.
ImportMenu::~ImportMenu() { job_.stop(); }

void ImportMenu::importLegacy() {
    if (busy()) return;
    if (const std::string why = jet::jetReadingUnavailable(); !why.empty()) {
        dialogs_.message("Import legacy database: " + why + ".", kAppTitle);
        return;
    }
    const std::string old = chooser_->legacyFile(window_);
    if (old.empty()) return;
    const std::string dest =
        chooser_->legacyDestination(window_, std::string(text::trim(current_().apathText)));
    if (dest.empty()) return;
    start(QStringLiteral("Importing the legacy database…"), [old, dest](const Progress& progress) {
        Status st;
        auto table = jet::openJetTable(old, kTableName, {}, st);
        jet::LegacySummary summary;
        if (table) {
            auto engine = db::makeEngine();
            st = jet::importLegacyTable(*table, *engine, dest, summary,
                                        [&](std::int64_t done) { return progress(done, 0); });
        }
        if (!st.ok()) return old + ": " + st.description + "; nothing was imported.";
        return jet::summaryText(summary, old, dest);
    });
}

void ImportMenu::importReports() {
    if (busy()) return;
    const std::vector<std::string> files = chooser_->reportFiles(window_);
    if (files.empty()) return;
    const WindowState& state = current_();
    const std::string dest(text::trim(state.apathText));
    ingest::ReportImportOptions options;
    options.mode = state.appendMode;
    options.decimalSeparator = platform::systemDecimalSeparator();
    start(QStringLiteral("Importing reports…"), [files, dest, options](const Progress& progress) {
        auto engine = db::makeEngine();
        const auto summary = ingest::importReports(*engine, dest, files, options, progress);
        std::string text = ingest::summaryText(summary, dest, options, "", kListedRefusals);
        if (!summary.failure.ok()) text += "Stopped: " + summary.failure.description + "\n";
        return text;
    });
}

void ImportMenu::start(const QString& label, std::function<std::string(const Progress&)> job) {
    for (QAction* a : actions_) a->setEnabled(false);
    progress_ = new QProgressDialog(label, QStringLiteral("Cancel"), 0, 0, window_);
    progress_->setWindowTitle(QString::fromLatin1(kAppTitle));
    progress_->setWindowModality(Qt::WindowModal);
    progress_->setAutoReset(false);
    progress_->setAutoClose(false);
    progress_->setMinimumDuration(0);
    connect(progress_, &QProgressDialog::canceled, this, [this] {
        job_.cancel();
        if (progress_) {
            progress_->setLabelText(QStringLiteral("Stopping after the current report…"));
            progress_->show();  // stays up until the job has stopped
        }
    });
    progress_->show();

    QPointer<QProgressDialog> dialog = progress_;
    job_.start([this, job = std::move(job), dialog](const std::atomic<bool>& cancelled) {
        auto shown = std::chrono::steady_clock::now() - std::chrono::seconds(1);
        const Progress progress = [&](std::int64_t done, std::int64_t total) {
            const auto now = std::chrono::steady_clock::now();
            if (now - shown >= std::chrono::milliseconds(100) || done == total) {
                shown = now;
                QMetaObject::invokeMethod(
                    dialog,
                    [dialog, done, total] {
                        if (!dialog) return;
                        dialog->setMaximum(static_cast<int>(total));
                        dialog->setValue(static_cast<int>(done));
                    },
                    Qt::QueuedConnection);
            }
            return !cancelled.load();
        };
        const std::string summary = job(progress);
        QMetaObject::invokeMethod(
            this, [this, summary] { finish(summary); }, Qt::QueuedConnection);
    });
}

void ImportMenu::finish(const std::string& summary) {
    job_.wait();
    if (progress_) progress_->deleteLater();
    for (QAction* a : actions_) a->setEnabled(true);
    dialogs_.message(summary, kAppTitle);
    emit jobFinished();
}

void ImportMenu::addActionsTo(QMenu* menu) {
    actions_ = {
        menu->addAction(QStringLiteral("Import legacy database…"), this, &ImportMenu::importLegacy),
        menu->addAction(QStringLiteral("Import reports…"), this, &ImportMenu::importReports)};
}

ImportMenu* addImportMenu(QWidget* window, Dialogs& dialogs,
                          std::function<WindowState&()> current) {
    auto* menu = new ImportMenu(window, dialogs, std::move(current));
    auto* bar = qobject_cast<QMenuBar*>(window->layout()->menuBar());
    if (!bar) {
        bar = new QMenuBar(window);
        window->layout()->setMenuBar(bar);
    }
    QMenu* imports = bar->addMenu(QStringLiteral("&Import"));
    imports->setObjectName(QStringLiteral("ImportMenu"));
    menu->addActionsTo(imports);
    return menu;
}

}  // namespace krv
