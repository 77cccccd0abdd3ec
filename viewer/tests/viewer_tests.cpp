// The results viewer on real database files and servers, in an offscreen window.

#include <QtCore/qtestsupport_core.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QTableView>

#include "results_db/tests/store_bench.h"
#include "tests/support/case_table.h"
#include "tests/support/widgets_app.h"
#include "viewer/results_model.h"
#include "viewer/results_viewer.h"
#include "viewer/results_window.h"

namespace krv {
namespace {

using namespace testing;

// Fixed columns by position; the eighth is the report's one isotope line.
enum Column { kNumber = 0, kIdText = 2, kDeadTime = 6 };

class Viewer : public StoreBench {
  protected:
    static void SetUpTestSuite() {
        // The offscreen screen has 96 dots per inch: 15 twips to the pixel, which the
        // expected figures below are worked out at, not taken from the viewer's conversion.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        ensureWidgetsApp();
    }

    void makeDatabase(int records) {
        state.blindFlag = true;
        ASSERT_TRUE(reset().ok);
        state.blindFlag = false;
        state.report.idText.assign("Sample A");
        state.report.addIsotope("CO-60");
        state.report.addLine({1173.2f, 12.5f, 100, 120});
        for (int i = 0; i < records; ++i) ASSERT_TRUE(append().ok);
    }
    void open() { openResultsViewer(viewer, state, dialogs, &mainWindow); }
    void click(const char* name) { viewer->findChild<QAbstractButton*>(name)->click(); }
    QString label(const char* name) const { return viewer->findChild<QLabel*>(name)->text(); }
    // Records, current record, fields.
    QString counters() const {
        return label("TotalLable") + " " + label("CurrentRecord") + " " + label("FieldCount");
    }
    QTableView* grid() const { return viewer->grid(); }
    ResultsModel* model() const { return viewer->model(); }
    QString cell(int r, int c) const { return model()->index(r, c).data().toString(); }
    int sectionSize(int column) const { return grid()->horizontalHeader()->sectionSize(column); }

