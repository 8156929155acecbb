# Cross-building on Debian with multiarch: the target's libraries and CMake packages sit beside
# the host's under /usr/lib/<triplet> (apt-get install qt6-base-dev:<arch> ...), so no sysroot
# is needed. Included by the per-architecture files, which set QUARVEL_TRIPLET,
# QUARVEL_DEBIAN_ARCH and QUARVEL_QEMU first.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${QUARVEL_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${QUARVEL_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${QUARVEL_TRIPLET})

# Test programs, test discovery and the man pages run the target's programs under qemu-user.
find_program(QUARVEL_QEMU_PATH ${QUARVEL_QEMU} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUARVEL_QEMU_PATH})

# moc and the other Qt tools are the host's; Qt's own package files are the target's.
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/${CMAKE_HOST_SYSTEM_PROCESSOR}-linux-gnu/cmake)

# pkg-config reads the target's .pc files only (hidapi, libfuse3).
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${QUARVEL_TRIPLET}/pkgconfig:/usr/share/pkgconfig)

# Headers and libraries from the target's multiarch folders, programs from the host.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# The package is for the target: CPack would otherwise take the host's architecture from dpkg.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${QUARVEL_DEBIAN_ARCH})
