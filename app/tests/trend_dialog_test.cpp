// "Trend chart…" as a user reaches it: the main window's menu, the database in Apath.

#include "app/trend_dialog.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "charts/trend_chart.h"
#include "qc/tests/check_source_db.h"
#include "tests/support/window_harness.h"

namespace krv::testing {
namespace {

class TrendChartWindow : public WindowHarness<> {
  protected:
    static void SetUpTestSuite() {
        WindowHarness::SetUpTestSuite();
        // 40 daily Co-60 counts, decaying with their half-life, and a few blanks.
        base = new TestFolder;
        std::vector<CheckCount> counts;
        for (int d = 0; d < 40; ++d) {
            const double scatter[] = {0.003, -0.002, 0.001, -0.003};
            counts.push_back(
                {"CHECK CO-60", reportDate(d),
                 static_cast<float>(1000 * std::exp(-d / 2777.6) * (1 + scatter[d % 4])), 50});
            if (d % 15 == 0) counts.push_back({"BLANK", reportDate(d), 1, 1});
        }
        auto engine = db::makeEngine();
        appendCounts(*engine, base->file("results.db"), counts);
    }
    static void TearDownTestSuite() { delete base; }

    QAction* menuAction() {
        return window->findChild<QAction*>(QStringLiteral("TrendChartAction"));
    }
    TrendDialog* openOn(const std::string& path) {
        type("Apath", path);
        menuAction()->trigger();
        return window->findChild<TrendDialog*>();
    }

    static TestFolder* base;
};
TestFolder* TrendChartWindow::base = nullptr;

TEST_F(TrendChartWindow, MenuOpensTheChartOverTheDatabaseInApath) {
    ASSERT_NE(menuAction(), nullptr);
    EXPECT_EQ(menuAction()->text(), QStringLiteral("Trend chart…"));
    TrendDialog* dialog = openOn("  " + base->file("results.db") + " ");
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    auto* column = dialog->findChild<QComboBox*>(QStringLiteral("TrendColumn"));
    ASSERT_EQ(column->count(), 3);
    EXPECT_EQ(column->itemText(0), QStringLiteral("CO-60@LINE1"));
    EXPECT_EQ(column->itemText(2), QStringLiteral("CS-137"));

    dialog->findChild<QPushButton*>(QStringLiteral("Draw"))->click();
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(dialog->trend().points.size(), 40u);
    EXPECT_TRUE(dialog->trend().corrected);
    EXPECT_EQ(dialog->panel()->flagList()->topLevelItemCount(), 0);

    // The same counts as stored: the decay alone drifts below the mean.
    dialog->findChild<QComboBox*>(QStringLiteral("TrendDecay"))->setCurrentIndex(2);  // off
    dialog->findChild<QPushButton*>(QStringLiteral("Draw"))->click();
    EXPECT_FALSE(dialog->trend().corrected);
    ASSERT_GT(dialog->panel()->flagList()->topLevelItemCount(), 0);
    const QString last = dialog->panel()
                             ->flagList()
                             ->topLevelItem(dialog->panel()->flagList()->topLevelItemCount() - 1)
                             ->text(3);
    EXPECT_TRUE(last.contains(QStringLiteral("10x"))) << last.toStdString();
}

TEST_F(TrendChartWindow, MissingFilesAndColumnsAreSaid) {
    const std::string missing = folder.file("none.db");
    EXPECT_EQ(openOn(missing), nullptr);
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].text, "Invalid path or file name [ " + missing +
                                         " ] <Could not find file '" + missing + "'.>");
    EXPECT_EQ(dialogs.shown[0].title, "KrvArchiver");

    TrendDialog* dialog = openOn(base->file("results.db"));
    ASSERT_NE(dialog, nullptr);
    dialog->findChild<QComboBox*>(QStringLiteral("TrendColumn"))
        ->setCurrentText(QStringLiteral("CO-60@LINE9"));
    dialog->drawClicked();
    ASSERT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(dialogs.shown[1].text, "the table has no column \"CO-60@LINE9\"");
}

}  // namespace
}  // namespace krv::testing
