#pragma once

// The only place where the program talks to the operating system directly. Everything
// else uses the standard library or the window toolkit, so the program stays portable.

#include <filesystem>
#include <string>
#include <vector>

namespace krv::platform {

// Paths travel through the program as UTF-8 text; these convert at the file-system edge.
std::filesystem::path toPath(const std::string& utf8);
std::string fromPath(const std::filesystem::path& p);

// Folder of the running executable (the settings files live there).
std::filesystem::path programFolder();

// Whether a window can be shown at all (a job run from a scheduler may have no display).
bool displayAvailable();

// A plain file as a directory search for "normal" files sees it: no folder, not hidden,
// not a system file. Read-only and archived files count.
bool isNormalFile(const std::filesystem::path& p);

enum class Lookup { Found, NotFound, Failed };

// Looks a name up among normal files. The file-name part may hold the wildcards * and ?;
// a name ending in a separator matches any normal file in that folder.
Lookup findNormalFile(const std::string& pattern);

// Whether standard error goes to a terminal a person watches (progress lines go there).
bool stderrIsTerminal();

// Runs a program (looked up on the search path when `command[0]` names no folder) with
// the rest of `command` as its arguments, without a shell, and waits for it. Its output
// and error output go to `outputFile` (appended) when one is given. The exit status, or
// -1 when it could not be started or did not end by itself.
int runProgram(const std::vector<std::string>& command, const std::string& outputFile = {});

// Whether the program runs with the system administrator's rights.
bool runningAsAdministrator();

// The decimal separator of the user's number settings.
char systemDecimalSeparator();

}  // namespace krv::platform
