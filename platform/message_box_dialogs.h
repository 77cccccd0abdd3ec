#pragma once

#include <memory>

#include "platform/dialogs.h"

namespace krv {

// The operating system's own message boxes for the unattended jobs on Windows: OK or
// Yes/No buttons (Yes the default), no icon, no window toolkit to start. A box that cannot
// be shown at all (a job started where there is no desktop) is written to standard error
// instead and is answered as StderrDialogs answers it. Null where the system has none.
std::unique_ptr<Dialogs> systemMessageBoxes();

}  // namespace krv
