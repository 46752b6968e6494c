# SPDX-License-Identifier: BSD-3-Clause
# Shared part of the cross toolchain files: Debian's cross compilers
# (g++-TRIPLE), libraries from its multiarch packages (libgtest-dev:ARCH) and
# qemu-user to run the tests on the build machine. Set SCANPILOT_TRIPLE and
# SCANPILOT_QEMU before including this file.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${SCANPILOT_TRIPLE}-gcc)  # for GoogleTest built from source
set(CMAKE_CXX_COMPILER ${SCANPILOT_TRIPLE}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${SCANPILOT_TRIPLE})

# The cross C library lives in /usr/TRIPLE; multiarch packages install into
# /usr/lib/TRIPLE, found through CMAKE_LIBRARY_ARCHITECTURE. Build-machine
# programs (nm, readelf, pkg-config) are found as usual.
set(CMAKE_FIND_ROOT_PATH /usr/${SCANPILOT_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Tests, test discovery and the digest run under user-mode emulation, with the
# cross C library as the emulated root.
find_program(SCANPILOT_QEMU_PROGRAM NAMES ${SCANPILOT_QEMU} ${SCANPILOT_QEMU}-static)
if(SCANPILOT_QEMU_PROGRAM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SCANPILOT_QEMU_PROGRAM} -L /usr/${SCANPILOT_TRIPLE})
endif()
