# 64-bit ARM (Raspberry Pi 3, 4, 5 and similar boards with a 64-bit OS): cmake
# -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm64.cmake, or `make cross ARCH=arm64`.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(QUARVEL_TRIPLET aarch64-linux-gnu)
set(QUARVEL_DEBIAN_ARCH arm64)
set(QUARVEL_QEMU qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-multiarch.cmake)
