# SPDX-License-Identifier: BSD-3-Clause
# 64-bit RISC-V (RV64GC): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/riscv64-linux-gnu.cmake
# tools/cross-check.sh riscv64 builds and tests with it.
set(SCANPILOT_TRIPLE riscv64-linux-gnu)
set(SCANPILOT_QEMU qemu-riscv64)
set(CMAKE_SYSTEM_PROCESSOR riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
