// The results viewer on real database files, in an offscreen window.

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <filesystem>
#include <optional>

#include "results_db/archive.h"
#include "tests/support/recording_dialogs.h"
#include "viewer/form_view_r.h"
#include "viewer/results_model.h"
#include "viewer/results_viewer.h"

namespace krv {
namespace {

using testing::RecordingDialogs;

class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "krvview-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempFolder() { std::filesystem::remove_all(path_); }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

using Cell = std::optional<std::string>;

// A connection of the test's own, so what the viewer wrote is read without the store.
class RawDb {
  public:
    explicit RawDb(const std::string& path) { sqlite3_open(path.c_str(), &db_); }
    ~RawDb() { sqlite3_close(db_); }
    void exec(const std::string& sql) {
        EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db_);
    }
    std::vector<std::vector<Cell>> query(const std::string& sql) {
        std::vector<std::vector<Cell>> rows;
        sqlite3_stmt* s = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr), SQLITE_OK) << sql;
        while (s && sqlite3_step(s) == SQLITE_ROW) {
            auto& row = rows.emplace_back();
            for (int i = 0; i < sqlite3_column_count(s); ++i) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
                row.push_back(text ? Cell(text) : std::nullopt);
            }
        }
        sqlite3_finalize(s);
        return rows;
    }
    Cell scalar(const std::string& sql) {
        auto rows = query(sql);
        return rows.empty() ? Cell{} : rows[0][0];
    }

  private:
    sqlite3* db_ = nullptr;
};

class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "viewer_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        QApplication::setStyle("Fusion");
    }
    void TearDown() override { delete app_; }

  private:
    QApplication* app_ = nullptr;
};
[[maybe_unused]] const auto* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

void processEvents() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

class ViewerTest : public ::testing::Test {
  protected:
    void TearDown() override { delete viewer.data(); }

    // A fresh results database with `records` appended from one report (one isotope with
    // one line, so eight columns).
    void makeDatabase(int records) {
        path = tmp.file("results.db");
        state.apathText = path;
        state.blindFlag = true;
        ASSERT_TRUE(createDb(state, dialogs, *engine).ok);
        state.blindFlag = false;
        setReport("CO-60", "Sample A");
        for (int i = 0; i < records; ++i) append();
    }
    void setReport(const std::string& isotope, const std::string& id) {
        AnalysisReport& r = state.report;
        r.beginRead();
        r.idText.assign(id);
        r.fileName.assign("SPEC0001.CNF");
        r.countingTime = 600;
        r.deadTimePct = 1.5f;
        r.addIsotope(isotope);
        r.addLine({1173.2f, 12.5f, 100, 120});
    }
    void append() { ASSERT_TRUE(appendIt(state, dialogs, *engine, '.').ok); }

    void open() { openResultsViewer(viewer, state, dialogs, &mainWindow); }
    void closeViewer() {
        viewer->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ASSERT_TRUE(viewer.isNull());
    }
    QString label(const char* name) const { return viewer->findChild<QLabel*>(name)->text(); }
    QTableView* grid() const { return viewer->grid(); }
    ResultsModel* model() const { return viewer->model(); }
    QString cell(int row, int column) const {
        return model()->data(model()->index(row, column)).toString();
    }
    int columnOf(const QString& name) const {
        for (int c = 0; c < model()->columnCount(); ++c)
            if (model()->headerData(c, Qt::Horizontal).toString() == name) return c;
        return -1;
    }
    int sectionSize(int column) const { return grid()->horizontalHeader()->sectionSize(column); }

    TempFolder tmp;
    std::string path;
    WindowState state;
    RecordingDialogs dialogs;
    std::unique_ptr<db::Engine> engine = db::makeSqliteEngine();
    QWidget mainWindow;
    QPointer<FormViewR> viewer;
};

