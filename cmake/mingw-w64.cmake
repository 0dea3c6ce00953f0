# Windows x64 from Linux: Debian's MinGW-w64 (the posix thread model, which Qt's threads need)
# and wine64 to run what it builds. Used both by tools/build-windows-deps.sh for the Windows side
# of the dependencies and by the project's windows-wine preset.
#
# VESTRAHAL_WINDOWS_DEPS: the folders (a CMake list) where tools/build-windows-deps.sh installed Qt,
# libsodium, libcrypto and libcurl built for Windows; empty while the dependencies themselves build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(mingw_triplet x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${mingw_triplet}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${mingw_triplet}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${mingw_triplet}-windres REQUIRED)

# Tests and tools built for Windows are run by wine64 (CTest and custom commands go through it).
find_program(VESTRAHAL_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CACHE)
if(VESTRAHAL_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VESTRAHAL_WINE})
endif()

# The values cross the try_compile projects CMake starts while checking the compilers.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VESTRAHAL_WINDOWS_DEPS)

# Libraries and packages come from the MinGW-w64 sysroot and the Windows dependencies only, never
# from the Linux host; programs (Qt's host tools, perl, wine) come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triplet} ${VESTRAHAL_WINDOWS_DEPS})
set(CMAKE_PREFIX_PATH ${VESTRAHAL_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt built for Windows takes moc, rcc and uic from the host's Qt of the same version (Debian's).
if(NOT DEFINED QT_HOST_PATH)
    set(QT_HOST_PATH /usr CACHE PATH "Prefix of the host's Qt, whose tools serve the cross build")
endif()
if(NOT DEFINED QT_HOST_PATH_CMAKE_DIR)
    set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake
        CACHE PATH "CMake packages of the host's Qt")
endif()

# pkg-config, for libsodium and libcurl, reads the Windows dependencies' .pc files only.
set(pkg_config_path "")
foreach(prefix IN LISTS VESTRAHAL_WINDOWS_DEPS)
    string(APPEND pkg_config_path "${prefix}/lib/pkgconfig:")
endforeach()
set(ENV{PKG_CONFIG_LIBDIR} "${pkg_config_path}")
set(ENV{PKG_CONFIG_PATH} "")
unset(ENV{PKG_CONFIG_SYSROOT_DIR})
