# Runs first in `cmake --install` (and in CPack's staging): finds out whether
# every destination can be written before any file is copied, so that an
# unwritable prefix fails with one clear reason and leaves nothing behind.
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(created "")
set(failed "")
foreach(dir IN ITEMS bin share/lumo share/applications share/icons share/man/man6)
  set(path "${root}/${dir}")
  # Remembered from the top, so that what this check made is taken back.
  set(walk "${path}")
  set(fresh "")
  while(NOT EXISTS "${walk}" AND NOT walk STREQUAL "/" AND NOT walk STREQUAL "")
    list(PREPEND fresh "${walk}")
    get_filename_component(walk "${walk}" DIRECTORY)
  endwhile()
  execute_process(COMMAND ${CMAKE_COMMAND} -E make_directory "${path}" RESULT_VARIABLE made
                  OUTPUT_QUIET ERROR_QUIET)
  if(made EQUAL 0)
    list(APPEND created ${fresh})
    execute_process(COMMAND ${CMAKE_COMMAND} -E touch "${path}/.lumo-install-probe"
                    RESULT_VARIABLE touched OUTPUT_QUIET ERROR_QUIET)
    file(REMOVE "${path}/.lumo-install-probe")
  endif()
  if(NOT made EQUAL 0 OR NOT touched EQUAL 0)
    set(failed "${path}")
    break()
  endif()
endforeach()
if(failed)
  list(REMOVE_DUPLICATES created)
  list(REVERSE created)
  foreach(dir IN LISTS created)
    # rmdir takes only empty directories: only ever ours.
    execute_process(COMMAND rmdir "${dir}" OUTPUT_QUIET ERROR_QUIET)
  endforeach()
  message(FATAL_ERROR "${failed} cannot be written; nothing was installed (another place: "
                      "cmake --install BUILD --prefix DIR)")
endif()
