# SPDX-License-Identifier: ISC
# Cross-builds ex2-client for another CPU with Debian's cross compiler
# (g++-<triplet>, dynamically linked against that CPU's glibc); the tests
# run it under qemu-user (qemu-user-static), which finds the loader and C
# library under -L. The CPU is named by its Debian architecture:
#
#   cmake -S . -B build-riscv64 --toolchain cmake/toolchain-cross.cmake -DEX2_ARCH=riscv64
#
# cmake/toolchain-musl.cmake includes this file for its own cross builds.

set(EX2_ARCH "" CACHE STRING
  "Debian architecture to build for: arm64, ppc64el, s390x, riscv64 or i386")
# try_compile reads this file again, in a project of its own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES EX2_ARCH)

# Each CPU by its Debian architecture, as uname -m names it, as GNU
# triplets name it, and as qemu does.
set(ex2_cpus
  amd64 x86_64 x86_64 x86_64
  arm64 aarch64 aarch64 aarch64
  ppc64el ppc64le powerpc64le ppc64le
  s390x s390x s390x s390x
  riscv64 riscv64 riscv64 riscv64
  i386 i686 i686 i386)
list(FIND ex2_cpus "${EX2_ARCH}" at)
math(EXPR remainder "${at} % 4")
if(EX2_ARCH STREQUAL "" OR at EQUAL -1 OR NOT remainder EQUAL 0)
  message(FATAL_ERROR "EX2_ARCH='${EX2_ARCH}': name a Debian architecture, one of "
                      "arm64, ppc64el, s390x, riscv64, i386")
endif()
foreach(name IN ITEMS EX2_UNAME_CPU EX2_GNU_CPU qemu_cpu)
  math(EXPR at "${at} + 1")
  list(GET ex2_cpus ${at} ${name})
endforeach()

# This machine's own CPU is a native build.
if(EX2_UNAME_CPU STREQUAL CMAKE_HOST_SYSTEM_PROCESSOR)
  return()
endif()

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${EX2_UNAME_CPU})
set(gnu_triplet ${EX2_GNU_CPU}-linux-gnu)
if(NOT CMAKE_CXX_COMPILER)
  set(CMAKE_CXX_COMPILER ${gnu_triplet}-g++)
endif()

set(cross_root /usr/${gnu_triplet})
set(CMAKE_FIND_ROOT_PATH ${cross_root})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# -DCMAKE_CROSSCOMPILING_EMULATOR= (empty) runs the client natively, as a
# 64-bit x86 kernel can run a static i386 build.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${qemu_cpu}-static)
  # The CPU's C library as installed for it (libc6:<arch>) and its loader
  # are found where the binary names them; without it, Debian's cross copy
  # stands in. Never a loader of one and a C library of the other.
  if(NOT EXISTS /usr/lib/${gnu_triplet}/libc.so.6)
    list(APPEND CMAKE_CROSSCOMPILING_EMULATOR -L ${cross_root})
  endif()
endif()
