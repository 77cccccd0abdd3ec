#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleFactory>
#include <QTableView>

#include "app/session.h"
#include "report/parser.h"
#include "results_db/archive.h"
#include "tests/support/recording_dialogs.h"
#include "tests/support/test_folder.h"
#include "viewer/form_view_r.h"

namespace krv {
namespace {

using testing::RecordingDialogs;
using testing::TestFolder;

struct NoLauncher : ProgramLauncher {
    bool startDetached(const std::string&, const std::vector<std::string>&) override {
        ++starts;
        return true;
    }
    int starts = 0;
};

class MainWindow : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "main_window_tests";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance()) {
            new QApplication(argc, argv);
            QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
        }
    }

    void SetUp() override {
        files = SettingsFiles::in(folder.path());
        startUp(state, files);
        engine = db::makeSqliteEngine();
        window = std::make_unique<ParseIt>(state, files, *engine, dialogs, launcher);
        window->setEndProgram([this] { ++ends; });
    }

    template <typename T>
    T* child(const char* name) {
        T* w = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QColor colour(const char* button) {
        return child<QPushButton>(button)->palette().color(QPalette::Button);
    }
    void type(const char* box, const std::string& text) {
        child<QLineEdit>(box)->setText(QString::fromStdString(text));
    }

    TestFolder folder;
    SettingsFiles files;
    WindowState state;
    RecordingDialogs dialogs;
    NoLauncher launcher;
    std::unique_ptr<db::Engine> engine;
    std::unique_ptr<ParseIt> window;
    int ends = 0;
};

TEST_F(MainWindow, ShowsTheDesignedControls) {
    EXPECT_EQ(window->windowTitle(), "KDP Korvane Archiver 020514");
    const std::pair<const char*, const char*> captions[] = {
        {"ViewR", "Edit Results DataBase"},
        {"Command1", "View Results.TXT"},
        {"CloseForm", "Exit"},
        {"AppendIT", "Append Results Database"},
        {"CreateDb", "Reset Results DataBase"},
        {"ReadKrvFile", "Read Krv Results Text file"},
    };
    for (auto [name, caption] : captions) EXPECT_EQ(child<QPushButton>(name)->text(), caption);
    EXPECT_EQ(child<QPushButton>("CloseForm")->toolTip(), "Exit Program");
    EXPECT_EQ(child<QPushButton>("AppendIT")->toolTip(),
              "Add a new record with the current data to the Results database");
    EXPECT_EQ(child<QPushButton>("CreateDb")->toolTip(),
              "Delete the present database and create a new one. All saved data will be lost.");
    EXPECT_EQ(child<QPushButton>("ReadKrvFile")->toolTip(),
              "Read the report file from KrvGold RAPID SCAN or ROI DIRECTED anaylsys");
    EXPECT_EQ(child<QLabel>("Label1")->text(), "Number of  Isotopes:");
    EXPECT_EQ(child<QLabel>("Label5")->text(), "Number of Records:");
    EXPECT_EQ(child<QLabel>("Label2")->text(), "Number of Fields:");
    EXPECT_EQ(child<QLabel>("NumbRec")->toolTip(), "Number of records in the Results database");
    EXPECT_EQ(child<QLabel>("NumFields")->toolTip(), "Number of fields in the Results database");
    EXPECT_EQ(child<QLabel>("NumbIso")->toolTip(),
              "Number of isotopes found in the analysis report");
    for (const char* l : {"NumbRec", "NumFields", "NumbIso", "CurrentFile"})
        EXPECT_EQ(child<QLabel>(l)->text(), "null") << l;
    EXPECT_EQ(child<QGroupBox>("Frame1")->title(), "Select Append Mode");
    EXPECT_EQ(child<QGroupBox>("FrameReport")->title(),
              "Path and file name for Krv Results Text File Report");
    EXPECT_EQ(child<QGroupBox>("FrameKpath")->title(), "Path and file name for Results DataBase");
    EXPECT_EQ(child<QLineEdit>("Rpath")->text().toStdString(), defaultReportPath());
    EXPECT_EQ(child<QLineEdit>("Apath")->text().toStdString(), defaultDatabasePath());
    EXPECT_TRUE(child<QRadioButton>("Option1(1)")->isChecked());
    EXPECT_EQ(child<QRadioButton>("Option1(4)")->text(), "BKG COUNTS");

    EXPECT_EQ(colour("CloseForm"), QColor(0, 255, 0));
    EXPECT_EQ(colour("ReadKrvFile"), QColor(0, 255, 0));
    EXPECT_EQ(colour("AppendIT"), QColor(255, 255, 0));
    EXPECT_EQ(colour("CreateDb"), QColor(255, 0, 0));
    EXPECT_NE(colour("ViewR"), QColor(255, 0, 0));
}