TEST_F(ViewerTest, OpensWithTheDesignLayoutAndCountsTheTable) {
    makeDatabase(0);
    open();
    ASSERT_FALSE(viewer.isNull());
    EXPECT_TRUE(viewer->isVisible() && viewer->isWindow());
    EXPECT_EQ(viewer->parentWidget(), &mainWindow);
    EXPECT_EQ(viewer->windowTitle(), "Edit Results.MDB");
    const struct {
        const char* name;
        int left, top, width, height;
    } design[] = {{"SampleR", 240, 0, 2295, 375},   {"Command1", 240, 480, 2295, 375},
                  {"Label1", 3000, 120, 975, 255},  {"TotalLable", 4080, 120, 615, 255},
                  {"Label2", 2760, 360, 1215, 255}, {"CurrentRecord", 4080, 360, 615, 255},
                  {"Label4", 2880, 600, 1095, 255}, {"FieldCount", 4080, 600, 615, 255}};
    for (const auto& d : design) {
        const QRect expected(viewer->twipsToPixelsX(d.left), viewer->twipsToPixelsY(d.top),
                             viewer->twipsToPixelsX(d.width), viewer->twipsToPixelsY(d.height));
        EXPECT_EQ(viewer->findChild<QWidget*>(d.name)->geometry(), expected) << d.name;
    }
    EXPECT_EQ(viewer->findChild<QPushButton*>("Command1")->palette().color(QPalette::Button),
              QColor(255, 0, 0));

    // An empty table: no records, its columns counted, no current record yet.
    EXPECT_EQ(label("TotalLable"), "0");
    EXPECT_EQ(label("CurrentRecord"), "null");
    EXPECT_EQ(label("FieldCount"), "7");
    EXPECT_EQ(model()->headerData(6, Qt::Horizontal).toString(), "DT %");
    dialogs.answers = {true};  // deleting from an empty table: nothing but the question
    viewer->findChild<QPushButton*>("Command1")->click();
    processEvents();
    EXPECT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(label("CurrentRecord"), "null");
    closeViewer();
    dialogs.shown.clear();

    append();
    append();
    open();
    EXPECT_EQ(label("TotalLable"), "2");
    EXPECT_EQ(label("FieldCount"), "8");
    EXPECT_EQ(cell(1, 0), "2");
    EXPECT_EQ(cell(0, columnOf("DT %")), "1.5");
    grid()->setCurrentIndex(model()->index(0, 3));
    EXPECT_EQ(label("CurrentRecord"), "1");
    viewer->findChild<QToolButton*>("last")->click();
    EXPECT_EQ(label("CurrentRecord"), "2");
    EXPECT_EQ(grid()->currentIndex().column(), 3);
    grid()->setCurrentIndex(QModelIndex());
    EXPECT_EQ(label("CurrentRecord"), "0");
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ViewerTest, StoredWidthsAboveOneHundredTwipsAreGivenAndClosingSavesThem) {
    makeDatabase(2);  // 8 columns
    // Beyond the last column: trying it ends the loop, so slot 10 is never tried, and
    // closing leaves both alone.
    state.columnWidth[9] = 1234;
    state.columnWidth[10] = 777;
    open();
    const double twipsPerPixel = viewer->pixelsToTwipsX(1);
    std::vector<int> automatic;
    for (int c = 0; c < 8; ++c) automatic.push_back(sectionSize(c));
    closeViewer();
    for (int c = 0; c < 8; ++c)
        EXPECT_EQ(state.columnWidth[c], std::lround(automatic[c] * twipsPerPixel)) << c;
    EXPECT_EQ(state.columnWidth[8], 0);
    EXPECT_EQ(state.columnWidth[9], 1234);
    EXPECT_EQ(state.columnWidth[10], 777);

    state.columnWidth[0] = 100;  // saved so, but not given back
    state.columnWidth[1] = 101;
    state.columnWidth[2] = 3000;
    open();
    EXPECT_EQ(sectionSize(0), automatic[0]);
    EXPECT_EQ(sectionSize(1), viewer->twipsToPixelsX(101));
    EXPECT_EQ(sectionSize(2), viewer->twipsToPixelsX(3000));

    // Another click while open, even with another path, gives the stored widths again but
    // keeps the binding.
    std::filesystem::copy_file(path, tmp.file("other.db"));
    state.apathText = tmp.file("other.db");
    ResultsModel* bound = model();
    grid()->horizontalHeader()->resizeSection(2, 40);
    open();
    EXPECT_EQ(sectionSize(2), viewer->twipsToPixelsX(3000));
    EXPECT_EQ(model(), bound);
    EXPECT_EQ(label("TotalLable"), "2");

    // A column wider than 32767 twips ends the saving at that column.
    const std::int16_t before3 = state.columnWidth[3], before5 = state.columnWidth[5];
    grid()->horizontalHeader()->resizeSection(1, 77);
    grid()->horizontalHeader()->resizeSection(3, viewer->twipsToPixelsX(33000));
    grid()->horizontalHeader()->resizeSection(5, 55);
    closeViewer();
    EXPECT_EQ(state.columnWidth[1], std::lround(77 * twipsPerPixel));
    EXPECT_EQ(state.columnWidth[3], before3);
    EXPECT_EQ(state.columnWidth[5], before5);
}

