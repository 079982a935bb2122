# Cross-builds the Windows program on Debian with MinGW-w64 (x86_64).
# The result must run on a bare Windows (and under Wine) with nothing installed:
# the C and C++ runtimes are linked in statically, so the only DLLs the
# executables import are the system's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VI2ZEZIR_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VI2ZEZIR_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${VI2ZEZIR_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${VI2ZEZIR_MINGW_PREFIX}-windres)
set(CMAKE_AR ${VI2ZEZIR_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${VI2ZEZIR_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${VI2ZEZIR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
# Header-only libraries of the build machine (nlohmann-json) are found with
# find_path by their absolute location, so includes may also search the host.
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wide-character Win32 API everywhere; a Windows 7 baseline for the APIs used.
add_compile_definitions(UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0601)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Running the cross-built tests needs Wine; the test script sets it up.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)

# -O2 rather than -O3: nothing here is bound by compute, and GCC 12's -O3
# inlining raises false -Wstringop-overread errors inside std::copy.
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of Release builds")
