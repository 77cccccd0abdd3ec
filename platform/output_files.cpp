#include "platform/output_files.h"

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string_view>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace krv::platform {

namespace fs = std::filesystem;

std::error_code syncFile(const fs::path& p) {
#ifdef _WIN32
    HANDLE h = CreateFileW(p.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return std::error_code(static_cast<int>(GetLastError()), std::system_category());
    std::error_code ec;
    if (!FlushFileBuffers(h))
        ec = std::error_code(static_cast<int>(GetLastError()), std::system_category());
    CloseHandle(h);
    return ec;
#else
    const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::error_code(errno, std::generic_category());
    std::error_code ec;
    if (::fsync(fd) != 0 && errno != EINVAL) ec = std::error_code(errno, std::generic_category());
    ::close(fd);
    return ec;
#endif
}

namespace {

// One diversion for the whole process: `stderr` is a single variable, so overlapping
// filters share it and their prefixes.
struct Diversion {
    std::mutex mutex;
    int users = 0;
    std::FILE* original = nullptr;
    std::FILE* divert = nullptr;
    std::vector<std::string> prefixes;
    std::string kept;
};

Diversion& diversion() {
    static Diversion* d = new Diversion;  // outlives every static that might print
    return *d;
}

#if defined(__GLIBC__)
ssize_t divertWrite(void*, const char* data, size_t size) {
    Diversion& d = diversion();
    std::unique_lock lock(d.mutex);
    const std::string_view text(data, size);
    for (const std::string& p : d.prefixes) {
        if (text.substr(0, p.size()) == p) {
            d.kept.append(text);
            return static_cast<ssize_t>(size);
        }
    }
    std::FILE* out = d.original;
    lock.unlock();
    const std::size_t n = std::fwrite(data, 1, size, out);
    std::fflush(out);
    return static_cast<ssize_t>(n);
}
#endif

}  // namespace

StderrFilter::StderrFilter(std::vector<std::string> prefixes) : prefixes_(std::move(prefixes)) {
    Diversion& d = diversion();
    std::lock_guard lock(d.mutex);
    firstKept_ = d.kept.size();
    for (const std::string& p : prefixes_) d.prefixes.push_back(p);
#if defined(__GLIBC__)
    if (d.users++ == 0) {
        // glibc documents stdin, stdout and stderr as variables a program may assign.
        cookie_io_functions_t io{nullptr, divertWrite, nullptr, nullptr};
        d.divert = fopencookie(nullptr, "w", io);
        if (d.divert) {
            std::setvbuf(d.divert, nullptr, _IONBF, 0);
            d.original = stderr;
            stderr = d.divert;
        }
    }
#else
    ++d.users;
#endif
}

StderrFilter::~StderrFilter() {
    Diversion& d = diversion();
    std::FILE* done = nullptr;
    {
        std::lock_guard lock(d.mutex);
        for (const std::string& p : prefixes_) {
            for (auto it = d.prefixes.begin(); it != d.prefixes.end(); ++it) {
                if (*it == p) {
                    d.prefixes.erase(it);
                    break;
                }
            }
        }
        if (--d.users == 0) {
#if defined(__GLIBC__)
            if (d.divert) {
                stderr = d.original;
                done = d.divert;
                d.divert = nullptr;
            }
#endif
            d.kept.clear();
        }
    }
    if (done) std::fclose(done);
}

std::string StderrFilter::kept() const {
    Diversion& d = diversion();
    std::lock_guard lock(d.mutex);
    return firstKept_ <= d.kept.size() ? d.kept.substr(firstKept_) : std::string();
}

}  // namespace krv::platform
