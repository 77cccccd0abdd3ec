#pragma once

// "Trend chart…": the Levey-Jennings chart of a check source from the results database,
// with its rule violations, saved as an image or CSV.

#include <QDialog>
#include <functional>
#include <string>

#include "platform/dialogs.h"
#include "qc/trend.h"
#include "results_db/store.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QFormLayout;
class QGridLayout;
class QHBoxLayout;
class QVBoxLayout;
class QLayout;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace krv {

class TrendChartPanel;

class TrendDialog : public QDialog {
    Q_OBJECT
  public:
    // `path` is the database path as typed; the file is opened for each drawing and closed
    // again, so the main window's own handlers find it free.
    TrendDialog(std::string path, db::Engine& engine, Dialogs& dialogs, QWidget* parent);

    // Fills the column list from the database; false (said through Dialogs) when it
    // cannot be opened.
    bool loadColumns();
    void drawClicked();
    void saveChartClicked();
    void savePointsClicked();

    TrendChartPanel* panel() const { return panel_; }
    const qc::Trend& trend() const { return trend_; }
    // The query the controls describe.
    qc::TrendQuery query() const;

  private:
    QFormLayout* buildQueryForm();
    QGridLayout* buildBaseline();
    QHBoxLayout* buildDateReading();
    QVBoxLayout* buildButtons();
    std::unique_ptr<db::Database> openStore();

    std::string path_;
    db::Engine& engine_;
    Dialogs& dialogs_;
    qc::Trend trend_;
    qc::HalfLifeTable halfLives_ = qc::HalfLifeTable::recommended();

    QComboBox* column_ = nullptr;
    QComboBox* matchOn_ = nullptr;
    QLineEdit* pattern_ = nullptr;
    QRadioButton* byCount_ = nullptr;
    QSpinBox* baselineCount_ = nullptr;
    QDateEdit* from_ = nullptr;
    QDateEdit* to_ = nullptr;
    QComboBox* decay_ = nullptr;
    QCheckBox* dayFirst_ = nullptr;
    QSpinBox* pivot_ = nullptr;
    QCheckBox* r4sWithinRun_ = nullptr;
    TrendChartPanel* panel_ = nullptr;
};

// Adds "Quality control > Trend chart…" to the window's menu bar, making the bar when the
// window has none yet. `open` runs when the user picks it.
void addTrendChartMenu(QWidget* window, QLayout* root, std::function<void()> open);

// Opens a "Trend chart…" window over the database at `path` (as typed).
TrendDialog* openTrendChart(QWidget* parent, const std::string& path, db::Engine& engine,
                            Dialogs& dialogs);

}  // namespace krv
