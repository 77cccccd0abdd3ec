#include "platform/dialogs.h"

#include <cstdio>

namespace krv {

void StderrDialogs::message(const std::string& text, const std::string& title) {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
}

bool StderrDialogs::askYesNo(const std::string& text, const std::string& title) {
    std::fprintf(stderr, "%s: %s (answered No: nobody can answer here)\n",
                 title.empty() ? kAppTitle : title.c_str(), text.c_str());
    return false;
}

}  // namespace krv
