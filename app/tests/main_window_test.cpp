#include "app/main_window.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>

#include "platform/platform.h"
#include "report/tests/report_builder.h"
#include "results_db/archive.h"
#include "tests/support/case_table.h"
#include "tests/support/window_harness.h"
#include "viewer/results_window.h"

namespace krv::testing {
namespace {

class MainWindow : public WindowHarness<> {
  protected:
    QColor colour(const char* button) {
        return child<QPushButton>(button)->palette().color(QPalette::Button);
    }
    WindowState restarted() {
        WindowState again;
        startUp(again, files);
        return again;
    }
    ResultsWindow* openViewerOnFreshDatabase() {
        state.apathText = folder.file("Results.mdb");
        state.blindFlag = true;
        createDb(state, dialogs, *engine);
        state.blindFlag = false;
        type("Apath", state.apathText);
        click("ViewR");
        return window->findChild<ResultsWindow*>();
    }
};

TEST_F(MainWindow, ShowsTheDesignedControls) {
    EXPECT_EQ(window->windowTitle(), "KDP Korvane Archiver 020514");
    for (const auto& c : caseTable("main_window_controls.tsv", 3)) {
        QWidget* w = child(c[0].c_str());
        const QString shown =
            w->property(qobject_cast<QGroupBox*>(w) ? "title" : "text").toString();
        EXPECT_EQ(shown.toStdString(), c[1]) << c.where("main_window_controls.tsv");
        EXPECT_EQ(w->toolTip().toStdString(), c[2]) << c.where("main_window_controls.tsv");
    }
    EXPECT_EQ(child<QLineEdit>("Rpath")->text().toStdString(), defaultReportPath());
    EXPECT_EQ(child<QLineEdit>("Apath")->text().toStdString(), defaultDatabasePath());
    EXPECT_TRUE(child<QRadioButton>("Option1(1)")->isChecked());
    EXPECT_EQ(colour("CloseForm"), QColor(0, 255, 0));
    EXPECT_EQ(colour("ReadKrvFile"), QColor(0, 255, 0));
    EXPECT_EQ(colour("AppendIT"), QColor(255, 255, 0));
    EXPECT_EQ(colour("CreateDb"), QColor(255, 0, 0));
}

#ifdef _WIN32
// The Windows build has no chart: the entry stays where the lab knows it and says where
// the chart is drawn, opening nothing.
TEST_F(MainWindow, TheTrendChartEntrySaysWhereTheChartIsDrawn) {
    child<QAction>("TrendChartAction")->trigger();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_NE(dialogs.shown[0].text.find("needs the Linux build"), std::string::npos);
    EXPECT_NE(dialogs.shown[0].text.find("krvtool qc"), std::string::npos);
    EXPECT_TRUE(window->findChildren<QDialog*>().isEmpty());
}
#endif

TEST_F(MainWindow, ReadAppendAndResetThroughTheButtons) {
    type("Rpath", folder.file("no such folder/R.TXT"));
    click("ReadKrvFile");
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text.rfind(
                  "Invalid path or file name [ " + folder.file("no such folder/R.TXT") + " ] <", 0),
              0u);

    Lines report{"ID: SAMPLE-42"};
    append(report, block("CS-137", {row("  661.66", "1000", "1000", "5.5")}));
    writeFile(folder / "RESULTS.TXT", join(report));
    type("Rpath", folder.file("RESULTS.TXT"));
    type("Apath", "  " + folder.file("Results.mdb") + " ");
    child<QRadioButton>("Option1(2)")->click();
    EXPECT_EQ(state.appendMode, 1);
    click("ReadKrvFile");
    EXPECT_EQ(text("NumbIso"), "1");
    EXPECT_TRUE(text("CurrentFile").startsWith(" SAMPLE-42"));
    click("AppendIT");
    EXPECT_EQ(text("NumbRec") + " " + text("NumFields"), "1 8");
    EXPECT_EQ(colour("AppendIT"), QColor(255, 0, 0));
    click("ReadKrvFile");  // reading again does not turn the button back
    EXPECT_EQ(colour("AppendIT"), QColor(255, 0, 0));

