#pragma once

// One krvtool command line run in-process, its output captured.

#include <QStringList>
#include <algorithm>
#include <sstream>

#include "krvtool/tool.h"

namespace krv::testing {

struct ToolRun {
    std::ostringstream out, err;
    tool::Io io{out, err, false};
    int status = -1;
    explicit ToolRun(const QStringList& args) { status = tool::runTool(args, io); }
    int errLines() const { return static_cast<int>(std::ranges::count(err.str(), '\n')); }
};

}  // namespace krv::testing
