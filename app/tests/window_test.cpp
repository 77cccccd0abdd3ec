// The windows as a person uses them: the main window's controls and buttons, its message
// boxes, the Import menu and the trend chart.

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

#include "app/import_menu.h"
#include "app/qt_dialogs.h"
#include "tests/support/case_table.h"
#include "tests/support/raw_db.h"
#include "tests/support/report_archive.h"
#include "tests/support/window_harness.h"

#ifndef _WIN32
#include "app/trend_dialog.h"
#include "charts/trend_chart.h"
#include "qc/tests/check_source_db.h"
#endif

namespace krv::testing {
namespace {

class MainWindow : public WindowHarness<> {
  protected:
    WindowState restarted() {
        WindowState again;
        startUp(again, files);
        return again;
    }
};

TEST_F(MainWindow, ShowsTheDesignedControlsThenReadsAppendsAndResetsThroughThem) {
    EXPECT_EQ(window->windowTitle(), "KDP Korvane Archiver 020514");
    for (const auto& c : caseTable("main_window_controls.tsv", 4)) {
        QWidget* w = child(c[0].c_str());
        const QString shown =
            w->property(qobject_cast<QGroupBox*>(w) ? "title" : "text").toString();
        EXPECT_EQ(shown.toStdString(), c[1]) << c.where("main_window_controls.tsv");
        EXPECT_EQ(w->toolTip().toStdString(), c[2]) << c.where("main_window_controls.tsv");
        if (!c[3].empty()) {
            EXPECT_EQ(colour(c[0].c_str()), QColor(QString::fromStdString(c[3]))) << c[0];
        }
    }
    EXPECT_EQ(child<QLineEdit>("Rpath")->text().toStdString(), defaultReportPath());
    EXPECT_EQ(child<QLineEdit>("Apath")->text().toStdString(), defaultDatabasePath());
    EXPECT_TRUE(child<QRadioButton>("Option1(1)")->isChecked());

    type("Rpath", folder.file("no such folder/R.TXT"));
    click("ReadKrvFile");
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text.rfind(
                  "Invalid path or file name [ " + folder.file("no such folder/R.TXT") + " ] <", 0),
              0u);

    writeFile(folder / "RESULTS.TXT",
              report("SAMPLE-42", block("CS-137", {row("  661.66", "1000", "1000", "5.5")})));
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
    writeFile(folder / "RESULTS.TXT",
              report("SAMPLE-42", block("CS-137", {row("  661.66", "1000", "1000", "5.5")})));
    const std::string db = folder.file("Results.mdb");
    const std::string good = folder.file("RESULTS.TXT");
    type("Rpath", good);
    type("Apath", db);
    click("ReadKrvFile");
    click("AppendIT");
    ASSERT_TRUE(dialogs.shown.empty()) << dialogs.shown[0].text;
    const std::string stored = readFile(folder / "Results.mdb");

