#include "platform/platform.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <shlobj.h>
#include <windows.h>
// after windows.h, which it builds on
#include <shellapi.h>
#else
#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace krv::platform {

namespace fs = std::filesystem;

fs::path toPath(const std::string& utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string fromPath(const fs::path& p) {
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

bool narrowPath(const fs::path& p, std::string& out) {
#ifdef _WIN32
    const std::wstring& wide = p.native();
    // Converted into room enough for any code page (four bytes a character), since the
    // size query alone does not report an unrepresentable character on every system.
    out.assign(4 * wide.size(), '\0');
    BOOL lossy = FALSE;
    const int n =
        wide.empty() ? 0
                     : WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                           static_cast<int>(wide.size()), out.data(),
                                           static_cast<int>(out.size()), nullptr, &lossy);
    if ((n <= 0 && !wide.empty()) || lossy) return false;
    out.resize(static_cast<std::size_t>(n));
    return true;
#else
    out = fromPath(p);
    return true;
#endif
}

std::string argumentText(int argc, char** argv) {
    std::vector<std::string> args;
#ifdef _WIN32
    (void)argc;
    (void)argv;
    int n = 0;
    if (wchar_t** wargv = CommandLineToArgvW(GetCommandLineW(), &n)) {
        for (int i = 1; i < n; ++i) args.push_back(fromPath(fs::path(wargv[i])));
        LocalFree(wargv);
    }
#else
    args.assign(argv + 1, argv + argc);
#endif
    std::string text;
    for (std::size_t i = 0; i < args.size(); ++i) text += (i > 0 ? " " : "") + args[i];
    return text;
}

fs::path programFolder() {
#ifdef _WIN32
    std::wstring buf(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    buf.resize(n);
    return fs::path(buf).parent_path();
#else
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) return exe.parent_path();
    return fs::current_path(ec);
#endif
}

std::string homeFolder() {
#ifdef _WIN32
    const wchar_t* profile = _wgetenv(L"USERPROFILE");
    return profile && *profile ? fromPath(fs::path(profile)) : std::string();
#else
    const char* home = std::getenv("HOME");
    if (home && *home) return home;
    const passwd* account = getpwuid(geteuid());
    return account && account->pw_dir ? std::string(account->pw_dir) : std::string();
#endif
}

std::string appDataFolder() {
#ifdef _WIN32
    const wchar_t* folder = _wgetenv(L"APPDATA");
    return folder && *folder ? fromPath(fs::path(folder)) : std::string();
#else
    return {};
#endif
}

bool ownedByCurrentUser(const fs::path& p) {
#ifdef _WIN32
    std::error_code ec;
    return fs::exists(p, ec);
#else
    struct stat st {};
    return stat(p.c_str(), &st) == 0 && st.st_uid == geteuid();
#endif
}

bool writableByCurrentUser(const fs::path& p) {
#ifdef _WIN32
    return _waccess(p.c_str(), 2) == 0;
#else
    return faccessat(AT_FDCWD, p.c_str(), W_OK, AT_EACCESS) == 0;
#endif
}

bool displayAvailable() {
#ifdef _WIN32
    // A service's window station shows nothing to anybody, and without a display driver
    // (Wine with no X server) no window can be made at all.
    USEROBJECTFLAGS flags{};
    if (GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags,
                                  nullptr) &&
        !(flags.dwFlags & WSF_VISIBLE))
        return false;
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                                 nullptr);
    if (!probe) return false;
    DestroyWindow(probe);
    return true;
#else
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform && std::string(platform).rfind("offscreen", 0) == 0) return false;
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
#endif
}