TEST_F(ViewerTest, EditsGoToTheirOwnRecordAmongDuplicates) {
    makeDatabase(2);
    open();
    const int number = columnOf("idxRec#");
    const int id = columnOf("ID Text");
    // Through the grid's own editor: the second record gets the first one's number, so
    // the two records are identical in every column.
    const QModelIndex numberCell = model()->index(1, number);
    grid()->setCurrentIndex(numberCell);
    grid()->edit(numberCell);
    auto* editor = grid()->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->setText("1");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(editor, &enter);
    processEvents();

    RawDb raw(path);
    EXPECT_EQ(raw.query("SELECT DISTINCT \"idxRec#\", \"ID Text\", \"CO-60\" FROM SamData").size(),
              1u);

    ASSERT_TRUE(model()->setData(model()->index(1, id), "changed"));
    EXPECT_EQ(raw.scalar("SELECT \"ID Text\" FROM SamData WHERE rowid = 2"), "changed");
    EXPECT_EQ(raw.scalar("SELECT trim(\"ID Text\") FROM SamData WHERE rowid = 1"), "Sample A");
    EXPECT_EQ(cell(1, id), "changed");
    EXPECT_EQ(cell(0, number), "1");

    // An emptied number becomes null; committing a cell unchanged writes nothing.
    ASSERT_TRUE(model()->setData(model()->index(0, number), ""));
    EXPECT_EQ(raw.scalar("SELECT typeof(\"idxRec#\") FROM SamData WHERE rowid = 1"), "null");
    raw.exec("DELETE FROM SamData WHERE rowid = 1");
    EXPECT_TRUE(model()->setData(model()->index(0, number), ""));
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST_F(ViewerTest, RefusedEditShowsTheEnginesReasonAndKeepsTheStoredValue) {
    makeDatabase(1);
    open();
    const struct Case {
        const char *column, *text, *reason;
    } cases[] = {{"DT %", "12345678901", "The field is too small"},
                 {"idxRec#", "40000", "Overflow"},
                 {"idxRec#", "abc", "Type mismatch"}};
    RawDb raw(path);
    const auto before = raw.query("SELECT * FROM SamData");
    for (const Case& c : cases) {
        dialogs.shown.clear();
        const QModelIndex index = model()->index(0, columnOf(c.column));
        const QString stored = model()->data(index).toString();
        EXPECT_FALSE(model()->setData(index, c.text)) << c.text;
        processEvents();
        ASSERT_EQ(dialogs.shown.size(), 1u) << c.text;
        EXPECT_EQ(dialogs.shown[0].kind, RecordingDialogs::Shown::Message);
        EXPECT_EQ(dialogs.shown[0].title, kAppTitle);
        EXPECT_EQ(dialogs.shown[0].text.rfind(c.reason, 0), 0u) << dialogs.shown[0].text;
        EXPECT_EQ(model()->data(index).toString(), stored);
    }
    EXPECT_EQ(raw.query("SELECT * FROM SamData"), before);
}

TEST_F(ViewerTest, DeleteLastRecordAsksAndRemovesTheLastRecordOfTheViewersList) {
    makeDatabase(3);
    open();
    auto* command1 = viewer->findChild<QPushButton*>("Command1");
    RawDb raw(path);
    grid()->horizontalHeader()->resizeSection(1, 50);

    dialogs.answers = {false};
    command1->click();
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].kind, RecordingDialogs::Shown::Question);
    EXPECT_EQ(dialogs.shown[0].text, "Delete the last record, are you SURE ?");
    EXPECT_EQ(dialogs.shown[0].title, "");
    EXPECT_EQ(raw.scalar("SELECT count(*) FROM SamData"), "3");
    EXPECT_EQ(model()->rowCount(), 3);

    // A record appended elsewhere after the viewer read its list is not the one deleted;
    // the re-read grid then shows it.
    append();
    grid()->setCurrentIndex(model()->index(2, 4));
    dialogs.answers = {true};
    command1->click();
    EXPECT_EQ(raw.query("SELECT rowid FROM SamData"),
              (std::vector<std::vector<Cell>>{{"1"}, {"2"}, {"4"}}));
    EXPECT_EQ(model()->rowCount(), 3);
    EXPECT_EQ(cell(2, 0), "4");
    EXPECT_EQ(grid()->currentIndex(), model()->index(0, 4));
    EXPECT_EQ(label("CurrentRecord"), "1");
    EXPECT_EQ(label("TotalLable"), "3");  // not recomputed
    EXPECT_EQ(sectionSize(1), 50);

    dialogs.answers = {true};
    command1->click();
    EXPECT_EQ(raw.scalar("SELECT group_concat(rowid) FROM SamData"), "1,2");
    EXPECT_EQ(dialogs.shown.size(), 3u);
}

