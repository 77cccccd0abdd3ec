#pragma once

#include <memory>

#include "platform/dialogs.h"

class QApplication;
class QWidget;

namespace krv {

// Message boxes of the windows: OK or Yes/No buttons, no icon. Each box belongs to the
// window whose handler raised it, the one the user was working in (the active window, or
// the box already open over it), and opens centred over it, as a dialog without minimise
// and maximise buttons. `fallback` owns boxes raised while no window of ours is active.
class QtDialogs : public Dialogs {
  public:
    explicit QtDialogs(QWidget* fallback = nullptr) : fallback_(fallback) {}
    void message(const std::string& text, const std::string& title) override;
    bool askYesNo(const std::string& text, const std::string& title) override;

    static QWidget* owner(QWidget* fallback);

  private:
    QWidget* fallback_;
};

// For unattended jobs: loading the window system costs more than the whole job, so it
// is started only when a message really has to be shown, and only if there is a display.
// Where the system has message boxes of its own (Windows), they are used instead: they
// need no toolkit and know themselves when no desktop can show them.
class JobDialogs : public Dialogs {
  public:
    JobDialogs(int& argc, char** argv);
    ~JobDialogs() override;
    void message(const std::string& text, const std::string& title) override;
    bool askYesNo(const std::string& text, const std::string& title) override;

  private:
    Dialogs& target();
    int& argc_;
    char** argv_;
    std::unique_ptr<QApplication> app_;
    std::unique_ptr<Dialogs> target_;
};

}  // namespace krv