bool isNormalFile(const fs::path& p) {
    std::error_code ec;
    if (!fs::is_regular_file(p, ec)) return false;
#ifdef _WIN32
    const DWORD attrs = GetFileAttributesW(p.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) return false;
    return (attrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0;
#else
    const std::string name = p.filename().string();
    return name.empty() || name[0] != '.';
#endif
}

bool createNewFile(const fs::path& p) {
#ifdef _WIN32
    const HANDLE h = CreateFileW(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
#else
    const int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    close(fd);
    return true;
#endif
}

bool heldByAnotherProgram(const fs::path& p) {
#ifdef _WIN32
    const HANDLE h = CreateFileW(p.c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return false;
    }
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
#else
    (void)p;
    return false;
#endif
}

// Iterative, so a long pattern of stars cannot blow the stack.
bool wildcardMatch(std::string_view pattern, std::string_view name) {
    std::size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

namespace {

bool hasWildcards(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

bool endsWithSeparator(const std::string& s) {
    if (s.empty()) return false;
    const char c = s.back();
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

}  // namespace

Lookup findNormalFile(const std::string& pattern) {
    if (pattern.empty()) return Lookup::NotFound;
    std::error_code ec;
    const fs::path path = toPath(pattern);
    std::string namePattern =
        endsWithSeparator(pattern) ? std::string("*") : fromPath(path.filename());
    const fs::path folder = endsWithSeparator(pattern) ? path : path.parent_path();

    // On Linux "*" and "?" are ordinary file-name characters: a file of exactly that
    // name is a match whatever it holds.
    if (!endsWithSeparator(pattern) && isNormalFile(path)) return Lookup::Found;
    if (!hasWildcards(namePattern)) {
        return (fs::exists(path, ec) || !ec) ? Lookup::NotFound : Lookup::Failed;
    }
    if (hasWildcards(fromPath(folder))) return Lookup::Failed;
    const fs::path searchIn = folder.empty() ? fs::path(".") : folder;
    fs::directory_iterator it(searchIn, ec);
    if (ec) {
        return ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory
                   ? Lookup::NotFound
                   : Lookup::Failed;
    }
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) return Lookup::Failed;
        const std::string name = fromPath(it->path().filename());
        if (wildcardMatch(namePattern, name) && isNormalFile(it->path())) return Lookup::Found;
    }
    return Lookup::NotFound;
}

std::error_code resolveLinks(const fs::path& p, fs::path& resolved) {
    // The same hop limit as the system's own path lookup.
    constexpr int kMaxHops = 40;
    resolved = p;
    for (int hops = 0;; ++hops) {
        std::error_code ec;
        const fs::file_status st = fs::symlink_status(resolved, ec);
        if (!fs::is_symlink(st)) {
            if (ec && ec != std::errc::no_such_file_or_directory) return ec;
            return {};
        }
        if (hops == kMaxHops) return std::make_error_code(std::errc::too_many_symbolic_link_levels);
        const fs::path target = fs::read_symlink(resolved, ec);
        if (ec) return ec;
        resolved = target.is_absolute() ? target : resolved.parent_path() / target;
    }
}

std::error_code placeNoReplace(const fs::path& from, const fs::path& to, bool& moved) {
    moved = false;
#ifdef _WIN32
    if (CreateHardLinkW(to.c_str(), from.c_str(), nullptr)) return {};
    DWORD e = GetLastError();
    if (e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS)
        return std::make_error_code(std::errc::file_exists);
    if (e != ERROR_INVALID_FUNCTION && e != ERROR_NOT_SUPPORTED && e != ERROR_ACCESS_DENIED)
        return std::error_code(static_cast<int>(e), std::system_category());
    // Shares without hard links: a rename that refuses to replace is just as safe.
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
        moved = true;
        return {};
    }
    e = GetLastError();
    if (e == ERROR_ALREADY_EXISTS || e == ERROR_FILE_EXISTS)
        return std::make_error_code(std::errc::file_exists);
    return std::error_code(static_cast<int>(e), std::system_category());
#else
    if (::link(from.c_str(), to.c_str()) == 0) return {};
    const int e = errno;
    if (e != EPERM && e != ENOTSUP && e != EOPNOTSUPP && e != EMLINK)
        return std::error_code(e, std::generic_category());
    // File systems without hard links: the rename comes after a last look, which leaves a
    // moment in which another program could create the name; there is no better step there.
    std::error_code ec;
    if (fs::exists(fs::symlink_status(to, ec))) return std::make_error_code(std::errc::file_exists);
    fs::rename(from, to, ec);
    moved = !ec;
    return ec;
#endif
}

std::error_code moveNoReplace(const fs::path& from, const fs::path& to) {
#ifdef _WIN32
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return {};
    return std::error_code(static_cast<int>(GetLastError()), std::system_category());
#else
    std::error_code ec;
    if (fs::exists(fs::symlink_status(to, ec))) return std::make_error_code(std::errc::file_exists);
    fs::rename(from, to, ec);
    return ec;
#endif
}

std::error_code syncFolder(const fs::path& folder) {
#ifdef _WIN32
    // Only a handle opened for writing may be flushed; a folder opens with backup semantics.
    HANDLE h = CreateFileW(folder.c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        // Without the right to open a folder for writing, the file system's own journal
        // is all there is to rely on.
        if (e == ERROR_ACCESS_DENIED) return {};
        return std::error_code(static_cast<int>(e), std::system_category());
    }
    std::error_code ec;
    if (!FlushFileBuffers(h)) {
        const DWORD e = GetLastError();
        if (e != ERROR_INVALID_FUNCTION && e != ERROR_ACCESS_DENIED)
            ec = std::error_code(static_cast<int>(e), std::system_category());
    }
    CloseHandle(h);
    return ec;
#else
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return std::error_code(errno, std::generic_category());
    std::error_code ec;
    // Some file systems cannot sync a folder at all (EINVAL); their names are as durable
    // as they will ever be.
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS)
        ec = std::error_code(errno, std::generic_category());
    ::close(fd);
    return ec;
#endif
}

bool stderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

int runProgram(const std::vector<std::string>& command, const std::string& outputFile) {
    if (command.empty()) return -1;
#ifdef _WIN32
    std::vector<std::wstring> wide;
    for (const std::string& a : command) wide.push_back(toPath(a).wstring());
    std::vector<const wchar_t*> argv;
    for (const std::wstring& a : wide) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    int saved = -1;
    int out = -1;
    if (!outputFile.empty()) {
        out = _wopen(toPath(outputFile).c_str(), _O_WRONLY | _O_CREAT | _O_APPEND, 0644);
        saved = _dup(1);
        if (out >= 0) _dup2(out, 1);
    }
    const intptr_t rc = _wspawnvp(_P_WAIT, argv[0], argv.data());
    if (out >= 0) {
        _dup2(saved, 1);
        _close(saved);
        _close(out);
    }
    return rc < 0 ? -1 : static_cast<int>(rc);
#else
    std::vector<char*> argv;
    for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!outputFile.empty()) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputFile.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    }
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

