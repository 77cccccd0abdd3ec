#pragma once

// The only place where the program talks to the operating system directly. Everything
// else uses the standard library or the window toolkit, so the program stays portable.

#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace krv::platform {

// Paths travel through the program as UTF-8 text; these convert at the file-system edge.
std::filesystem::path toPath(const std::string& utf8);
std::string fromPath(const std::filesystem::path& p);
// The path as a C library's narrow file functions take it: UTF-8 on Linux, the ANSI code
// page on Windows. False when a character has no place in that code page.
bool narrowPath(const std::filesystem::path& p, std::string& out);

// The program's argument text as UTF-8: the arguments joined by single blanks. On
// Windows they are taken from the wide command line, so no character outside the ANSI
// code page is lost or best-fitted into another one.
std::string argumentText(int argc, char** argv);

// Folder of the running executable (the settings files live there).
std::filesystem::path programFolder();

// The home folder of the user the program runs as: $HOME, else the account's entry
// (%USERPROFILE% on Windows). Empty when nothing names one.
std::string homeFolder();
// Where Windows keeps a user's program settings (%APPDATA%); empty elsewhere or unset.
std::string appDataFolder();

// Whether p exists and belongs to the user the program runs as (any existing p on Windows).
bool ownedByCurrentUser(const std::filesystem::path& p);

// Whether the user the program runs as may write into p; a read-only file system says no
// even to the administrator.
bool writableByCurrentUser(const std::filesystem::path& p);

// Whether a window can be shown at all (a job run from a scheduler may have no display).
bool displayAvailable();

// A plain file as a directory search for "normal" files sees it: no folder, not hidden,
// not a system file. Read-only and archived files count.
bool isNormalFile(const std::filesystem::path& p);

// Classic wildcard match: * any run of characters, ? one character, the rest exact.
bool wildcardMatch(std::string_view pattern, std::string_view name);

// Creates an empty file where nothing is yet; false when anything exists at the path or
// the file cannot be made. Never replaces. (Windows' msvcrt.dll, which the MinGW build
// links, refuses fopen's "x" mode, so this cannot be left to the C library.)
bool createNewFile(const std::filesystem::path& p);

// Whether another program holds the file open so that it cannot be opened for reading and
// writing (Windows' sharing violation). Linux has no such locks; there it is never true.
bool heldByAnotherProgram(const std::filesystem::path& p);

enum class Lookup { Found, NotFound, Failed };

// Looks a name up among normal files. The file-name part may hold the wildcards * and ?;
// a name ending in a separator matches any normal file in that folder.
Lookup findNormalFile(const std::string& pattern);

// The name a path ends at once every symbolic link on its last part is followed, so a
// file replaced at a linked path is the one the link points to. A loop of links fails
// with too_many_symbolic_link_levels. A path that is no link comes back unchanged.
std::error_code resolveLinks(const std::filesystem::path& p, std::filesystem::path& resolved);

// Gives the finished file `from` the name `to` in one step, never replacing what is at
// `to` (file_exists then). `from` keeps its name where the file system allows a second
// one; `moved` tells whether it was renamed instead.
std::error_code placeNoReplace(const std::filesystem::path& from, const std::filesystem::path& to,
                               bool& moved);

// Renames a file to a name that must not be taken yet.
std::error_code moveNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

// Makes the names in a folder durable: a file just linked into it survives a power cut.
std::error_code syncFolder(const std::filesystem::path& folder);

// Whether standard error goes to a terminal a person watches (progress lines go there).
bool stderrIsTerminal();

// Runs a program (looked up on the search path when `command[0]` names no folder) with
// the rest of `command` as its arguments, without a shell, and waits for it. Its output
// and error output go to `outputFile` (appended) when one is given. The exit status, or
// -1 when it could not be started or did not end by itself.
int runProgram(const std::vector<std::string>& command, const std::string& outputFile = {});

// Whether the program runs with the system administrator's rights, which ignore a
// folder's owner.
bool runningAsAdministrator();

// The decimal separator of the user's number settings.
char systemDecimalSeparator();

// Who is at the keyboard and on which machine, for the audit trail; "unknown" when the
// system does not say.
std::string userName();
std::string hostName();

// Asks the system to forget its cached copy of a file, so the next read comes from the disk
// (a cold start, for measurements). False when the system offers no way to.
bool dropFileCache(const std::filesystem::path& p);

}  // namespace krv::platform