TEST_F(MainWindow, ReadAppendAndResetThroughTheButtons) {
    const auto report = folder / "RESULTS.TXT";
    testing::writeFile(report,
                       "ID: SAMPLE-42\r\n"
                       "CS-137       Activity =  1.0\r\n"
                       "   Energy    Activity\r\n"
                       "------\r\n"
                       "  661.66                 1000                1000         5.5\r\n"
                       "\r\n");
    const std::string db = (folder / "Results.mdb").string();
    type("Rpath", report.string());
    type("Apath", "  " + db + " ");

    child<QRadioButton>("Option1(2)")->click();
    EXPECT_EQ(state.appendMode, 1);
    child<QPushButton>("ReadKrvFile")->click();
    EXPECT_EQ(child<QLabel>("NumbIso")->text(), "1");
    EXPECT_TRUE(child<QLabel>("CurrentFile")->text().startsWith(" SAMPLE-42"));

    child<QPushButton>("AppendIT")->click();
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(child<QLabel>("NumbRec")->text(), "1");
    EXPECT_EQ(child<QLabel>("NumFields")->text(), "8");
    EXPECT_EQ(colour("AppendIT"), QColor(255, 0, 0));

    // Reading again does not turn the button back.
    child<QPushButton>("ReadKrvFile")->click();
    EXPECT_EQ(colour("AppendIT"), QColor(255, 0, 0));

    dialogs.answers = {false};
    child<QPushButton>("CreateDb")->click();
    EXPECT_EQ(child<QLabel>("NumbRec")->text(), "1");
    dialogs.answers = {true};
    child<QPushButton>("CreateDb")->click();
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].text, "Delete ALL data and create a new DataBase, are you SURE ?");
    EXPECT_EQ(child<QLabel>("NumbRec")->text(), "0");
    EXPECT_EQ(child<QLabel>("NumFields")->text(), "7");
}

TEST_F(MainWindow, BadReportPathShowsTheMessage) {
    type("Rpath", (folder / "no such folder" / "R.TXT").string());
    child<QPushButton>("ReadKrvFile")->click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(
        dialogs.shown[0].text.rfind("Invalid path or file name [ " +
                                        (folder / "no such folder" / "R.TXT").string() + " ] <",
                                    0),
        0u);
    EXPECT_EQ(dialogs.shown[0].title, "KrvArchiver");
    EXPECT_EQ(child<QLabel>("CurrentFile")->text(), "");
}

TEST_F(MainWindow, ExitSavesOnceAndEndsTheProgram) {
    type("Apath", "/somewhere/db.mdb");
    state.columnWidth[3] = 2000;
    child<QPushButton>("CloseForm")->click();
    EXPECT_EQ(ends, 1);
    WindowState again;
    startUp(again, files);
    EXPECT_EQ(again.apathText, "/somewhere/db.mdb");
    EXPECT_EQ(again.columnWidth[3], 2000);

    // The close that follows does not save again over what Exit wrote.
    type("Apath", "/elsewhere.mdb");
    window->close();
    WindowState after;
    startUp(after, files);
    EXPECT_EQ(after.apathText, "/somewhere/db.mdb");
}

TEST_F(MainWindow, CloseBoxSavesAndModeIsNotKept) {
    child<QRadioButton>("Option1(4)")->click();
    EXPECT_EQ(state.appendMode, 3);
    type("Rpath", "/r.txt");
    window->close();
    EXPECT_EQ(ends, 0);
    WindowState again;
    startUp(again, files);
    EXPECT_EQ(again.rpathText, "/r.txt");
    EXPECT_EQ(again.appendMode, 0);
}

TEST_F(MainWindow, ExitWithTheViewerOpenSavesTheWidthsHeldBeforeIt) {
    const std::string db = (folder / "Results.mdb").string();
    state.apathText = db;
    state.blindFlag = true;
    createDb(state, dialogs, *engine);
    state.blindFlag = false;
    type("Apath", db);
    state.columnWidth[1] = 2000;

    child<QPushButton>("ViewR")->click();
    auto* viewer = window->findChild<FormViewR*>();
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->isVisible());
    viewer->grid()->horizontalHeader()->resizeSection(1, 400);
    child<QPushButton>("CloseForm")->click();
    EXPECT_EQ(ends, 1);

    WindowState again;
    startUp(again, files);
    EXPECT_EQ(again.columnWidth[1], 2000);
}

TEST_F(MainWindow, ClosingTheViewerFirstKeepsItsWidthsForTheSave) {
    const std::string db = (folder / "Results.mdb").string();
    state.apathText = db;
    state.blindFlag = true;
    createDb(state, dialogs, *engine);
    state.blindFlag = false;
    type("Apath", db);

    child<QPushButton>("ViewR")->click();
    auto* viewer = window->findChild<FormViewR*>();
    ASSERT_NE(viewer, nullptr);
    viewer->grid()->horizontalHeader()->resizeSection(2, 300);
    viewer->close();
    EXPECT_GT(state.columnWidth[2], 100);
    window->close();

    WindowState again;
    startUp(again, files);
    EXPECT_EQ(again.columnWidth[2], state.columnWidth[2]);
}

}  // namespace
}  // namespace krv
