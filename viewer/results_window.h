#pragma once

#include <QPointer>
#include <QWidget>
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "export/results_export.h"
#include "platform/dialogs.h"
#include "report/analysis_report.h"
#include "results_db/store.h"
#include "viewer/background_export.h"

class QAction;
class QFrame;
class QProgressDialog;
class QLabel;
class QPushButton;
class QTableView;
class QModelIndex;

namespace krv {

class ResultsModel;
struct DesignRect;

// The results viewer: the table of the results database in an editable grid, with the
// record, current-record and field counters above it and a button that deletes the last
// record. A top-level window owned by the main window; it deletes itself when closed.
// Geometry is designed in twips and converted with the screen's logical resolution.
class ResultsWindow : public QWidget {
    Q_OBJECT

  public:
    // Builds the window and binds it to the database named by state.apathText as typed.
    // `state` and `dialogs` must outlive the window.
    ResultsWindow(WindowState& state, Dialogs& dialogs, QWidget* mainWindow);
    ~ResultsWindow() override;

    // Gives grid column `column` a width in twips; false when the grid has no such column.
    bool setColumnWidthTwips(int column, double twips);

    // "Export…": writes the table to `target` off the interface thread, with a progress
    // dialog that can cancel it. A failure is reported through Dialogs; a cancelled or
    // failed export leaves no file behind. False when an export is already running.
    bool exportTo(const std::string& target, exports::Format format);
    BackgroundExport* runningExport() const { return export_; }
    QAction* exportAction() const { return exportAction_; }

    QTableView* grid() const { return grid_; }
    ResultsModel* model() const { return model_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    int twipsToPixelsX(double twips) const;
    int twipsToPixelsY(double twips) const;
    double pixelsToTwipsX(int pixels) const;
    double pixelsToTwipsY(int pixels) const;
    void place(QWidget* w, const DesignRect& r);
    QLabel* label(const char* name, const char* text, const DesignRect& r, Qt::Alignment align);
    void buildDesign();
    void buildNavigator();
    void buildDeleteButton();
    void buildCounters();
    void buildGrid();
    void load();
    void layoutGrid();
    void rowColChange(const QModelIndex& current);
    void unload();
    void command1Click();
    void moveToRow(int row);
    void giveAutomaticWidths();
    void showCount(QLabel* label, long long count);
    void exportCommand();
    void exportFinished(int number, const QString& description, const QString& notes);

    WindowState& state_;
    Dialogs& dialogs_;
    std::unique_ptr<db::Engine> engine_;
    ResultsModel* model_ = nullptr;

    QFrame* sampleR_ = nullptr;
    QPushButton* command1_ = nullptr;
    QTableView* grid_ = nullptr;
    QLabel* totalLabel_ = nullptr;
    QLabel* currentRecord_ = nullptr;
    QLabel* fieldCount_ = nullptr;

    std::int16_t gridTop_ = 0;  // twips, taken from the grid at load
    // A stored width given to a column, and the pixels it became: while the column keeps
    // those pixels the user has not touched it, and the twips go back exactly as given.
    struct GivenWidth {
        double twips = 0;
        int pixels = -1;
    };
    std::array<GivenWidth, 100> givenWidths_{};

    QAction* exportAction_ = nullptr;
    QPointer<BackgroundExport> export_;
    QPointer<QProgressDialog> exportProgress_;
};

}  // namespace krv
