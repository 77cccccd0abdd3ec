#pragma once

// What one run of a program needs to know about other runs on the same machine and about
// being asked to stop: private file names that tell which run made them, whether that run
// is still alive, and the stop requests a console or a service manager sends.

#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

namespace krv::platform {

// A name beside `target` that only this run uses while it builds a file there:
// TARGET.new-HOST.PID.RANDOM. A later run can tell from it whether its maker still runs.
std::filesystem::path privateNameBeside(const std::filesystem::path& target);

// Removes what runs that ended without tidying up (killed, or the machine went down) left
// beside `target` under privateNameBeside names, journals included. Only names made on
// this machine by a process that no longer exists are touched, so a file another live run
// is writing, here or on another machine sharing the folder, stays.
void removeLeftoversOfEndedRuns(const std::filesystem::path& target);

// Whether a process of that id runs on this machine.
bool processAlive(std::int64_t pid);
std::int64_t currentProcessId();

// From now on an interrupt (Ctrl+C, SIGINT) or a termination request (SIGTERM, a
// console's close) only sets a flag that stopRequested() reports: the program finishes
// what it is doing and ends by itself.
void catchStopRequests();
bool stopRequested();

enum class FileRead { Whole, TooLarge, Failed };

// A small file read whole, without exceptions; `error` says why it failed.
FileRead readSmallFile(const std::filesystem::path& p, std::size_t maxBytes, std::string& bytes,
                       std::error_code& error);

// Whether another program is known to have the file open for writing (Windows: a sharing
// violation; Linux: a read lease refused). False where it cannot be told cheaply.
bool openForWritingElsewhere(const std::filesystem::path& p);

// Renames `from` over `to` in one step, replacing what is there.
std::error_code replaceFile(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace krv::platform