    QWidget mainWindow;
    QPointer<ResultsWindow> viewer;
};
class FileViewer : public Viewer {};
INSTANTIATE_TEST_SUITE_P(BothStores, Viewer, bothStores(), kindName);
INSTANTIATE_TEST_SUITE_P(File, FileViewer, ::testing::Values(Kind::File), kindName);

TEST_P(FileViewer, OpensOnACheckedPathCountsAndEditsEachRecordAndDeletesTheLastOfItsList) {
    makeDatabase(2);
    state.apathText = tmp.file("no.db");
    open();
    EXPECT_TRUE(viewer.isNull());
    // Blanks pass the trimmed check, but the binding takes the path as typed and fails.
    state.apathText = "  " + path + " ";
    open();
    ASSERT_TRUE(viewer);
    EXPECT_EQ(counters(), "0 null 0");
    ASSERT_EQ(dialogs.shown.size(), 1u);  // the failed binding adds no message of its own
    EXPECT_EQ(dialogs.shown[0].text, "Invalid path or file name [ " + tmp.file("no.db") + " ] ");
    delete viewer.data();  // a later click would keep this binding

    state.apathText = path;
    open();
    EXPECT_EQ(counters(), "2 null 8");
    grid()->setCurrentIndex(model()->index(1, 3));
    EXPECT_EQ(label("CurrentRecord"), "2");
    EXPECT_EQ(model()->headerData(1, Qt::Vertical).toString(), "2");  // rows count from one

    // Through the grid's editor: with the first record's number the second is identical
    // to it, so only the record identity tells them apart.
    grid()->edit(model()->index(1, kNumber));
    auto* editor = grid()->viewport()->findChild<QLineEdit*>();
    ASSERT_TRUE(editor);
    editor->setText("1");
    emit grid()->itemDelegate()->commitData(editor);
    RawDb raw(path);
    ASSERT_EQ(raw.query("SELECT DISTINCT * FROM SamData").size(), 1u);
    ASSERT_TRUE(model()->setData(model()->index(1, kIdText), "changed"));
    EXPECT_EQ(raw.query("SELECT rowid, trim(\"ID Text\") FROM SamData"),
              (Rows{{"1", "Sample A"}, {"2", "changed"}}));
    // The cell shows what the column made of the text.
    ASSERT_TRUE(model()->setData(model()->index(0, kNumber), "7.6"));
    EXPECT_EQ(model()->data(model()->index(0, kNumber)).toString(), "8");

    const Rows before = raw.query("SELECT * FROM SamData");
    for (auto [column, text, reason] :
         {std::tuple{kDeadTime, "12345678901", "The field is too small"},
          {kNumber, "40000", "Overflow"},
          {kNumber, "abc", "Type mismatch"}}) {
        dialogs.shown.clear();
        EXPECT_FALSE(model()->setData(model()->index(0, column), text));
        QCoreApplication::processEvents();  // the message is queued
        ASSERT_EQ(dialogs.shown.size(), 1u) << text;
        EXPECT_EQ(dialogs.shown[0].text.rfind(reason, 0), 0u) << dialogs.shown[0].text;
    }
    EXPECT_EQ(raw.query("SELECT * FROM SamData"), before);

    // An append while the viewer is open; Delete last takes the last of the viewer's own list.
    dialogs.shown.clear();
    (void)viewer->grab();               // the grid has read its rows
    state.report.addIsotope("CS-137");  // a new column as well as a record
    state.report.addLine({661.7f, 8.5f, 50, 60});
    ASSERT_TRUE(append().ok);
    EXPECT_EQ(raw.columns().size(), 9u);

    grid()->horizontalHeader()->resizeSection(1, 50);
    dialogs.answers = {false, true, true, true, true};
    click("Command1");
    EXPECT_EQ(raw.scalar("SELECT count(*) FROM SamData"), "3");
    click("Command1");  // the appended record was never in the viewer's list
    EXPECT_EQ(raw.scalar("SELECT group_concat(i) FROM (SELECT rowid AS i FROM SamData ORDER BY i)"),
              "1,3");
    EXPECT_EQ(cell(1, kNumber), "3");
    EXPECT_EQ(sectionSize(1), 50);
    for (int i = 0; i < 3; ++i) click("Command1");  // the last one on an empty table
    EXPECT_EQ(raw.scalar("SELECT count(*) FROM SamData"), "0");
    ASSERT_EQ(dialogs.shown.size(), 5u);
    for (const auto& s : dialogs.shown) EXPECT_EQ(s.text, "Delete the last record, are you SURE ?");
#ifndef KRV_SERVER_TESTS
    // The build without a server store refuses a server as it would a bad path.
    delete viewer.data();
    dialogs.shown.clear();
    state.apathText = "postgresql://localhost/results";
    open();
    EXPECT_TRUE(viewer.isNull());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text,
              "Invalid path or file name [ postgresql://localhost/results ] ");
#endif
}

TEST_P(FileViewer, DesignLayoutFittedGridStoredWidthsAndWholeCounters) {
    makeDatabase(0);
    // 100 twips is not given: the column keeps its automatic width. 2000 is 133 1/3 pixels:
    // kept in twips while nobody touches it. Column 9 is no column: neither given nor
    // overwritten.
    for (auto [i, w] : {std::pair{0, 100}, {1, 101}, {2, 2000}, {3, 101}, {9, 1234}})
        state.columnWidth[i] = static_cast<std::int16_t>(w);
    open();
    EXPECT_EQ(counters(), "0 null 7");
    for (const auto& c : caseTable("viewer_controls.tsv", 5)) {
        const QRect twips(std::stoi(c[1]), std::stoi(c[2]), std::stoi(c[3]), std::stoi(c[4]));
        EXPECT_EQ(viewer->findChild<QWidget*>(QString::fromStdString(c[0]))->geometry(),
                  QRect(twips.topLeft() / 15, twips.size() / 15))
            << c.where("viewer_controls.tsv");
    }

    // The grid's top stays at 960 twips; two navigator heights of 375 twips more leave
    // 114 pixels of the outer height for the rest, and never less than nothing.
    viewer->resize(600, 400);
    const QRect outer = viewer->frameGeometry();
    const int width = static_cast<int>(std::lround(outer.width() * 0.98));
    EXPECT_EQ(grid()->geometry(),
              QRect((outer.width() - width + 1) / 2, 64, width, outer.height() - 114));
    viewer->resize(40, 30);
    EXPECT_EQ(grid()->height(), 0);

    EXPECT_GT(sectionSize(0), 7);
    EXPECT_EQ(sectionSize(1), 7);
    grid()->horizontalHeader()->resizeSection(1, 77);
    viewer->close();
    const auto& w = state.columnWidth;
    EXPECT_EQ((std::vector<int>{w[1], w[2], w[3], w[9]}),
              (std::vector<int>{77 * 15, 2000, 101, 1234}));

    // Counters show their whole number under captions that share the first one's font.
    delete viewer.data();
    RawDb(path).query(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000000) "
        "INSERT INTO SamData (rowid) SELECT i FROM n");
    open();
    click("last");
    EXPECT_EQ(counters(), "1000000 1000000 7");
    const QFont caption = viewer->findChild<QLabel*>("Label1")->font();
    for (const char* name : {"TotalLable", "CurrentRecord", "FieldCount", "Label2", "Label4"}) {
        const auto* l = viewer->findChild<QLabel*>(name);
        EXPECT_GE(l->contentsRect().width(), l->fontMetrics().horizontalAdvance(l->text())) << name;
        EXPECT_TRUE(*name == 'L' ? l->font() == caption : l->x() == 4080 / 15) << name;
    }
}

