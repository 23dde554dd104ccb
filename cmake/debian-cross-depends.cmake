# SPDX-License-Identifier: ISC
# Read by cpack when the package is for another CPU, whose libraries
# dpkg-shlibdeps cannot look up here. The dependency is read off the binary
# instead, as dpkg-shlibdeps would find it in libc6's symbols file: the C
# library at least as new as the newest of its symbol versions used.

if(NOT EXISTS "${CPACK_EX2_CLIENT}")
  message(FATAL_ERROR "no ${CPACK_EX2_CLIENT} to read the dependency off: build it first")
endif()
execute_process(COMMAND ${CPACK_EX2_READELF} --version-info --wide ${CPACK_EX2_CLIENT}
  OUTPUT_VARIABLE version_info RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${CPACK_EX2_READELF} could not read ${CPACK_EX2_CLIENT}")
endif()
string(REGEX MATCHALL "GLIBC_[0-9.]+" versions "${version_info}")
set(newest "")
foreach(version IN LISTS versions)
  string(REPLACE "GLIBC_" "" version "${version}")
  if(NOT newest OR version VERSION_GREATER newest)
    set(newest ${version})
  endif()
endforeach()
if(newest)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= ${newest})")
endif()
