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
    int errLines() const {
        const std::string e = err.str();
        return static_cast<int>(std::count(e.begin(), e.end(), '\n'));
    }
};

}  // namespace krv::testing