TEST_P(Viewer, CountsEditsAndDeletesInTheStoreWithTheirTrail) {
    if (server()) {  // a server database without the results table
        open();
        EXPECT_TRUE(viewer.isNull());
        ASSERT_EQ(dialogs.shown.size(), 1u);
        EXPECT_EQ(dialogs.shown[0].text, "Invalid path or file name [ " + path + " ] ");
        dialogs.shown.clear();
    }
    makeDatabase(3);
    open();
    ASSERT_TRUE(viewer);
    EXPECT_EQ(counters(), "3 null 8");  // a server's hidden record identity is no field
    ASSERT_TRUE(model()->setData(model()->index(0, kDeadTime), QStringLiteral("9.5")));
    dialogs.answers = {true, true};
    click("Command1");
    EXPECT_EQ(raw().query("SELECT \"Operation\", \"RecordId\", \"ColumnName\", \"NewValue\" "
                          "FROM \"KrvAudit\" ORDER BY " +
                          raw().order()),
              (Rows{{"edit", "1", "DT %", "9.5"}, {"delete", "3", {}, {}}}));
    if (!server()) {
        RawDb raw(path);
        EXPECT_EQ(raw.scalar("SELECT json_extract(OldValue, '$.\"idxRec#\"') FROM KrvAudit "
                             "WHERE Operation = 'delete'"),
                  "3");
        // A change whose entry cannot be written does not happen.
        raw.query(
            "CREATE TRIGGER refuse BEFORE INSERT ON KrvAudit BEGIN SELECT RAISE(FAIL, 'no'); END");
        EXPECT_FALSE(model()->setData(model()->index(1, kDeadTime), "1"));
        // An editor closed on an unchanged cell leaves the store, and so the trail, alone.
        EXPECT_TRUE(model()->setData(model()->index(0, kDeadTime), "9.5"));
        click("Command1");
        EXPECT_EQ(raw.scalar("SELECT count(*) FROM KrvAudit"), "2");
        QCoreApplication::processEvents();  // the refusal is shown once the editor has closed
        ASSERT_FALSE(dialogs.shown.empty());
        EXPECT_EQ(dialogs.shown.back().kind, testing::RecordingDialogs::Shown::Message);
    }
    EXPECT_EQ(
        raw().query("SELECT \"idxRec#\", \"DT %\" FROM \"SamData\" ORDER BY " + raw().order()),
        (Rows{{"1", "9.5"}, {"2", "0"}}));
}

TEST_P(FileViewer, LongWideTableIsReadInPagesAndRowsFollowIdentitiesUntilAGap) {
    makeDatabase(0);
    RawDb raw(path);
    for (int c = 0; c < 243; ++c)
        raw.query("ALTER TABLE SamData ADD COLUMN \"N" + std::to_string(c) + "\" VARCHAR(10)");
    raw.query(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1500) "
        "INSERT INTO SamData (rowid, \"ID Text\", N242) SELECT i, 'rec' || i, 'v' || i FROM n "
        "WHERE i NOT BETWEEN 100 AND 199");  // a gap: rows and identities part ways
    open();
    ASSERT_EQ(model()->rowCount(), 1400);
    for (int row = 0; row < 1400; ++row) {
        ASSERT_EQ(cell(row, kIdText), QString("rec%1").arg(row < 99 ? row + 1 : row + 101));
        ASSERT_LE(model()->cachedPages(), 8u);  // 2^18 cells in pages of 128 rows of 250
    }
    EXPECT_EQ(cell(1399, 249), "v1500");

    raw.query("DELETE FROM SamData");
    // Identities far from 1, as after many deletions of the last record and appends.
    raw.query(
        "WITH RECURSIVE n(i) AS (SELECT 40001 UNION ALL SELECT i + 1 FROM n WHERE i < 40300) "
        "INSERT INTO SamData (rowid, \"ID Text\") SELECT i, 'rec' || i FROM n");
    model()->refresh();
    ASSERT_EQ(model()->rowCount(), 300);
    EXPECT_TRUE(model()->identitiesContiguous());
    EXPECT_EQ(cell(0, kIdText) + " " + cell(299, kIdText), "rec40001 rec40300");

    // Another program removes a record from the middle: the refresh lists identities.
    raw.query("DELETE FROM SamData WHERE rowid = 40100");
    model()->refresh();
    ASSERT_EQ(model()->rowCount(), 299);
    EXPECT_FALSE(model()->identitiesContiguous());
    EXPECT_EQ(cell(98, kIdText) + " " + cell(99, kIdText), "rec40099 rec40101");

    // Put back, the table is contiguous again; the last record is the one deleted.
    raw.query("INSERT INTO SamData (rowid, \"ID Text\") VALUES (40100, 'back')");
    model()->refresh();
    EXPECT_TRUE(model()->identitiesContiguous());
    EXPECT_EQ(cell(99, kIdText), "back");
    dialogs.answers = {true};
    click("Command1");
    EXPECT_EQ(raw.scalar("SELECT max(rowid) FROM SamData"), "40299");
    EXPECT_EQ(model()->rowCount(), 299);
}

