#include "settings/settings_folder.h"

#include <array>
#include <cstdlib>
#include <string_view>
#include <system_error>

#include "platform/platform.h"

// Where the install step leaves its marker, seen from the installed executable's folder.
#ifndef KRV_INSTALL_MARKER
#define KRV_INSTALL_MARKER "../share/krvarchiver/installed"
#endif

namespace krv {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFolderName = "krvarchiver";

// The nearest folder above p that exists: the one a new folder would be made in.
fs::path nearestExisting(fs::path p) {
    std::error_code ec;
    while (p.has_relative_path() && !fs::exists(p, ec)) p = p.parent_path();
    return p;
}

bool writableFile(const fs::path& p) {
    std::error_code ec;
    if (!fs::exists(p, ec)) return true;
    return platform::ownedByCurrentUser(p) && platform::writableByCurrentUser(p);
}

// Makes a per-user settings folder ready: creates it when missing and checks that this
// user may keep files there. Returns why it cannot be used, or nothing.
std::string prepareSettingsFolder(const fs::path& folder) {
    std::error_code ec;
    const fs::file_status st = fs::status(folder, ec);
    if (st.type() == fs::file_type::not_found) {
        // The administrator's files inside a user's home would lock that user out of them
        // later; root running with a user's HOME gets no folder there.
        const fs::path parent = nearestExisting(folder.parent_path());
        if (platform::runningAsAdministrator() && !platform::ownedByCurrentUser(parent))
            return "it would be made inside " + platform::fromPath(parent) +
                   ", which belongs to another user";
        fs::create_directories(folder, ec);
        if (ec) return "it cannot be created (" + ec.message() + ")";
        return {};
    }
    if (ec) return "it cannot be looked at (" + ec.message() + ")";
    if (!fs::is_directory(st)) return "it is not a folder";
    if (!platform::ownedByCurrentUser(folder)) return "it belongs to another user";
    if (!platform::writableByCurrentUser(folder)) return "it cannot be written to";
    for (const char* name : {kSettingsFileName, kWidthsFileName})
        if (!writableFile(folder / name))
            return std::string(name) + " in it belongs to another user or cannot be written to";
    return {};
}

}  // namespace

bool isSystemProgramFolder(const fs::path& folder) {
    static constexpr std::array<std::string_view, 8> kFolders = {
        "/bin",       "/sbin",          "/usr/bin",        "/usr/sbin",
        "/usr/games", "/usr/local/bin", "/usr/local/sbin", "/usr/local/games"};
    std::string normal = folder.lexically_normal().generic_string();
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    for (const std::string_view f : kFolders)
        if (normal == f) return true;
    return false;
}

SettingsFolderChoice chooseSettingsFolder(const SettingsFolderFacts& facts) {
    const bool system = isSystemProgramFolder(facts.programFolder);
    const bool installed = system || facts.installMarkerFound;
    // An installed program whose own folder was given settings files (an upgrade from a
    // copied program, or an administrator's shared setup) keeps using them, except in a
    // system folder, where nothing may ever be written back.
    if (!installed || (!system && facts.programFolderHoldsSettings))
        return {facts.programFolder, false, {}};
    const fs::path appData = platform::toPath(facts.appData);
    if (appData.is_absolute()) return {appData / "KrvArchiver", true, {}};
    const fs::path xdg = platform::toPath(facts.xdgConfigHome);
    if (xdg.is_absolute()) return {xdg / kFolderName, true, {}};
    const fs::path home = platform::toPath(facts.home);
    if (!home.is_absolute()) return {{}, true, "no home folder is set (HOME)"};
    return {home / ".config" / kFolderName, true, {}};
}

namespace {

SettingsFolderFacts factsOf(const fs::path& programFolder) {
    std::error_code ec;
    SettingsFolderFacts facts;
    facts.programFolder = programFolder;
    facts.installMarkerFound = fs::exists(programFolder / KRV_INSTALL_MARKER, ec);
    facts.programFolderHoldsSettings = fs::exists(programFolder / kSettingsFileName, ec) ||
                                       fs::exists(programFolder / kWidthsFileName, ec);
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    facts.xdgConfigHome = xdg ? xdg : "";
    facts.home = platform::homeFolder();
    facts.appData = platform::appDataFolder();
    return facts;
}

}  // namespace

SettingsFiles settingsToRead(const fs::path& programFolder) {
    const SettingsFolderChoice choice = chooseSettingsFolder(factsOf(programFolder));
    return choice.folder.empty() ? SettingsFiles::none() : SettingsFiles::in(choice.folder);
}

fs::path labFile(const fs::path& programFolder, const std::string& name) {
    const SettingsFolderChoice choice = chooseSettingsFolder(factsOf(programFolder));
    return choice.folder.empty() ? fs::path() : choice.folder / platform::toPath(name);
}

SettingsLocation locateSettings(const fs::path& programFolder) {
    const SettingsFolderChoice choice = chooseSettingsFolder(factsOf(programFolder));
    std::string problem = choice.problem;
    if (problem.empty() && choice.perUser) problem = prepareSettingsFolder(choice.folder);
    if (problem.empty()) return {SettingsFiles::in(choice.folder), {}};
    const std::string which =
        choice.folder.empty()
            ? std::string("No settings folder can be used")
            : "The settings folder " + platform::fromPath(choice.folder) + " cannot be used";
    return {SettingsFiles::none(),
            which + ": " + problem + ". The default paths are used and no settings are saved."};
}

}  // namespace krv
