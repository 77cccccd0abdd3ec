# What the Windows build takes from outside: SQLite from upstream's amalgamation (fetched
# and checked by scripts/windows-build.sh), Qt and libxlsxwriter built for Windows
# (KRV_WINDOWS_PREFIXES), GoogleTest built from its sources, and Wine to run the tests on
# the build machine.

set(KRV_SQLITE_SOURCE_DIR "" CACHE PATH "Folder holding upstream's sqlite3.c and sqlite3.h")
if(NOT EXISTS "${KRV_SQLITE_SOURCE_DIR}/sqlite3.c")
    message(FATAL_ERROR "KRV_SQLITE_SOURCE_DIR must name the folder of sqlite3.c; "
                        "scripts/windows-build.sh fetches it")
endif()
enable_language(C)
add_library(krv_sqlite3 STATIC "${KRV_SQLITE_SOURCE_DIR}/sqlite3.c")
target_include_directories(krv_sqlite3 SYSTEM PUBLIC "${KRV_SQLITE_SOURCE_DIR}")
# The program opens each file from one thread; the defaults otherwise match Debian's build.
target_compile_definitions(krv_sqlite3 PRIVATE SQLITE_DQS=0 SQLITE_OMIT_LOAD_EXTENSION
                                               SQLITE_DEFAULT_FOREIGN_KEYS=0)
target_compile_options(krv_sqlite3 PRIVATE -w -O2)
add_library(SQLite::SQLite3 ALIAS krv_sqlite3)

if(KRV_BUILD_TESTS)
    set(KRV_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest sources")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory("${KRV_GTEST_SOURCE_DIR}" googletest EXCLUDE_FROM_ALL SYSTEM)

    if(CMAKE_CROSSCOMPILING)
        # ctest runs every test program through Wine, in a prefix of this build's own.
        find_program(KRV_WINE NAMES wine64 wine REQUIRED)
        set(KRV_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
        # Wine hands QT_* variables on only when they are spelt WINEQT_*. The test programs
        # find Qt's DLLs beside themselves, where scripts/windows-build.sh puts them; the
        # offscreen platform draws with FreeType, from Debian's DejaVu fonts.
        set(CMAKE_CROSSCOMPILING_EMULATOR
            env WINEDEBUG=-all WINEARCH=win64 "WINEPREFIX=${KRV_WINEPREFIX}"
            WINEQT_QPA_PLATFORM=offscreen
            "WINEQT_QPA_FONTDIR=Z:\\usr\\share\\fonts\\truetype\\dejavu"
            WINEDLLOVERRIDES=mscoree,mshtml= ${KRV_WINE})
    endif()
endif()
