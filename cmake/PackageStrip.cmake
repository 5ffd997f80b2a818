# SPDX-License-Identifier: GPL-3.0-or-later
# Run by CPack on the staged files, after its own strip: removes the compiler's .comment and
# the bare .note sections, as Debian's dh_strip does (the build id stays).
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(f IN LISTS staged)
  if(IS_SYMLINK "${f}")
    continue()
  endif()
  file(READ "${f}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")
    execute_process(COMMAND objcopy --remove-section=.comment --remove-section=.note "${f}"
                    RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "objcopy could not strip ${f}")
    endif()
  endif()
endforeach()
