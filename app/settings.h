#pragma once

// The settings files, for callers that include them through app/.
#include "settings/settings_files.h"
#include "settings/settings_folder.h"
