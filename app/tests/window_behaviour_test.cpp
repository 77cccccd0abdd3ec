// Message boxes as a person meets them: over the window that asked, as dialogs; and the
// main window's counters with numbers longer than the design's labels held.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "app/qt_dialogs.h"
#include "results_db/archive.h"
#include "tests/support/window_harness.h"
#include "viewer/results_window.h"

namespace krv::testing {
namespace {

// What the box looked like when it opened, taken from inside its own event loop.
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
    void activate(QWidget* w) {
        w->activateWindow();
        for (int i = 0; i < 100 && QApplication::activeWindow() != w; ++i)
            QApplication::processEvents();
        ASSERT_EQ(QApplication::activeWindow(), w);
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

TEST_F(WindowBehaviour, EachBoxOpensCentredOverTheWindowThatAsked) {
    state.apathText = folder.file("Results.db");
    state.blindFlag = true;
    ASSERT_TRUE(createDb(state, dialogs, *engine).ok);
    state.blindFlag = false;
    window->findChild<QLineEdit*>("Apath")->setText(QString::fromStdString(state.apathText));
    window->findChild<QPushButton*>("ViewR")->click();
    auto* viewer = window->findChild<ResultsWindow*>();
    ASSERT_NE(viewer, nullptr);
    viewer->move(430, 250);  // the offscreen screen is 800 by 600
    activate(viewer);

    const SeenBox question =
        answerBoxes([&] { viewer->findChild<QPushButton*>("Command1")->click(); }, QMessageBox::No);
    EXPECT_EQ(question.text, "Delete the last record, are you SURE ?");
    expectDialogOver(question, viewer);

    activate(window.get());
    window->findChild<QLineEdit*>("Apath")->setText(QString::fromStdString(folder.file("none")));
    const SeenBox message =
        answerBoxes([&] { window->findChild<QPushButton*>("ViewR")->click(); }, QMessageBox::Ok);
    EXPECT_EQ(message.text.left(26), "Invalid path or file name ");
    expectDialogOver(message, window.get());
}

TEST_F(WindowBehaviour, MainWindowCountersShowTheirWholeNumber) {
    state.numbRecCaption = "2147483647";
    state.numFieldsCaption = "1000000";
    state.numbIsoCaption = "1000000";
    // Reading a report that is not there shows the state again, after its message.
    answerBoxes([&] { window->findChild<QPushButton*>("ReadKrvFile")->click(); }, QMessageBox::Ok);
    QApplication::processEvents();
    for (const char* name : {"NumbRec", "NumFields"}) {
        const auto* l = window->findChild<QLabel*>(name);
        EXPECT_GE(l->contentsRect().width(), l->fontMetrics().horizontalAdvance(l->text()))
            << name << " " << l->text().toStdString();
    }
    EXPECT_EQ(window->findChild<QLabel*>("NumbRec")->text(), "2147483647");
}

}  // namespace
}  // namespace krv::testing
