#include "app/job_exit.h"

#include <cstdio>
#include <string>

namespace krv {

namespace {

// A job script reads standard error line by line; a name may hold a line break.
std::string oneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

}  // namespace

int finishJob(const JobOutcome& outcome) {
    if (!outcome.ok) {
        std::fprintf(stderr, "krvarchiver: %s\n", oneLine(outcome.reason).c_str());
        return outcome.unknown ? 4 : 1;
    }
    for (const MissingValue& m : outcome.missing)
        std::fprintf(stderr, "krvarchiver: not stored: %s: %s\n", oneLine(m.what).c_str(),
                     oneLine(m.reason).c_str());
    return outcome.missing.empty() ? 0 : 3;
}

}  // namespace krv
