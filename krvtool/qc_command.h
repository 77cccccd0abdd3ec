#pragma once

#include "krvtool/tool.h"

namespace krv::tool {

// `krvtool qc`: the check-source trend of one column, judged by the Westgard rules; exit 3
// when the newest point breaks a rejection rule.
Subcommand qcCommand();

}  // namespace krv::tool