// Paint events reaching a widget: the interface thread is free while they arrive.
class PaintCounter : public QObject {
  public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

TEST_P(FileViewer, ExportRunsOffTheInterfaceThreadAndLeavesNoFileWhenCancelled) {
    makeDatabase(3);
    open();
    ASSERT_TRUE(viewer);
    QAction* action = viewer->exportAction();
    EXPECT_TRUE(grid()->actions().contains(action));
    EXPECT_EQ(grid()->contextMenuPolicy(), Qt::ActionsContextMenu);
    EXPECT_EQ(action->text(), QString::fromUtf8("Export\u2026"));
    const auto finish = [&] {
        return QTest::qWaitFor([&] { return !viewer->runningExport(); }, 30000);
    };
    const auto files = [&] {  // every entry of the folder, hidden ones too
        return QDir(QString::fromStdString(tmp.path().string()))
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
            .join('|')
            .toStdString();
    };

    const std::string target = tmp.file("out.csv");
    EXPECT_EQ(cell(2, kNumber), "3");  // the grid's page is read before the file is held
    QApplication::processEvents();
    {
        // Another program holds the file: the export waits for it, the window does not.
        RawDb holder(path);
        holder.query("BEGIN EXCLUSIVE");
        ASSERT_TRUE(viewer->exportTo(target, exports::Format::Csv));
        EXPECT_FALSE(viewer->exportTo(target, exports::Format::Csv));  // one at a time
        EXPECT_FALSE(action->isEnabled());
        PaintCounter counter;
        grid()->viewport()->installEventFilter(&counter);
        (void)QTest::qWaitFor([&] { return grid()->viewport()->update(), false; }, 800);
        EXPECT_GT(counter.paints, 5);
        auto* progress = viewer->findChild<QProgressDialog*>();
        ASSERT_TRUE(progress && progress->isVisible());
        progress->findChild<QAbstractButton*>()->click();  // Cancel
        holder.query("ROLLBACK");
    }
    ASSERT_TRUE(finish());
    EXPECT_EQ(files(), "Results DB.mdb") << "no export, no part file";
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_TRUE(action->isEnabled());

    ASSERT_TRUE(viewer->exportTo(target, exports::Format::Csv));
    ASSERT_TRUE(finish());
    EXPECT_EQ(readFile(target).substr(0, 22), "idxRec#,File Name,ID T");
    EXPECT_EQ(cell(2, kNumber), "3");  // the viewer's own binding is untouched

    // A failure is one message; nothing is left behind.
    ASSERT_TRUE(viewer->exportTo(tmp.path().string(), exports::Format::Xlsx));
    ASSERT_TRUE(finish());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text,
              "Could not export to " + tmp.path().string() + ": is a folder");
    EXPECT_EQ(files(), "out.csv|Results DB.mdb");

    // A sheet that cannot hold a cell exactly as stored is written, and the window says so.
    RawDb(path).query("UPDATE SamData SET \"ID Text\" = 'a' || char(1) || 'b' WHERE rowid = 1");
    const std::string sheet = tmp.file("cut.xlsx");
    ASSERT_TRUE(viewer->exportTo(sheet, exports::Format::Xlsx));
    ASSERT_TRUE(finish());
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].text,
              "Exported to " + sheet +
                  ", but not everything as stored:\nrecord 1, ID Text: "
                  "control character U+0001 left out, a sheet cannot hold it");
    std::filesystem::remove(sheet);

    // Closing the window stops a running export; nothing of it stays.
    {
        RawDb holder(path);
        holder.query("BEGIN EXCLUSIVE");
        ASSERT_TRUE(viewer->exportTo(tmp.file("closed.xlsx"), exports::Format::Xlsx));
        viewer->close();
        holder.query("ROLLBACK");
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return viewer.isNull(); }, 30000));
    EXPECT_EQ(files(), "out.csv|Results DB.mdb");
}

}  // namespace
}  // namespace krv
