// Any bytes as either settings file: start-up must get through and keep sane values.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>

#include "settings/settings_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path folder = [] {
        auto p = std::filesystem::temp_directory_path() / "krv-settings-fuzz";
        std::filesystem::create_directories(p);
        return p;
    }();
    const auto files = krv::SettingsFiles::in(folder);
    for (const auto& file : {files.settingsFile, files.widthsFile}) {
        std::ofstream(file, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    krv::WindowState state;
    krv::restorePaths(files, state);
    krv::restoreWidths(files, state);
    if (state.columnWidth[100] != 0) std::abort();
    // Whatever came in, saving and restoring again gives the same paths back.
    krv::saveSettings(files, state);
    krv::WindowState again;
    krv::restorePaths(files, again);
    if (again.apathText != state.apathText || again.rpathText != state.rpathText) std::abort();
    return 0;
}
