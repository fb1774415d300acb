# Installing and packaging. `cmake --install` puts lumo in bin/, its data in
# share/lumo/ (where the program looks when there is no data/ beside it), a
# desktop entry, icons drawn from the demo and the manual page; CPack makes a
# .deb and a .tar.gz of the same (scripts/release.sh). Needs app and tools.

set(release_dir ${CMAKE_BINARY_DIR}/release-files)
set(data_dir ${CMAKE_BINARY_DIR}/data)
set(data_list ${data_dir}/contents.txt)
set(icon_sizes 16 32 48 64 128 256)

# The list of the data's files, which tells an incomplete install from a whole one.
add_custom_command(
  OUTPUT ${data_list}
  COMMAND ${CMAKE_COMMAND} -DDIR=${data_dir} -DOUT=${data_list} -P ${PROJECT_SOURCE_DIR}/cmake/DataList.cmake
  DEPENDS demo_data ${data_dir}/.datagen-stamp ${PROJECT_SOURCE_DIR}/cmake/DataList.cmake
  COMMENT "Listing the demo data"
  VERBATIM)

# The manual page from the --help text and the icons from a frame of the demo,
# made again whenever the program or the data change.
set(release_outputs ${release_dir}/lumo.6)
foreach(size IN LISTS icon_sizes)
  list(APPEND release_outputs ${release_dir}/icons/${size}x${size}/lumo.png)
endforeach()
add_custom_command(
  OUTPUT ${release_outputs}
  COMMAND lumo_release_files ${data_dir} ${release_dir} ${PROJECT_VERSION}
  DEPENDS lumo_release_files demo_data ${data_dir}/.datagen-stamp
  COMMENT "Making the manual page and the icons"
  VERBATIM)
# The README's strip of one frame per scene; the test docs.scenes_picture says
# when docs/scenes.png no longer shows the demo (scripts/pictures.sh).
add_custom_command(
  OUTPUT ${release_dir}/scenes.png
  COMMAND lumo_release_files --strip ${data_dir} ${release_dir}/scenes.png
  DEPENDS lumo_release_files demo_data ${data_dir}/.datagen-stamp
  COMMENT "Drawing the README's strip of scenes"
  VERBATIM)
add_custom_command(
  OUTPUT ${release_dir}/lumo-1920x1080.png
  COMMAND lumo_release_files --wide ${data_dir} ${release_dir}/lumo-1920x1080.png
  DEPENDS lumo_release_files demo_data ${data_dir}/.datagen-stamp
  COMMENT "Drawing the README's 1920x1080 picture"
  VERBATIM)
add_custom_target(release_files ALL DEPENDS ${data_list} ${release_outputs} ${release_dir}/scenes.png
                                            ${release_dir}/lumo-1920x1080.png)

# First of all: a prefix that cannot be written fails before anything is copied.
install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/InstallCheck.cmake)
install(TARGETS lumo RUNTIME DESTINATION bin)
install(DIRECTORY ${data_dir}/ DESTINATION share/lumo PATTERN .datagen-stamp EXCLUDE)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/lumo.desktop DESTINATION share/applications)
foreach(size IN LISTS icon_sizes)
  install(FILES ${release_dir}/icons/${size}x${size}/lumo.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${release_dir}/lumo.6 DESTINATION share/man/man6)

set(CPACK_PACKAGE_NAME lumo)
set(CPACK_PACKAGE_VENDOR "the lumo authors")
set(CPACK_PACKAGE_CONTACT "the lumo authors <lumo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "real-time software-rendered audiovisual demo")
set(CPACK_PACKAGE_DESCRIPTION
    "Seven 3D scenes played to a piece of music, every pixel computed on the processor by its own multi-threaded software renderer.")
set(CPACK_GENERATOR "DEB;TGZ")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
# Only the install rules above: no tests, benchmarks or build tools.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};lumo;ALL;/")
# The .deb installs under /usr; the tarball keeps bin/ and share/ at its top,
# so it runs from wherever it is unpacked.
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/CPackGenerators.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The runtime packages of the libraries lumo links, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "ffmpeg")
include(CPack)
