#include "app/command_words.h"

#include <gtest/gtest.h>

namespace krv {
namespace {

struct Case {
    const char* text;
    CommandJob::Kind kind;
    int mode;
};

TEST(CommandWords, PrecedenceCaseAndSubstrings) {
    const Case cases[] = {
        {"", CommandJob::None, 0},
        {"   ", CommandJob::None, 0},
        {"hello world", CommandJob::None, 0},
        {"APPEND", CommandJob::Append, 0},
        {"append", CommandJob::Append, 0},
        // The later test wins: GROSS overrides NET, BKG overrides both.
        {"append gross net", CommandJob::Append, 2},
        {"Net Append Gross", CommandJob::Append, 2},
        {"APPEND NET", CommandJob::Append, 1},
        {"APPEND BKG NET GROSS", CommandJob::Append, 3},
        // APPEND is tested before RESET, RESET before the bare mode words.
        {"APPEND RESET", CommandJob::Append, 0},
        {"RESET NET", CommandJob::Reset, 0},
        {"reset", CommandJob::Reset, 0},
        {"NET", CommandJob::Append, 1},
        {"gross", CommandJob::Append, 2},
        {"Bkg", CommandJob::Append, 3},
        {"NET GROSS BKG", CommandJob::Append, 1},
        // Words inside longer words count.
        {"INTERNET", CommandJob::Append, 1},
        {"/data/presetfile", CommandJob::Reset, 0},
        {"  appended  ", CommandJob::Append, 0},
    };
    for (const auto& c : cases) {
        const CommandJob job = parseCommandWords(c.text);
        EXPECT_EQ(job.kind, c.kind) << '"' << c.text << '"';
        EXPECT_EQ(job.appendMode, c.mode) << '"' << c.text << '"';
    }
}

}  // namespace
}  // namespace krv