TEST_F(ViewerTest, GridFollowsTheOuterWindowSizeAndSurvivesATinyWindow) {
    makeDatabase(1);
    open();
    if (viewer->logicalDpiX() != 96 || viewer->logicalDpiY() != 96)
        GTEST_SKIP() << "figures below assume 15 twips to the pixel";
    viewer->resize(600, 400);
    processEvents();
    const QRect outer = viewer->frameGeometry();
    // 2 x 375 twips of the navigator plus the grid's top at 960 twips: 114 pixels.
    const int width = static_cast<int>(std::lround(outer.width() * 0.98));
    EXPECT_EQ(grid()->geometry(),
              QRect((outer.width() - width + 1) / 2, 64, width, outer.height() - 114));

    viewer->resize(40, 30);
    processEvents();
    EXPECT_EQ(grid()->height(), 0);
    EXPECT_EQ(grid()->y(), 64);
}

TEST_F(ViewerTest, PathIsCheckedTrimmedButBoundAsTyped) {
    makeDatabase(2);
    state.apathText = tmp.file("missing.db");
    open();
    EXPECT_TRUE(viewer.isNull());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text,
              "Invalid path or file name [ " + tmp.file("missing.db") + " ] ");
    EXPECT_EQ(dialogs.shown[0].title, kAppTitle);

    // Blanks around an existing file's name: the look-up passes, the binding does not.
    state.apathText = "  " + path + " ";
    open();
    ASSERT_FALSE(viewer.isNull());
    EXPECT_TRUE(viewer->isVisible());
    EXPECT_EQ(label("TotalLable"), "0");
    EXPECT_EQ(label("CurrentRecord"), "null");
    EXPECT_EQ(label("FieldCount"), "0");
    EXPECT_EQ(model()->columnCount(), 0);
    EXPECT_EQ(dialogs.shown.size(), 1u);
    // Unbound: the question is still asked, and nothing follows it.
    dialogs.answers = {true};
    viewer->findChild<QPushButton*>("Command1")->click();
    processEvents();
    EXPECT_EQ(dialogs.shown.size(), 2u);
}

TEST_F(ViewerTest, AppendsSucceedWhileTheViewerIsOpen) {
    makeDatabase(2);
    open();
    grid()->setCurrentIndex(model()->index(1, 2));
    (void)viewer->grab();  // the grid has read its rows

    setReport("CS-137", "Sample B");  // a new column as well as a record
    append();
    append();
    RawDb raw(path);
    EXPECT_EQ(raw.scalar("SELECT count(*) FROM SamData"), "4");
    EXPECT_EQ(raw.scalar("SELECT count(*) FROM pragma_table_info('SamData')"), "9");
    // The viewer keeps the columns it was opened with, and still writes.
    EXPECT_EQ(model()->columnCount(), 8);
    ASSERT_TRUE(model()->setData(model()->index(1, columnOf("ID Text")), "edited"));
    EXPECT_EQ(raw.scalar("SELECT \"ID Text\" FROM SamData WHERE rowid = 2"), "edited");
    append();
    EXPECT_EQ(raw.scalar("SELECT count(*) FROM SamData"), "5");
    EXPECT_TRUE(dialogs.shown.empty());
}

// Many wide records: values land in the right rows across pages, gaps left by deleted
// records included, while the cache stays within its bound.
TEST_F(ViewerTest, LongWideTableIsReadInPagesWithinTheCacheBound) {
    makeDatabase(0);
    {
        RawDb raw(path);
        for (int c = 0; c < 243; ++c)
            raw.exec("ALTER TABLE SamData ADD COLUMN \"N" + std::to_string(c) + "\" VARCHAR(10)");
        raw.exec("BEGIN");
        raw.exec(
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 3000) "
            "INSERT INTO SamData (rowid, \"idxRec#\", \"ID Text\", \"N242\") "
            "SELECT i, i % 30000, 'rec' || i, 'v' || i FROM n");
        raw.exec("DELETE FROM SamData WHERE rowid BETWEEN 100 AND 199");
        raw.exec("COMMIT");
    }
    open();
    ASSERT_EQ(model()->rowCount(), 2900);
    ASSERT_EQ(model()->columnCount(), 250);
    const auto rowidOf = [](int row) { return row < 99 ? row + 1 : row + 101; };
    const int id = columnOf("ID Text");
    for (int row = 0; row < model()->rowCount(); ++row) {
        ASSERT_EQ(cell(row, id), QString("rec%1").arg(rowidOf(row))) << row;
        ASSERT_LE(model()->cachedPages(), model()->maxCachedPages());
    }
    EXPECT_EQ(cell(2899, 249), "v3000");
    EXPECT_EQ(cell(0, 249), "v1");

    // A record removed by someone else after the list was read shows empty.
    RawDb(path).exec("DELETE FROM SamData WHERE rowid = 1500");
    model()->refresh();
    RawDb(path).exec("DELETE FROM SamData WHERE rowid = 1600");
    EXPECT_EQ(cell(1600 - 102, id), "");
    EXPECT_EQ(cell(1601 - 102, id), "rec1601");
    EXPECT_EQ(model()->rowCount(), 2899);
}

}  // namespace
}  // namespace krv
