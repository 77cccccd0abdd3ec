#pragma once

#include <QPointer>
#include <QWidget>
#include <array>
#include <functional>

#include "app/view_report.h"
#include "platform/dialogs.h"
#include "report/analysis_report.h"
#include "results_db/store.h"
#include "settings/settings_files.h"

class QLabel;
class QGridLayout;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace krv {

class ResultsWindow;

// Shows a button in a flat colour, also readable back from its palette.
void setButtonColour(QPushButton* button, const QColor& colour);

// The main window. It holds no logic of its own: each control hands the window state to
// the matching handler and shows what the handler left in it.
class MainWindow : public QWidget {
    Q_OBJECT
  public:
    MainWindow(WindowState& state, const SettingsFiles& files, db::Engine& engine, Dialogs& dialogs,
               ProgramLauncher& launcher);
    ~MainWindow() override;

    // Ends the program: at once after Exit, or when the last of the two windows closes.
    void setEndProgram(std::function<void()> end) { endProgram_ = std::move(end); }

    void readKrvFileClicked();
    void appendItClicked();
    void createDbClicked();
    void viewRClicked();
    void command1Clicked();
    void closeFormClicked();
    void option1Clicked();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    QGroupBox* buildModes();
    QGroupBox* buildStats();
    QGridLayout* buildActions();
    void pullPaths();
    void showState();
    void unloadSave();

    WindowState& state_;
    SettingsFiles files_;
    db::Engine& engine_;
    Dialogs& dialogs_;
    ProgramLauncher& launcher_;
    std::function<void()> endProgram_;
    bool saved_ = false;
    QPointer<ResultsWindow> viewer_;

    std::array<QRadioButton*, 4> option1_{};
    QLineEdit* rpath_ = nullptr;
    QLineEdit* apath_ = nullptr;
    QLabel* numbRec_ = nullptr;
    QLabel* numFields_ = nullptr;
    QLabel* numbIso_ = nullptr;
    QLabel* currentFile_ = nullptr;
    QPushButton* appendIt_ = nullptr;
};

}  // namespace krv
