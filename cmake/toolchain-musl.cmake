# SPDX-License-Identifier: ISC
# Builds ex2-client against musl instead of glibc, as a static PIE, with
# g++ and Debian's musl-dev (musl-tools brings this machine's own). For
# another CPU, name it by its Debian architecture (EX2_ARCH, as in
# cmake/toolchain-cross.cmake, which this file then includes), with that
# CPU's cross compiler and musl-dev:<arch> installed, as tools/release.sh
# does in a Debian 13 root:
#
#   cmake -S . -B build-musl --toolchain cmake/toolchain-musl.cmake
#   cmake -S . -B build-musl-s390x --toolchain cmake/toolchain-musl.cmake -DEX2_ARCH=s390x
#
# Debian's musl-gcc wrapper is for C, and its specs drop -static-pie without
# a word. Here g++ itself does the work: musl's headers stand in for the
# system's (-nostdinc), musl's start files and libraries are found first
# (-B), and the driver's own -static-pie then links rcrt1.o and libc.a,
# with no loader. The program uses no C++ library, so none is linked in.

if(EX2_ARCH)
  include(${CMAKE_CURRENT_LIST_DIR}/toolchain-cross.cmake)
  set(musl_cpu ${EX2_GNU_CPU})
else()
  set(musl_cpu ${CMAKE_HOST_SYSTEM_PROCESSOR})
endif()
set(musl_triplet ${musl_cpu}-linux-musl)
set(musl_include /usr/include/${musl_triplet})
set(musl_lib /usr/lib/${musl_triplet})
if(NOT EXISTS ${musl_lib}/rcrt1.o OR NOT EXISTS ${musl_include}/stdio.h)
  message(FATAL_ERROR "musl is not installed in ${musl_lib} and ${musl_include}: "
                      "apt-get install musl-dev (for another CPU, musl-dev:<arch>)")
endif()

if(NOT CMAKE_CXX_COMPILER)
  set(CMAKE_CXX_COMPILER g++)
endif()
set(musl_flags "-nostdinc -isystem ${musl_include}")
if(musl_cpu STREQUAL powerpc64le)
  # musl's long double is IEEE double on ppc64le; GCC's, for glibc, is
  # IBM's 128-bit format.
  string(APPEND musl_flags " -mlong-double-64")
endif()
set(CMAKE_CXX_FLAGS_INIT "${musl_flags}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-B${musl_lib} -static-pie")
if(musl_cpu STREQUAL x86_64)
  # lld keeps read-only data out of the code with one segment fewer than GNU
  # ld's -z separate-code, 2% of a spawn; it fails on GCC's ppc64le objects.
  string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -fuse-ld=lld")
endif()
