#pragma once

// The only place where the program talks to the operating system directly. Everything
// else uses the standard library or the window toolkit, so the program stays portable.

#include <filesystem>
#include <string>

namespace krv::platform {

// Paths travel through the program as UTF-8 text; these convert at the file-system edge.
std::filesystem::path toPath(const std::string& utf8);
std::string fromPath(const std::filesystem::path& p);

// The program's argument text as UTF-8: the arguments joined by single blanks. On
// Windows they are taken from the wide command line, so no character outside the ANSI
// code page is lost or best-fitted into another one.
std::string argumentText(int argc, char** argv);

// Folder of the running executable (the settings files live there).
std::filesystem::path programFolder();

// Whether a window can be shown at all (a job run from a scheduler may have no display).
bool displayAvailable();

// A plain file as a directory search for "normal" files sees it: no folder, not hidden,
// not a system file. Read-only and archived files count.
bool isNormalFile(const std::filesystem::path& p);

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

// Whether standard error goes to a terminal a person watches (progress lines go there).
bool stderrIsTerminal();

// The decimal separator of the user's number settings.
char systemDecimalSeparator();

}  // namespace krv::platform
