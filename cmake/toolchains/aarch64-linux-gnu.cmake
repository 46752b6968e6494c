# SPDX-License-Identifier: BSD-3-Clause
# 64-bit ARM (Raspberry Pi 3, 4, 5 with a 64-bit OS): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake
# tools/cross-check.sh aarch64 builds and tests with it.
set(SCANPILOT_TRIPLE aarch64-linux-gnu)
set(SCANPILOT_QEMU qemu-aarch64)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