    const auto inFolder = [&](std::string s) {
        if (const auto at = s.find("$DIR"); at != std::string::npos)
            s.replace(at, 4, folder.file(""));
        return s;
    };
    for (const auto& c : caseTable("windows_path_faults.tsv", 3)) {
        const std::string path = inFolder(c[1]);
        dialogs.shown.clear();
        type("Rpath", good);
        type("Apath", db);
        type(c[0].c_str(), path);
        click(c[0] == "Rpath" ? "ReadKrvFile" : "AppendIT");
        ASSERT_FALSE(dialogs.shown.empty()) << c.where("windows_path_faults.tsv");
        EXPECT_EQ(dialogs.shown[0].text,
                  "Invalid path or file name [ " + path + " ] <" + inFolder(c[2]) + ">");
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

// Message boxes as a person meets them: over the window that asked, as dialogs. What the
// box looked like when it opened is taken from inside its own event loop.
struct SeenBox {
    QWidget* parent = nullptr;
    Qt::WindowFlags flags;
    QPoint centre;
    QString text;
};

class WindowBehaviour : public WindowHarness<QtDialogs> {
  protected:
    void SetUp() override {
        WindowHarness::SetUp();
        window->move(0, 0);
        window->show();
    }
    // Runs `raise`, answers every box it opens with `answer` and reports the first.
    SeenBox answerBoxes(const std::function<void()>& raise, QMessageBox::StandardButton answer) {
        SeenBox seen;
        QTimer answering;
        QObject::connect(&answering, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) return;
            if (!seen.parent)
                seen = {box->parentWidget(), box->windowFlags(), box->frameGeometry().center(),
                        box->text()};
            box->button(answer)->click();
        });
        answering.start(5);
        raise();
        return seen;
    }
};

void expectDialogOver(const SeenBox& seen, const QWidget* owner) {
    EXPECT_EQ(seen.parent, owner);
    EXPECT_TRUE(seen.flags & Qt::Dialog);
    EXPECT_FALSE(seen.flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(seen.flags & Qt::WindowMaximizeButtonHint);
    const QPoint off = seen.centre - owner->frameGeometry().center();
    EXPECT_LE(off.manhattanLength(), 4) << off.x() << "," << off.y();
}

TEST_F(WindowBehaviour, EachBoxOpensCentredOverTheWindowThatAskedAndCountersShowWholeNumbers) {
    ResultsWindow* viewer = openViewerOnFreshDatabase();
    ASSERT_NE(viewer, nullptr);
    viewer->move(430, 250);  // the offscreen screen is 800 by 600
    viewer->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(viewer));

    const SeenBox question =
        answerBoxes([&] { viewer->findChild<QPushButton*>("Command1")->click(); }, QMessageBox::No);
    EXPECT_EQ(question.text, "Delete the last record, are you SURE ?");
    expectDialogOver(question, viewer);

    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    type("Apath", folder.file("none"));
    const SeenBox message = answerBoxes([&] { click("ViewR"); }, QMessageBox::Ok);
    EXPECT_EQ(message.text.left(26), "Invalid path or file name ");
    expectDialogOver(message, window.get());

    // Counters with numbers longer than the design's labels held.
    state.numbRecCaption = "2147483647";
    state.numFieldsCaption = "1000000";
    state.numbIsoCaption = "1000000";
    // Reading a report that is not there shows the state again, after its message.
    answerBoxes([&] { click("ReadKrvFile"); }, QMessageBox::Ok);
    QApplication::processEvents();
    for (const char* name : {"NumbRec", "NumFields"}) {
        const auto* l = child<QLabel>(name);
        EXPECT_GE(l->contentsRect().width(), l->fontMetrics().horizontalAdvance(l->text()))
            << name << " " << l->text().toStdString();
    }
    EXPECT_EQ(text("NumbRec"), "2147483647");
}

// The Import menu: files chosen, the job off the interface thread, Cancel stopping after
// the current report, a summary at the end.
struct ScriptedChooser : ImportFileChooser {
    std::string old, dest;
    std::vector<std::string> reports;
    std::string legacyFile(QWidget*) override { return old; }
    std::string legacyDestination(QWidget*, const std::string&) override { return dest; }
    std::vector<std::string> reportFiles(QWidget*) override { return reports; }
};

class ImportMenuTest : public WindowHarness<> {
  protected:
    void SetUp() override {
        WindowHarness::SetUp();
        type("Apath", folder.file("Results.mdb"));
        menu = window->findChild<ImportMenu*>();
        ASSERT_NE(menu, nullptr);
        menu->setChooser(std::unique_ptr<ImportFileChooser>(chooser = new ScriptedChooser));
    }
    QAction* entry(const QString& caption) {
        for (QAction* a : window->findChild<QMenu*>(QStringLiteral("ImportMenu"))->actions())
            if (a->text() == caption) return a;
        ADD_FAILURE() << caption.toStdString();
        return nullptr;
    }
    // Runs a menu entry by its caption and waits for the summary.
    void choose(const QString& caption, const std::function<void()>& meanwhile = {}) {
        QSignalSpy finished(menu, &ImportMenu::jobFinished);
        QAction* action = entry(caption);
        ASSERT_NE(action, nullptr);
        action->trigger();
        EXPECT_TRUE(menu->busy());
        EXPECT_FALSE(action->isEnabled());  // one job at a time
        if (meanwhile) meanwhile();
        ASSERT_TRUE(!finished.isEmpty() || finished.wait(60'000));
        EXPECT_TRUE(action->isEnabled());
    }
    std::string writeReports(int n) {
        writeManyReports(folder / "in", n);
        for (const auto& e : std::filesystem::directory_iterator(folder / "in"))
            chooser->reports.push_back(e.path().string());
        return folder.file("Results.mdb");
    }

    ImportMenu* menu = nullptr;
    ScriptedChooser* chooser = nullptr;
};

TEST_F(ImportMenuTest, ReportsGoToTheDatabaseBoxInTheChosenModeWithASummary) {
    const std::string db = writeReports(3);
    writeFile(folder / "notes.txt", "not a report");
    chooser->reports.push_back(folder.file("notes.txt"));
    child<QRadioButton>("Option1(2)")->click();  // net counts
    choose(QStringLiteral("Import reports…"));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].title, kAppTitle);
    EXPECT_EQ(dialogs.shown[0].text,
              "Imported 3 reports into " + db +
                  "\nSkipped 0 already imported in mode net\nRefused 1:\n  " +
                  folder.file("notes.txt") + ": not a results report (no \"ID:\" line)\n");
    EXPECT_EQ(RawDb(db).scalar("SELECT group_concat(\"CS-137@NET1\") FROM SamData"), "900,900,900");
}

TEST_F(ImportMenuTest, CancelStopsAfterTheCurrentReportAndKeepsWhatWasDone) {
    const std::string db = writeReports(1000);
    choose(QStringLiteral("Import reports…"), [&] {
        ASSERT_NE(menu->progressDialog(), nullptr);
        menu->progressDialog()->findChild<QPushButton*>()->click();
    });
    ASSERT_EQ(dialogs.shown.size(), 1u);
    const auto records = RawDb(db).scalar("SELECT count(*) FROM SamData");
    EXPECT_EQ(dialogs.shown[0].text.rfind("Imported " + *records + " reports", 0), 0u)
        << dialogs.shown[0].text;
    EXPECT_LT(std::stoi(*records), 1000);
    EXPECT_EQ(RawDb(db).scalar("SELECT count(*) FROM ImportedReports"), records);
}

#ifdef _WIN32
// The Windows build has no chart and no Jet reader: each entry stays where the lab knows
// it and says, before anything is chosen, where the work is done; nothing opens or runs.
TEST_F(ImportMenuTest, WindowsEntriesSayWhereTheLinuxBuildDoesTheWork) {
    chooser->dest = folder.file("imported.mdb");
    child<QAction>("TrendChartAction")->trigger();
    EXPECT_TRUE(window->findChildren<QDialog*>().isEmpty());
    entry(QStringLiteral("Import legacy database…"))->trigger();
    EXPECT_FALSE(menu->busy());
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_NE(dialogs.shown[0].text.find("needs the Linux build"), std::string::npos);
    EXPECT_NE(dialogs.shown[0].text.find("krvtool qc"), std::string::npos);
    EXPECT_NE(dialogs.shown[1].text.find("the Linux build imports them"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(chooser->dest));
}
#else
TEST_F(ImportMenuTest, ALegacyFileThatIsNotJetIsRefusedAndNothingIsMade) {
    writeFile(folder / "old.mdb", "a note, not a database");
    chooser->old = folder.file("old.mdb");
    chooser->dest = folder.file("imported.mdb");
    // A note, then a real Jet file read by the reader process started from the job's thread.
    const std::pair<std::string, std::string> cases[] = {
        {chooser->old,
         ": not a Jet (Access) database, or it cannot be read; nothing was imported."},
        {KRV_FIXTURES "/testV1997.mdb",
         ": the old database has no table SamData; nothing was imported."}};
    for (const auto& [old, why] : cases) {
        dialogs.shown.clear();
        chooser->old = old;
        choose(QStringLiteral("Import legacy database…"));
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].text, old + why);
        EXPECT_FALSE(std::filesystem::exists(chooser->dest));
    }
}

