#pragma once

#include <cstdint>
#include <string_view>

namespace krv {

struct CommandJob {
    enum Kind { None, Append, Reset } kind = None;
    std::int16_t appendMode = 0;
};

// Decides what a command line asks for. Words are found anywhere in the text, inside
// longer words too, in any case; the first of APPEND, RESET, NET, GROSS, BKG wins.
CommandJob parseCommandWords(std::string_view commandLine);

}  // namespace krv
