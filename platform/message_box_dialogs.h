#pragma once

#include "platform/dialogs.h"

namespace krv {

// The operating system's own message boxes, for the build without the window toolkit:
// OK or Yes/No buttons (Yes the default), no icon. A box that cannot be shown at all (a
// job started where there is no desktop) is written to standard error instead and is
// answered as StderrDialogs answers it. Exists in the Windows build only.
class MessageBoxDialogs : public Dialogs {
  public:
    void message(const std::string& text, const std::string& title) override;
    bool askYesNo(const std::string& text, const std::string& title) override;

  private:
    StderrDialogs fallback_;
};

}  // namespace krv
