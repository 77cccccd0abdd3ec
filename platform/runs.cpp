#include "platform/runs.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <random>
#include <vector>

#include "platform/platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace krv::platform {

namespace fs = std::filesystem;

namespace {

// The host part of a private name: a name may not hold a dot (it separates the parts),
// and a folder shared by machines must not mistake one machine's runs for another's.
const std::string& hostTag() {
    static const std::string tag = [] {
        std::string name = hostName();
        for (char& c : name)
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                  c == '-'))
                c = '_';
        return name.substr(0, 40);
    }();
    return tag;
}

volatile std::sig_atomic_t stopFlag = 0;

#ifdef _WIN32
BOOL WINAPI onConsoleEvent(DWORD) {
    stopFlag = 1;
    return TRUE;
}
#else
void onStopSignal(int) { stopFlag = 1; }
#endif

}  // namespace

fs::path privateNameBeside(const fs::path& target) {
    std::random_device rd;
    return toPath(fromPath(target) + ".new-" + hostTag() + "." +
                  std::to_string(currentProcessId()) + "." + std::to_string(rd()));
}

void removeLeftoversOfEndedRuns(const fs::path& target) {
    const std::string prefix = fromPath(target.filename()) + ".new-" + hostTag() + ".";
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::vector<fs::path> ended;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = fromPath(it->path().filename());
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        std::int64_t pid = 0;
        std::size_t at = prefix.size();
        for (; at < name.size() && name[at] >= '0' && name[at] <= '9' && pid < (1LL << 40); ++at)
            pid = pid * 10 + (name[at] - '0');
        if (at == prefix.size() || at >= name.size() || name[at] != '.') continue;
        std::error_code kind;
        if (!processAlive(pid) && it->is_regular_file(kind)) ended.push_back(it->path());
    }
    for (const fs::path& p : ended) fs::remove(p, ec);
}

std::int64_t currentProcessId() {
#ifdef _WIN32
    return static_cast<std::int64_t>(GetCurrentProcessId());
#else
    return static_cast<std::int64_t>(getpid());
#endif
}

bool processAlive(std::int64_t pid) {
    if (pid <= 0) return false;
    if (pid == currentProcessId()) return true;
#ifdef _WIN32
    HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (!h) return GetLastError() == ERROR_ACCESS_DENIED;
    const bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    CloseHandle(h);
    return running;
#else
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
#endif
}

void catchStopRequests() {
#ifdef _WIN32
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // Calls under way go on: the program looks at the flag between its steps.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

bool stopRequested() { return stopFlag != 0; }

FileRead readSmallFile(const fs::path& p, std::size_t maxBytes, std::string& bytes,
                       std::error_code& error) {
    bytes.clear();
    error.clear();
    errno = 0;
#ifdef _WIN32
    std::FILE* f = _wfopen(p.c_str(), L"rb");
#else
    std::FILE* f = std::fopen(p.c_str(), "rbe");
#endif
    if (!f) {
        error = std::error_code(errno ? errno : EIO, std::generic_category());
        return FileRead::Failed;
    }
    char chunk[16 * 1024];
    FileRead result = FileRead::Whole;
    for (;;) {
        const std::size_t n = std::fread(chunk, 1, sizeof chunk, f);
        if (bytes.size() + n > maxBytes) {
            result = FileRead::TooLarge;
            break;
        }
        bytes.append(chunk, n);
        if (n < sizeof chunk) {
            if (std::ferror(f)) {
                error = std::error_code(errno ? errno : EIO, std::generic_category());
                result = FileRead::Failed;
            }
            break;
        }
    }
    std::fclose(f);
    return result;
}

bool openForWritingElsewhere(const fs::path& p) {
#ifdef _WIN32
    const HANDLE h = CreateFileW(p.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
#elif defined(F_SETLEASE)
    const int fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    // A read lease is refused while any process has the file open for writing. Where
    // leases are not offered (another owner's file, a network file system) nothing is known.
    bool writing = false;
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) {
        ::fcntl(fd, F_SETLEASE, F_UNLCK);
    } else {
        writing = errno == EAGAIN;
    }
    ::close(fd);
    return writing;
#else
    (void)p;
    return false;
#endif
}

std::error_code replaceFile(const fs::path& from, const fs::path& to) {
#ifdef _WIN32
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return {};
    return std::error_code(static_cast<int>(GetLastError()), std::system_category());
#else
    if (::rename(from.c_str(), to.c_str()) == 0) return {};
    return std::error_code(errno, std::generic_category());
#endif
}

}  // namespace krv::platform
