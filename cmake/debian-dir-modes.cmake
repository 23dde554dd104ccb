# SPDX-License-Identifier: ISC
# Run by cpack once the package's files are staged, before it packs them:
# every directory of the package is 0755, as Debian wants, whatever the
# umask of the build. (cpack makes the staging tree's usr/ itself, with
# the umask's mode, before any install rule of ours runs.)

file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(path IN LISTS staged)
  if(IS_DIRECTORY "${path}" AND NOT IS_SYMLINK "${path}")
    file(CHMOD "${path}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
      GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
