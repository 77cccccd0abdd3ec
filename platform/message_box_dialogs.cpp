#include "platform/message_box_dialogs.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <string>

namespace krv {

#ifdef _WIN32

namespace {

std::wstring wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

// MB_SETFOREGROUND: a job's box must not hide behind the analysis program's window,
// or the count that follows would wait on a box nobody sees.
int show(const std::string& text, const std::string& title, UINT buttons) {
    return MessageBoxW(nullptr, wide(text).c_str(), wide(title).c_str(),
                       buttons | MB_SETFOREGROUND | MB_TASKMODAL);
}

class MessageBoxDialogs : public Dialogs {
  public:
    void message(const std::string& text, const std::string& title) override;
    bool askYesNo(const std::string& text, const std::string& title) override;

  private:
    StderrDialogs fallback_;
};

void MessageBoxDialogs::message(const std::string& text, const std::string& title) {
    if (show(text, title, MB_OK) != IDOK) fallback_.message(text, title);
}

bool MessageBoxDialogs::askYesNo(const std::string& text, const std::string& title) {
    const int answer = show(text, title, MB_YESNO | MB_DEFBUTTON1);
    if (answer == IDYES) return true;
    if (answer == IDNO) return false;
    return fallback_.askYesNo(text, title);
}

}  // namespace

std::unique_ptr<Dialogs> systemMessageBoxes() { return std::make_unique<MessageBoxDialogs>(); }

#else

std::unique_ptr<Dialogs> systemMessageBoxes() { return nullptr; }

#endif

}  // namespace krv
