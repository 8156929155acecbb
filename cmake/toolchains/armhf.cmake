# 32-bit ARM with hardware floating point (ARMv7: Raspberry Pi 2, and any board on a 32-bit OS):
# cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/armhf.cmake, or `make cross ARCH=armhf`.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(QUARVEL_TRIPLET arm-linux-gnueabihf)
set(QUARVEL_DEBIAN_ARCH armhf)
set(QUARVEL_QEMU qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/debian-multiarch.cmake)
