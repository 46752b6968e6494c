# SPDX-License-Identifier: BSD-3-Clause
# 32-bit ARMv7 with hardware floating point (Raspberry Pi 2 and later with a 32-bit OS): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/arm-linux-gnueabihf.cmake
# tools/cross-check.sh armhf builds and tests with it.
set(SCANPILOT_TRIPLE arm-linux-gnueabihf)
set(SCANPILOT_QEMU qemu-arm)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
# GCC notes that passing some std::vector iterators changed in GCC 7.1; both
# sides of every call here are built with GCC 12.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
