# Cross build for 64-bit Windows with Debian's MinGW-w64 (the posix thread model, which
# std::thread and GoogleTest need).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KRV_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KRV_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KRV_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KRV_MINGW_PREFIX}-windres)

# KRV_WINDOWS_PREFIXES: folders of libraries built for Windows (Qt, libxlsxwriter).
set(CMAKE_FIND_ROOT_PATH /usr/${KRV_MINGW_PREFIX} ${KRV_WINDOWS_PREFIXES})
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KRV_WINDOWS_PREFIXES KRV_MINGW_SHARED)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt for Windows (scripts/qt-windows.sh) is a set of DLLs and asks for shared linking;
# libraries built without Qt link everything statically.
if(NOT KRV_MINGW_SHARED)
    set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
endif()