bool runningAsAdministrator() {
#ifdef _WIN32
    return IsUserAnAdmin() != FALSE;
#else
    return geteuid() == 0;
#endif
}

char systemDecimalSeparator() {
    // Ask the user's locale once, then put the C locale back so nothing else in the
    // program (file formats, the database) is affected by it.
    static const char sep = [] {
        const char* old = std::setlocale(LC_NUMERIC, nullptr);
        const std::string saved = old ? old : "C";
        char result = '.';
        if (std::setlocale(LC_NUMERIC, "")) {
            const std::lconv* conv = std::localeconv();
            if (conv && conv->decimal_point && conv->decimal_point[0] != '\0' &&
                conv->decimal_point[1] == '\0')
                result = conv->decimal_point[0];
        }
        std::setlocale(LC_NUMERIC, saved.c_str());
        return result;
    }();
    return sep;
}

namespace {
std::string orUnknown(std::string s) { return s.empty() ? std::string("unknown") : s; }
std::string environment(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}
}  // namespace

std::string userName() {
#ifdef _WIN32
    return orUnknown(environment("USERNAME"));
#else
    // The account, not a variable anyone can set; the variable only where the account has
    // no name (a container's bare user id).
    if (const passwd* pw = getpwuid(geteuid()); pw && pw->pw_name) return pw->pw_name;
    return orUnknown(environment("USER"));
#endif
}

std::string hostName() {
#ifdef _WIN32
    return orUnknown(environment("COMPUTERNAME"));
#else
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0) return "unknown";
    return orUnknown(buf);
#endif
}

bool dropFileCache(const fs::path& p) {
#ifdef _WIN32
    (void)p;
    return false;
#else
    const int fd = open(p.c_str(), O_RDONLY);
    if (fd < 0) return false;
    // Pages not yet written cannot be dropped.
    const bool ok = fdatasync(fd) == 0 && posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    ::close(fd);
    return ok;
#endif
}

}  // namespace krv::platform
