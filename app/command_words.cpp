#include "app/command_words.h"

#include <string>

#include "report/text.h"

namespace krv {

CommandJob parseCommandWords(std::string_view commandLine) {
    std::string words(text::trim(commandLine));
    for (char& c : words) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    const auto has = [&](const char* word) { return words.find(word) != std::string::npos; };

    CommandJob job;
    if (has("APPEND")) {
        job.kind = CommandJob::Append;
        // Each later word overrides the earlier ones, so the last present wins.
        if (has("NET")) job.appendMode = 1;
        if (has("GROSS")) job.appendMode = 2;
        if (has("BKG")) job.appendMode = 3;
    } else if (has("RESET")) {
        job.kind = CommandJob::Reset;
    } else if (has("NET")) {
        job = {CommandJob::Append, 1};
    } else if (has("GROSS")) {
        job = {CommandJob::Append, 2};
    } else if (has("BKG")) {
        job = {CommandJob::Append, 3};
    }
    return job;
}

}  // namespace krv
