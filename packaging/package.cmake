# make deb: the Debian package "lyr-manager" by CPack from an installed tree.
# It holds what a user installs (component "lyr-manager"); the stand-in
# recorder and the test tools are left out. The binaries are stripped; their
# debug symbols go to a -dbgsym package of their own.
include(GNUInstallDirs)

# The changelog and the manual pages, compressed as Debian wants them
# (gzip -9n: no name, no time stamp, the same bytes every build).
set(_pkg_doc ${CMAKE_BINARY_DIR}/package-doc)
file(MAKE_DIRECTORY ${_pkg_doc})
set(_gz_outputs)
foreach(_src packaging/changelog man/lyrctl.1 man/lyr-manager.1)
  get_filename_component(_name ${_src} NAME)
  add_custom_command(OUTPUT ${_pkg_doc}/${_name}.gz
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/${_src} > ${_pkg_doc}/${_name}.gz
    DEPENDS ${PROJECT_SOURCE_DIR}/${_src} VERBATIM)
  list(APPEND _gz_outputs ${_pkg_doc}/${_name}.gz)
endforeach()
add_custom_target(lyr_package_doc ALL DEPENDS ${_gz_outputs})

set(_docdir ${CMAKE_INSTALL_DATADIR}/doc/lyr-manager)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${_docdir})
install(FILES ${_pkg_doc}/changelog.gz DESTINATION ${_docdir})
install(FILES ${_pkg_doc}/lyrctl.1.gz ${_pkg_doc}/lyr-manager.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${PROJECT_SOURCE_DIR}/packaging/completions/lyrctl.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME lyrctl)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/completions/_lyrctl
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
# The watching ingest as a service, not enabled by the package.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/systemd/lyrctl-ingest.service
        DESTINATION lib/systemd/system)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lyr-manager)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Only the user's component; lyr-emu and the manual page of it stay out.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};lyr-manager;/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
# Strips the binaries itself, their symbols going to the .ddeb (CPACK_STRIP_FILES
# would strip them before the symbols could be kept).
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "LYR Manager maintainers <maintainers@users.noreply.c-seed-5321c849.example>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://c-seed-5321c849.example/lyr-manager")
# Sound output opens SDL2 at run time (lyrctl play, the player); the burner
# tools are only needed to burn discs.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libsdl2-2.0-0")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "wodim, genisoimage | xorriso")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "manager for the LYR portable audio recorder")
set(CPACK_PACKAGE_DESCRIPTION
    "Plays, copies, archives and burns the recordings of the LYR portable audio\n"
    "recorder, and sets the recorder up, over its USB disk. lyr-manager is the\n"
    "desktop program; lyrctl does the same from a shell or a service.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
include(CPack)
