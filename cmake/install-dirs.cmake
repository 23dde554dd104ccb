# SPDX-License-Identifier: ISC
# The directories an install makes are 0755 whatever the umask, as
# install -d makes them. CMake's own are filtered by the umask (under 077
# they came out 0700, so other users could not run the program). Runs
# before every other install rule, and touches only directories it makes
# itself, never one that was there before. Those it makes are listed in
# install_manifest.txt ahead of the files, so that removing what the
# manifest lists, last line first, leaves the prefix as it was.

set(ex2_install_dirs
  ${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_MANDIR}/man1 ${CMAKE_INSTALL_DOCDIR})
install(CODE "set(ex2_install_dirs \"${ex2_install_dirs}\")")
install(CODE [[
foreach(dir IN LISTS ex2_install_dirs)
  if(NOT IS_ABSOLUTE "${dir}")
    set(dir "${CMAKE_INSTALL_PREFIX}/${dir}")
  endif()
  set(dir "$ENV{DESTDIR}${dir}")
  set(missing "")
  while(NOT EXISTS "${dir}")
    list(PREPEND missing "${dir}")
    get_filename_component(dir "${dir}" DIRECTORY)
  endwhile()
  foreach(new IN LISTS missing)
    file(MAKE_DIRECTORY "${new}")
    file(CHMOD "${new}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
      GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${new}")
  endforeach()
endforeach()
]])
