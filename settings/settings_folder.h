#pragma once

// Which folder holds the two settings files. A program copied into a folder keeps them
// beside itself; an installed one sits in a folder its users must not write to (and the
// administrator must not clutter), so it keeps them in each user's configuration folder.

#include <filesystem>
#include <string>

#include "settings/settings_files.h"

namespace krv {

// What the decision looks at, gathered from the running system.
struct SettingsFolderFacts {
    std::filesystem::path programFolder;
    bool installMarkerFound = false;  // the install step put its marker beside the program
    bool programFolderHoldsSettings = false;
    std::string xdgConfigHome;  // $XDG_CONFIG_HOME as set, possibly empty
    std::string home;           // the user's home folder, possibly empty
    std::string appData;        // %APPDATA% on Windows, where it replaces the two above
};

struct SettingsFolderChoice {
    std::filesystem::path folder;  // empty when none can be named
    bool perUser = false;          // the user's configuration folder, created when missing
    std::string problem;           // why no folder could be named
};

// Folders of the system's programs: nothing is written into them, whoever runs.
bool isSystemProgramFolder(const std::filesystem::path& folder);

// The folder decision itself, free of any file-system access.
SettingsFolderChoice chooseSettingsFolder(const SettingsFolderFacts& facts);

// The settings files of this run. When the per-user folder cannot be used, `files` is
// SettingsFiles::none() (defaults, nothing written) and `problem` says why, in a sentence
// for the user.
struct SettingsLocation {
    SettingsFiles files;
    std::string problem;
};
SettingsLocation locateSettings(const std::filesystem::path& programFolder);

// The settings files a program in `programFolder` keeps, for a reader that only looks
// (krvtool reading the viewer's widths): the folder start-up would choose, with nothing
// created or checked. SettingsFiles::none() when no folder can be named.
SettingsFiles settingsToRead(const std::filesystem::path& programFolder);

// A file the lab keeps beside its settings files (half-lives.txt), found by the same rule
// as they are; empty when no folder can be named.
std::filesystem::path labFile(const std::filesystem::path& programFolder, const std::string& name);

}  // namespace krv
