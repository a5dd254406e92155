# What a user gets besides the executables and liblog2 (installed by their own folders): the man
# pages, the bash completion and the documents, and the Debian package made of all of it.

# The date shown in the man pages' footer: the release date of this version (see CHANGELOG.md).
set(VESK11_RELEASE_DATE "2026-12-07")

# Man pages carry the version and release date, then are compressed as Debian's policy asks
# (gzip -n keeps the archive reproducible: no name or time stamp inside).
find_program(VESK11_GZIP gzip REQUIRED)
set(VESK11_MAN_PAGES vesk11-cli.1 vesk11-ctl.1 vesk11-sim.1 vesk11d.8)
set(VESK11_MAN_OUTPUTS)
foreach(page IN LISTS VESK11_MAN_PAGES)
  set(roff ${PROJECT_BINARY_DIR}/man/${page})
  configure_file(${PROJECT_SOURCE_DIR}/man/${page}.in ${roff} @ONLY)
  add_custom_command(OUTPUT ${roff}.gz
    COMMAND ${VESK11_GZIP} -9 -n -c ${roff} > ${roff}.gz
    DEPENDS ${roff} ${PROJECT_SOURCE_DIR}/man/${page}.in
    COMMENT "Compressing man page ${page}"
    VERBATIM)
  list(APPEND VESK11_MAN_OUTPUTS ${roff}.gz)
  string(REGEX REPLACE ".*\\." "" section ${page})
  install(FILES ${roff}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
add_custom_target(vesk11_man ALL DEPENDS ${VESK11_MAN_OUTPUTS})

foreach(program IN ITEMS vesk11-cli vesk11-ctl vesk11d)
  install(FILES ${PROJECT_SOURCE_DIR}/completion/${program}.bash
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
    RENAME ${program})
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/CHANGELOG.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The reference pages README links to, beside it as in the repository.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs
  FILES_MATCHING PATTERN "*.md")

# Debian package: cpack -G DEB in the build folder.
set(CPACK_PACKAGE_NAME vesk11-cli)
set(CPACK_PACKAGE_VENDOR "vesk11-cli developers")
set(CPACK_PACKAGE_CONTACT "vesk11-cli maintainers <maintainers@vesk11-cli.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "configure a radar sensor over an RS-485 serial line")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "vesk11-cli reads and changes the configuration of a radar sensor attached to an RS-485\n"
  "serial line: one status value or parameter per run, parameter writes, commands,\n"
  "low-power mode, reboot and flash configuration. It speaks the sensor's UAT v4\n"
  "parameter protocol in checksummed block frames at 115200 baud, prints the reply and\n"
  "exits 0 only when the sensor answered with result code 0.\n"
  "\n"
  "vesk11-ctl keeps a sensor's whole configuration as code: identity, reads and\n"
  "verified writes by name, a JSON configuration document to dump, compare and apply\n"
  "(only the differences, each read back, rolled back on any failure, saved to flash\n"
  "only when something changed), over one link session per command.\n"
  "\n"
  "vesk11d owns one sensor line and shares it through virtual ports (pseudo-terminals), so\n"
  "the application that consumes the sensor's data, vesk11-ctl and vesk11-cli work side by\n"
  "side; its systemd template unit vesk11d@.service is installed disabled.\n"
  "\n"
  "vesk11-sim, a virtual sensor on a pseudo-terminal, is included for trying the tool,\n"
  "writing scripts against it and rehearsing failures without hardware.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY vesk11-cli)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME vesk11-cli)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# liblog2 ships inside the package: dpkg-shlibdeps must find it in the staging tree, not in a
# package of its own (dpkg-shlibdeps runs in the staging folder, so the path is relative to it).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "usr/${VESK11_PRIVATE_LIBDIR}")
# vesk11d opens libmicrohttpd itself, for --metrics-listen only: dpkg-shlibdeps does not see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libmicrohttpd12")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bash-completion")
set(CPACK_GENERATOR DEB)

include(CPack)
