# How every folder of the tree is built, written once.

# The C++ sources of the calling folder (and of the sub-folders named after
# SUBDIRS), without the files named after EXCLUDE. Every folder finds its
# sources this way: a new file is part of its folder's library at once.
function(lumo_sources out)
  cmake_parse_arguments(ARG "" "" "SUBDIRS;EXCLUDE" ${ARGN})
  set(patterns ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(dir IN LISTS ARG_SUBDIRS)
    list(APPEND patterns ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
  endforeach()
  file(GLOB sources CONFIGURE_DEPENDS ${patterns})
  foreach(file IN LISTS ARG_EXCLUDE)
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${file})
  endforeach()
  set(${out} ${sources} PARENT_SCOPE)
endfunction()

# Adds the sub-folders of the calling folder that are named after a component
# being built (tests/render, bench/assets, fuzz/params, ...).
function(lumo_component_folders)
  foreach(component IN LISTS LUMO_COMPONENTS)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${component}/CMakeLists.txt)
      add_subdirectory(${component})
    endif()
  endforeach()
endfunction()

# One program per <KIND>_*.cpp of the calling folder, linked to LIBS: KIND bench
# makes benchmarks (they print figures and are never tests); KIND fuzz makes
# libFuzzer targets, each with a short smoke run as a test, starting from the
# seeds in seeds/<target>/.
set(LUMO_FUZZ_SMOKE_SECONDS 5 CACHE STRING "Seconds per fuzz target in the smoke test")
function(lumo_programs kind)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${kind}_*.cpp)
  foreach(source IN LISTS sources)
    get_filename_component(name ${source} NAME_WE)
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    if(kind STREQUAL "fuzz")
      target_link_options(${name} PRIVATE -fsanitize=fuzzer)
      add_test(NAME ${name}_smoke
               COMMAND ${PROJECT_SOURCE_DIR}/fuzz/smoke.sh $<TARGET_FILE:${name}>
                       ${LUMO_FUZZ_SMOKE_SECONDS} ${CMAKE_CURRENT_BINARY_DIR}/corpus_${name}
                       ${CMAKE_CURRENT_SOURCE_DIR}/seeds/${name})
      set_tests_properties(${name}_smoke PROPERTIES LABELS fuzz TIMEOUT 120)
    endif()
  endforeach()
endfunction()
