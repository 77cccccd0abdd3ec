#pragma once

#include "platform/status.h"

namespace krv {

// The end of an unattended run, the same in every build: the reason of a failure on
// standard error, and the exit status job scripts test: 0 saved whole, 1 nothing saved,
// 3 saved with values missing (one line each on standard error), 4 outcome unknown (the
// store could not say whether the record reached it).
int finishJob(const JobOutcome& outcome);

// The exit status of a start that can do nothing (no command word and no window).
inline constexpr int kUsageExitStatus = 2;

}  // namespace krv
