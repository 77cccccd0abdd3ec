#pragma once

// One set-up for every test of the main window: the QApplication, a launcher that starts
// nothing, the settings files in a temporary folder, a store engine and the window itself.

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <memory>

#include "app/main_window.h"
#include "results_db/store.h"
#include "settings/settings_files.h"
#include "tests/support/recording_dialogs.h"
#include "tests/support/test_folder.h"
#include "tests/support/widgets_app.h"

namespace krv::testing {

struct NoLauncher : ProgramLauncher {
    bool startDetached(const std::string&, const std::vector<std::string>&) override {
        return true;
    }
};

template <typename DialogsType = RecordingDialogs>
class WindowHarness : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ensureWidgetsApp(); }
    void SetUp() override {
        startUp(state, files);
        window = std::make_unique<MainWindow>(state, files, *engine, dialogs, launcher);
        window->setEndProgram([this] { ++ends; });
    }

    template <typename T = QWidget>
    T* child(const char* name) {
        T* w = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void click(const char* button) { child<QPushButton>(button)->click(); }
    void type(const char* box, const std::string& s) {
        child<QLineEdit>(box)->setText(QString::fromStdString(s));
    }
    QString text(const char* label) { return child<QLabel>(label)->text(); }

    TestFolder folder;
    SettingsFiles files = SettingsFiles::in(folder.path());
    WindowState state;
    DialogsType dialogs;
    NoLauncher launcher;
    std::unique_ptr<db::Engine> engine = db::makeEngine();
    std::unique_ptr<MainWindow> window;
    int ends = 0;
};

}  // namespace krv::testing
