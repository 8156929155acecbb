# Cross toolchain: Debian's MinGW-w64 (posix threads, which std::thread needs) -> Windows x86_64.
# QUARVEL_WINDOWS_CACHE is the folder scripts/windows-toolchain fills: Qt for MinGW, and hidapi
# and GoogleTest built for it. Programs run under Wine (scripts/windows-wine), so ctest and
# gtest_discover_tests can run the tests here.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   /usr/bin/${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  /usr/bin/${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_AR           /usr/bin/${TOOLCHAIN_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       /usr/bin/${TOOLCHAIN_PREFIX}-ranlib CACHE FILEPATH "")

if(NOT QUARVEL_WINDOWS_CACHE)
    set(QUARVEL_WINDOWS_CACHE "$ENV{QUARVEL_WINDOWS_CACHE}")
endif()
if(NOT QUARVEL_WINDOWS_CACHE)
    message(FATAL_ERROR "Set QUARVEL_WINDOWS_CACHE to the folder scripts/windows-toolchain fills")
endif()
# try_compile projects read this file again: they need the folder too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUARVEL_WINDOWS_CACHE)
set(QUARVEL_QT_MINGW ${QUARVEL_WINDOWS_CACHE}/qt-6.4.2-mingw-w64-x86_64-static)
set(QUARVEL_WINDOWS_DEPS ${QUARVEL_WINDOWS_CACHE}/deps)

# Only Windows libraries are found: MinGW's own, Qt for MinGW, and hidapi and GoogleTest.
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX} ${QUARVEL_QT_MINGW} ${QUARVEL_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config must not offer the host's Linux libraries (hidapi-hidraw, fuse3).
set(ENV{PKG_CONFIG_LIBDIR} ${QUARVEL_WINDOWS_DEPS}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# moc, rcc and uic are the host's (Debian's qt6-base-dev-tools, the same Qt release).
set(QT_HOST_PATH /usr CACHE PATH "")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")

get_filename_component(_quarvel_checkout ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${_quarvel_checkout}/scripts/windows-wine)
