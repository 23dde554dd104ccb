# SPDX-License-Identifier: ISC
# Cross-builds ex2-client for arm64 (aarch64) with Debian's
# g++-aarch64-linux-gnu; the tests run it under qemu-user
# (qemu-user-static), which finds the arm64 loader and C library under -L:
#
#   cmake -S . -B build-arm64 --toolchain cmake/toolchain-arm64.cmake

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

set(arm64_root /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH ${arm64_root})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L ${arm64_root})
