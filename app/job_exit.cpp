#include "app/job_exit.h"

#include <cstdio>

namespace krv {

int finishJob(const JobOutcome& outcome) {
    if (outcome.ok) return 0;
    std::fprintf(stderr, "krvarchiver: %s\n", outcome.reason.c_str());
    return 1;
}

}  // namespace krv
