# SPDX-License-Identifier: ISC
# Builds ex2-client against musl instead of glibc, as a static PIE, with
# this machine's g++ and Debian's musl-tools (musl-dev):
#
#   cmake -S . -B build-musl --toolchain cmake/toolchain-musl.cmake
#
# Debian's musl-gcc wrapper is for C, and its specs drop -static-pie without
# a word. Here g++ itself does the work: musl's headers stand in for the
# system's (-nostdinc), musl's start files and libraries are found first
# (-B), and the driver's own -static-pie then links rcrt1.o and libc.a,
# with no loader. The program uses no C++ library, so none is linked in.

set(musl_triplet ${CMAKE_HOST_SYSTEM_PROCESSOR}-linux-musl)
set(musl_include /usr/include/${musl_triplet})
set(musl_lib /usr/lib/${musl_triplet})
if(NOT EXISTS ${musl_lib}/rcrt1.o OR NOT EXISTS ${musl_include}/stdio.h)
  message(FATAL_ERROR "musl is not installed in ${musl_lib} and ${musl_include}: "
                      "apt-get install musl-tools")
endif()

if(NOT CMAKE_CXX_COMPILER)
  set(CMAKE_CXX_COMPILER g++)
endif()
set(CMAKE_CXX_FLAGS_INIT "-nostdinc -isystem ${musl_include}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-B${musl_lib} -static-pie")
