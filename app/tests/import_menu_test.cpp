// The Import menu as a person uses it: files chosen, the job off the interface thread,
// Cancel stopping after the current report, a summary at the end.

#include "app/import_menu.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "report/tests/report_builder.h"
#include "tests/support/raw_db.h"
#include "tests/support/window_harness.h"

namespace krv::testing {
namespace {

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
        auto c = std::make_unique<ScriptedChooser>();
        chooser = c.get();
        menu->setChooser(std::move(c));
    }
    QAction* entry(const QString& caption) {
        for (QAction* a : window->findChild<QMenu*>(QStringLiteral("ImportMenu"))->actions())
            if (a->text() == caption) return a;
        ADD_FAILURE() << caption.toStdString();
        return nullptr;
    }
    // Runs a menu entry by its caption and waits for the summary.
    void choose(const QString& caption, const std::function<void()>& meanwhile = {}) {
        QEventLoop loop;
        bool finished = false;
        QObject::connect(menu, &ImportMenu::jobFinished, &loop, [&] {
            finished = true;
            loop.quit();
        });
        QTimer::singleShot(60'000, &loop, &QEventLoop::quit);
        QAction* action = entry(caption);
        ASSERT_NE(action, nullptr);
        action->trigger();
        EXPECT_TRUE(menu->busy());
        EXPECT_FALSE(action->isEnabled());  // one job at a time
        if (meanwhile) meanwhile();
        loop.exec();
        ASSERT_TRUE(finished);
        EXPECT_TRUE(action->isEnabled());
    }
    std::string writeReports(int n) {
        for (int i = 0; i < n; ++i) {
            writeFile(folder / ("r" + std::to_string(1000 + i) + ".txt"),
                      join({"ID: R" + std::to_string(i), "", isotopeLine("CS-137"), kHeading,
                            kUnits, row("661.66", "100", "90", "4.5E+01"), "", "end"}));
            chooser->reports.push_back(folder.file("r" + std::to_string(1000 + i) + ".txt"));
        }
        return folder.file("Results.mdb");
    }

    ImportMenu* menu = nullptr;
    ScriptedChooser* chooser = nullptr;
};

TEST_F(ImportMenuTest, ReportsGoToTheDatabaseBoxInTheChosenModeWithASummary) {
    const std::string db = writeReports(3);
    writeFile(folder / "notes.txt", "not a report");
    chooser->reports.push_back(folder.file("notes.txt"));
    window->findChild<QRadioButton*>(QStringLiteral("Option1(2)"))->click();  // net counts
    choose(QStringLiteral("Import reports…"));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].title, kAppTitle);
    EXPECT_EQ(dialogs.shown[0].text,
              "Imported 3 reports into " + db +
                  "\nSkipped 0 already imported in mode net\nRefused 1:\n  " +
                  folder.file("notes.txt") + ": not a results report (no \"ID:\" line)\n");
    EXPECT_EQ(RawDb(db).scalar("SELECT group_concat(\"CS-137@NET1\") FROM SamData"), "90,90,90");
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

TEST_F(ImportMenuTest, ALegacyFileThatIsNotJetIsRefusedAndNothingIsMade) {
    writeFile(folder / "old.mdb", "a note, not a database");
    chooser->old = folder.file("old.mdb");
    chooser->dest = folder.file("imported.mdb");
#ifdef _WIN32
    // No Jet reader in this build: said before anything is chosen, and nothing runs.
    entry(QStringLiteral("Import legacy database…"))->trigger();
    EXPECT_FALSE(menu->busy());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_NE(dialogs.shown[0].text.find("the Linux build imports them"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(chooser->dest));
    return;
#endif
    choose(QStringLiteral("Import legacy database…"));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, chooser->old +
                                         ": not a Jet (Access) database, or it cannot be read; "
                                         "nothing was imported.");
    EXPECT_FALSE(std::filesystem::exists(chooser->dest));

    // A real Jet file, read by the reader process started from the job's thread.
    chooser->old = KRV_FIXTURES "/testV1997.mdb";
    choose(QStringLiteral("Import legacy database…"));
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].text, chooser->old +
                                         ": the old database has no table SamData; nothing was "
                                         "imported.");
    EXPECT_FALSE(std::filesystem::exists(chooser->dest));
}

}  // namespace
}  // namespace krv::testing
