#pragma once

// Operating-system calls for files a run writes beside their final name: durability and a
// library's own error printing.

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace krv::platform {

// Flushes a file's content to the disk, so a rename that follows cannot reach the disk
// before the bytes it names.
std::error_code syncFile(const std::filesystem::path& p);

// Keeps what code in this process writes through the C library's `stderr` stream and starts
// with one of `prefixes` (a library's own "[ERROR]" lines, say) instead of printing it; every
// other write still reaches standard error at once. Writes through std::cerr never pass
// here. Instances may overlap, also across threads; the stream is restored when the last one
// ends. Where the C library offers no way to divert the stream it prints as before.
class StderrFilter {
  public:
    explicit StderrFilter(std::vector<std::string> prefixes);
    ~StderrFilter();
    StderrFilter(const StderrFilter&) = delete;
    StderrFilter& operator=(const StderrFilter&) = delete;
    // What was kept since this instance began, lines as written.
    std::string kept() const;

  private:
    std::vector<std::string> prefixes_;
    std::size_t firstKept_ = 0;
};

}  // namespace krv::platform
