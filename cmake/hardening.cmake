# SPDX-License-Identifier: ISC
# Hardening as Debian builds its binaries, never over the packager's: a
# flag is added only where CXXFLAGS and LDFLAGS name none of its kind. Tells
# the tests what was built: EX2_LINK (dynamic or static), EX2_PIE,
# EX2_RELRO, EX2_FORTIFIED (per configuration). Needs EX2_LIBC.

include(CheckCXXSourceCompiles)
include(CheckPIESupported)

if(CMAKE_CONFIGURATION_TYPES)
  set(configs ${CMAKE_CONFIGURATION_TYPES})
else()
  set(configs ${CMAKE_BUILD_TYPE})
endif()
set(given_cxxflags "${CMAKE_CXX_FLAGS}")
set(given_ldflags "${CMAKE_EXE_LINKER_FLAGS}")
foreach(config IN LISTS configs)
  string(TOUPPER "${config}" config)
  string(APPEND given_cxxflags " ${CMAKE_CXX_FLAGS_${config}}")
  string(APPEND given_ldflags " ${CMAKE_EXE_LINKER_FLAGS_${config}}")
endforeach()

# Fortification needs the optimiser: only the optimised build types get it.
# A compiler that fortifies by default (as some distributions' do) is left
# to it.
set(optimised
  "$<OR:$<CONFIG:Release>,$<CONFIG:RelWithDebInfo>,$<CONFIG:MinSizeRel>>")
set(CMAKE_REQUIRED_FLAGS -O2)
check_cxx_source_compiles([[
#ifdef _FORTIFY_SOURCE
#error the compiler fortifies already
#endif
int main() { return 0; }]] EX2_COMPILER_LEAVES_FORTIFY)
unset(CMAKE_REQUIRED_FLAGS)
set(fortify OFF)
if(EX2_HARDENING AND EX2_COMPILER_LEAVES_FORTIFY
    AND NOT given_cxxflags MATCHES "_FORTIFY_SOURCE")
  set(fortify ON)
  target_compile_definitions(ex2-client PRIVATE $<${optimised}:_FORTIFY_SOURCE=2>)
endif()

# What fortification does for printf is read off a program built here, not
# assumed from the define: glibc 2.36 fortifies it in C++ only under GCC
# (it needs __builtin_va_arg_pack), and musl has no fortified functions.
set(probe ${CMAKE_CURRENT_BINARY_DIR}/fortify-probe)
file(WRITE ${probe}.cpp [[
#include <stdio.h>
int main(int argc, char **) { return printf("%d\n", argc) < 0; }
]])
try_compile(probe_built ${probe}.dir ${probe}.cpp
  COMPILE_DEFINITIONS -O2 -D_FORTIFY_SOURCE=2
  COPY_FILE ${probe})
set(printf_chk "")
if(probe_built)
  file(STRINGS ${probe} printf_chk REGEX "^__printf_chk$" LIMIT_COUNT 1)
endif()
if(printf_chk)
  message(STATUS "printf can be fortified (__printf_chk)")
else()
  message(STATUS "printf cannot be fortified with this compiler and C library")
endif()
set(EX2_FORTIFIED
  "$<AND:$<BOOL:${fortify}>,$<BOOL:${printf_chk}>,${optimised}>")

if(EX2_HARDENING AND NOT given_cxxflags MATCHES "stack-protector")
  target_compile_options(ex2-client PRIVATE -fstack-protector-strong)
endif()
if(EX2_HARDENING AND NOT given_ldflags MATCHES "(-z,|-z )(now|lazy)")
  target_link_options(ex2-client PRIVATE LINKER:-z,now)
endif()

# Position-independent, so the kernel can place it anywhere (ASLR), unless
# the packager links with -static or -no-pie. CMake's own PIE flags come
# after every option, and -pie after -static-pie makes a dynamic binary,
# so a static PIE is asked for by hand.
if(EX2_STATIC OR given_ldflags MATCHES "(^| )-static-pie( |$)")
  set(EX2_LINK static)
  set(EX2_PIE ON)
  target_compile_options(ex2-client PRIVATE -fPIE)
  if(EX2_STATIC)
    target_link_options(ex2-client PRIVATE -static-pie)
  endif()
elseif(given_ldflags MATCHES "(^| )-static( |$)")
  # A static binary at a fixed address, for those who trade ASLR for the
  # last instructions of start-up.
  set(EX2_LINK static)
  set(EX2_PIE OFF)
elseif(given_ldflags MATCHES "(^| )-no-pie( |$)")
  set(EX2_LINK dynamic)
  set(EX2_PIE OFF)
else()
  set(EX2_LINK dynamic)
  set(EX2_PIE ON)
  check_pie_supported()
  set_target_properties(ex2-client PROPERTIES POSITION_INDEPENDENT_CODE ON)
endif()

# Read-only data in a segment of its own, never executable: x86's linker
# does so by default, other CPUs' do not.
if(EX2_HARDENING AND NOT given_ldflags MATCHES "separate-code")
  target_link_options(ex2-client PRIVATE LINKER:-z,separate-code)
endif()

# Full RELRO: what the loader relocates is made read-only before main. But
# in a static PIE musl's start-up code relocates the program and never does
# that, so there a RELRO header would claim what is not done: such a build
# says -z norelro, and saves the page fault of the region on its own.
if(EX2_LIBC STREQUAL musl AND EX2_LINK STREQUAL static AND EX2_PIE)
  set(EX2_RELRO OFF)
  if(EX2_HARDENING AND NOT given_ldflags MATCHES "relro")
    target_link_options(ex2-client PRIVATE LINKER:-z,norelro)
  endif()
else()
  set(EX2_RELRO ${EX2_HARDENING})
  if(EX2_HARDENING AND NOT given_ldflags MATCHES "relro")
    target_link_options(ex2-client PRIVATE LINKER:-z,relro)
  endif()
endif()