    dialogs.answers = {false, true};
    click("CreateDb");
    EXPECT_EQ(text("NumbRec"), "1");
    click("CreateDb");
    EXPECT_EQ(dialogs.shown.back().text,
              "Delete ALL data and create a new DataBase, are you SURE ?");
    EXPECT_EQ(text("NumbRec") + " " + text("NumFields"), "0 7");
}

#ifdef _WIN32
// The counting PC's own faults reach the window as they reach the unattended jobs: the
// message names the path and its reason, and what is stored stays as it was.
TEST_F(MainWindow, WindowsPathFaultsGiveTheirMessageAndLoseNothing) {
    Lines report{"ID: SAMPLE-42"};
    append(report, block("CS-137", {row("  661.66", "1000", "1000", "5.5")}));
    writeFile(folder / "RESULTS.TXT", join(report));
    const std::string db = folder.file("Results.mdb");
    const std::string good = folder.file("RESULTS.TXT");
    type("Rpath", good);
    type("Apath", db);
    click("ReadKrvFile");
    click("AppendIT");
    ASSERT_TRUE(dialogs.shown.empty()) << dialogs.shown[0].text;
    const std::string stored = readFile(folder / "Results.mdb");

    struct Case {
        const char* box;
        std::string path;
        std::string reason;
    };
    const std::string dir = folder.file("");
    const Case cases[] = {
        {"Apath", "Q:\\RESULTS.MDB", "Could not find file 'Q:\\RESULTS.MDB'."},
        {"Apath", "\\\\nohost\\noshare\\R.MDB",
         "Could not find file '\\\\nohost\\noshare\\R.MDB'."},
        {"Apath", dir + "a|b.MDB", "Could not find file '" + dir + "a|b.MDB'."},
        {"Rpath", "Q:\\RESULTS.TXT", "Path not found"},
        {"Rpath", "\\\\nohost\\noshare\\R.TXT", "Path not found"},
        {"Rpath", dir + "a<b>.TXT", "Bad file name"},
    };
    for (const Case& c : cases) {
        dialogs.shown.clear();
        type("Rpath", good);
        type("Apath", db);
        type(c.box, c.path);
        click(c.box == std::string("Rpath") ? "ReadKrvFile" : "AppendIT");
        ASSERT_FALSE(dialogs.shown.empty()) << c.path;
        EXPECT_EQ(dialogs.shown[0].text,
                  "Invalid path or file name [ " + c.path + " ] <" + c.reason + ">");
    }

    // Held by another program, shared with nobody.
    type("Rpath", good);
    type("Apath", db);
    const std::wstring wide = platform::toPath(db).native();
    HANDLE held = CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    dialogs.shown.clear();
    click("AppendIT");
    CloseHandle(held);
    ASSERT_FALSE(dialogs.shown.empty());
    EXPECT_EQ(dialogs.shown[0].text, "Invalid path or file name [ " + db +
                                         " ] <Couldn't update; currently locked by another user.>");
    EXPECT_EQ(readFile(folder / "Results.mdb"), stored);
}
#endif

TEST_F(MainWindow, ExitSavesOnceWithTheWidthsHeldBeforeAnOpenViewer) {
    state.columnWidth[1] = 2000;
    ResultsWindow* viewer = openViewerOnFreshDatabase();
    ASSERT_NE(viewer, nullptr);
    viewer->grid()->horizontalHeader()->resizeSection(1, 400);
    click("CloseForm");
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(restarted().columnWidth[1], 2000);
    EXPECT_EQ(restarted().apathText, folder.file("Results.mdb"));
    type("Apath", "/elsewhere.mdb");
    window->close();  // the close that follows Exit saves nothing more
    EXPECT_EQ(restarted().apathText, folder.file("Results.mdb"));
}

TEST_F(MainWindow, CloseBoxSavesAtOnceAndTheProgramEndsWithTheLastWindow) {
    ResultsWindow* viewer = openViewerOnFreshDatabase();
    ASSERT_NE(viewer, nullptr);
    child<QRadioButton>("Option1(4)")->click();
    EXPECT_EQ(state.appendMode, 3);
    window->close();
    EXPECT_EQ(ends, 0);  // the viewer is still open and usable
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_EQ(restarted().apathText, folder.file("Results.mdb"));
    EXPECT_EQ(restarted().appendMode, 0);

    viewer->grid()->horizontalHeader()->resizeSection(2, 300);
    viewer->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(ends, 1);
    EXPECT_GT(state.columnWidth[2], 100);      // the viewer stored its widths in memory,
    EXPECT_EQ(restarted().columnWidth[2], 0);  // too late for the file
}

}  // namespace
}  // namespace krv::testing