// "Trend chart…" as a user reaches it: the main window's menu, the database in Apath,
// over the daily check-source counts among blanks; a missing file is said.
TEST_F(MainWindow, TrendChartMenuOpensTheChartOverTheDatabaseInApath) {
    const auto openOn = [&](const std::string& path) {
        type("Apath", path);
        child<QAction>("TrendChartAction")->trigger();
        return window->findChild<TrendDialog*>();
    };
    const std::string missing = folder.file("none.db");
    EXPECT_EQ(openOn(missing), nullptr);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "Invalid path or file name [ " + missing +
                                         " ] <Could not find file '" + missing + "'.>");
    EXPECT_EQ(dialogs.shown[0].title, "KrvArchiver");
    dialogs.shown.clear();

    appendCounts(*engine, folder.file("results.db"), dailyCounts(15, 0));
    EXPECT_EQ(child<QAction>("TrendChartAction")->text(), QStringLiteral("Trend chart…"));
    TrendDialog* dialog = openOn("  " + folder.file("results.db") + " ");
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    QTreeWidget* flags = dialog->panel()->flagList();
    auto* column = dialog->findChild<QComboBox*>(QStringLiteral("TrendColumn"));
    ASSERT_EQ(column->count(), 3);
    EXPECT_EQ(column->itemText(0), QStringLiteral("CO-60@LINE1"));
    EXPECT_EQ(column->itemText(2), QStringLiteral("CS-137"));

    dialog->findChild<QPushButton*>(QStringLiteral("Draw"))->click();
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(dialog->trend().points.size(), 60u);
    EXPECT_TRUE(dialog->trend().corrected);
    EXPECT_EQ(flags->topLevelItemCount(), 0);

    // The same counts as stored: the decay alone drifts below the mean.
    dialog->findChild<QComboBox*>(QStringLiteral("TrendDecay"))->setCurrentIndex(2);  // off
    dialog->findChild<QPushButton*>(QStringLiteral("Draw"))->click();
    EXPECT_FALSE(dialog->trend().corrected);
    ASSERT_GT(flags->topLevelItemCount(), 0);
    const QString last = flags->topLevelItem(flags->topLevelItemCount() - 1)->text(3);
    EXPECT_TRUE(last.contains(QStringLiteral("10x"))) << last.toStdString();

    // A column the table lacks is said.
    column->setCurrentText(QStringLiteral("CO-60@LINE9"));
    dialog->drawClicked();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "the table has no column \"CO-60@LINE9\"");
}
#endif

}  // namespace
}  // namespace krv::testing
