#pragma once

#include "krvtool/tool.h"

namespace krv::tool {

// `krvtool export DB`: the results table as csv, xlsx, long or lims2d.
Subcommand exportCommand();

// "FIRST..LAST", "FIRST..", "..LAST" or "N", positions counted from 1 (0: open end).
bool parseRecordRange(const QString& text, std::int64_t& first, std::int64_t& last);

}  // namespace krv::tool
