#pragma once

#include <string>

namespace krv {

// Title shown by every message box that passes none of its own.
inline constexpr const char* kAppTitle = "KrvArchiver";

// Every message box and question of the program goes through this, so a window, a job
// without a display and a test can each answer in their own way. Boxes have no icon.
class Dialogs {
  public:
    virtual ~Dialogs() = default;
    // A message with an OK button only.
    virtual void message(const std::string& text, const std::string& title) = 0;
    // A question with Yes and No buttons (Yes the default); true when answered Yes.
    virtual bool askYesNo(const std::string& text, const std::string& title) = 0;
};

// Where nobody can answer: the message goes to standard error and counts as confirmed
// with OK; a question counts as answered No, so nothing is destroyed unattended.
class StderrDialogs : public Dialogs {
  public:
    void message(const std::string& text, const std::string& title) override;
    bool askYesNo(const std::string& text, const std::string& title) override;
};

}  // namespace krv
