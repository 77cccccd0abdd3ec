#pragma once

// The settings files live in settings/; this name stays for the callers not yet moved.
#include "settings/settings_files.h"
#include "settings/settings_folder.h"
