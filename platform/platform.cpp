#include "platform/platform.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
// after windows.h, which it builds on
#include <shellapi.h>
#else
#include <fcntl.h>
#include <unistd.h>
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

bool displayAvailable() {
#ifdef _WIN32
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

namespace {

bool hasWildcards(const std::string& s) { return s.find_first_of("*?") != std::string::npos; }

// Classic wildcard match: * any run, ? one character. Iterative, so a long pattern of
// stars cannot blow the stack.
bool wildcardMatch(const std::string& pattern, const std::string& name) {
    std::size_t p = 0, n = 0, starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

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

bool stderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
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

}  // namespace krv::platform
