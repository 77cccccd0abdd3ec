#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace krv::testing {

// Answers questions from a script and remembers every box that was shown.
class RecordingDialogs : public Dialogs {
  public:
    struct Shown {
        enum Kind { Message, Question } kind;
        std::string text;
        std::string title;
    };

    void message(const std::string& text, const std::string& title) override {
        shown.push_back({Shown::Message, text, title});
    }
    bool askYesNo(const std::string& text, const std::string& title) override {
        shown.push_back({Shown::Question, text, title});
        if (answers.empty()) return false;
        bool a = answers.front();
        answers.pop_front();
        return a;
    }

    std::vector<Shown> shown;
    std::deque<bool> answers;  // true = Yes
};

}  // namespace krv::testing
