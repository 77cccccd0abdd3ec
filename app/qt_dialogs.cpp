#include "app/qt_dialogs.h"

#include <QApplication>
#include <QMessageBox>

#include "platform/message_box_dialogs.h"
#include "platform/platform.h"

namespace krv {

namespace {

int showBox(const std::string& text, const std::string& title, QMessageBox::StandardButtons buttons,
            QWidget* owner) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(title),
                    QString::fromStdString(text), buttons, owner);
    // A parent alone makes most window managers treat the box as a transient dialog;
    // without the hint they draw the title bar of a normal window.
    box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowCloseButtonHint);
    if (buttons & QMessageBox::Yes) box.setDefaultButton(QMessageBox::Yes);
    return box.exec();
}
}  // namespace

QWidget* QtDialogs::owner(QWidget* fallback) {
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    if (QWidget* active = QApplication::activeWindow()) return active;
    return fallback ? fallback->window() : nullptr;
}

void QtDialogs::message(const std::string& text, const std::string& title) {
    showBox(text, title, QMessageBox::Ok, owner(fallback_));
}

bool QtDialogs::askYesNo(const std::string& text, const std::string& title) {
    return showBox(text, title, QMessageBox::Yes | QMessageBox::No, owner(fallback_)) ==
           QMessageBox::Yes;
}

JobDialogs::JobDialogs(int& argc, char** argv) : argc_(argc), argv_(argv) {}
JobDialogs::~JobDialogs() = default;

Dialogs& JobDialogs::target() {
    if (!target_) {
        if (auto boxes = systemMessageBoxes()) {
            target_ = std::move(boxes);
        } else if (platform::displayAvailable()) {
            if (!QApplication::instance()) app_ = std::make_unique<QApplication>(argc_, argv_);
            target_ = std::make_unique<QtDialogs>();
        } else {
            target_ = std::make_unique<StderrDialogs>();
        }
    }
    return *target_;
}

void JobDialogs::message(const std::string& text, const std::string& title) {
    target().message(text, title);
}

bool JobDialogs::askYesNo(const std::string& text, const std::string& title) {
    return target().askYesNo(text, title);
}

}  // namespace krv
