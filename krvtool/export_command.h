#pragma once

#include "krvtool/tool.h"

namespace krv::tool {

// "FIRST..LAST", "FIRST..", "..LAST" or "N", positions counted from 1 (0: open end).
bool parseRecordRange(const QString& text, std::int64_t& first, std::int64_t& last);

}  // namespace krv::tool
