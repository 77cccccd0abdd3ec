#include "app/qt_dialogs.h"

#include <QApplication>
#include <QMessageBox>

#include "platform/platform.h"

namespace krv {

namespace {
QString q(const std::string& s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }
}  // namespace

void QtDialogs::message(const std::string& text, const std::string& title) {
    QMessageBox box(QMessageBox::NoIcon, q(title), q(text), QMessageBox::Ok, parent_);
    box.exec();
}

bool QtDialogs::askYesNo(const std::string& text, const std::string& title) {
    QMessageBox box(QMessageBox::NoIcon, q(title), q(text), QMessageBox::Yes | QMessageBox::No,
                    parent_);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

JobDialogs::JobDialogs(int& argc, char** argv) : argc_(argc), argv_(argv) {}
JobDialogs::~JobDialogs() = default;

Dialogs& JobDialogs::target() {
    if (!target_) {
        if (platform::displayAvailable()) {
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
