# What `cmake --install` puts in place on Linux, and the Debian package CPack makes of it:
# norvsql and norvlite in bin, their man pages, the README. Nothing of the tests or benchmarks.

include(GNUInstallDirs)

# The version is the one the console prints: its banner (which the Windows zip is named by too)
# and its --version text must agree.
set(norv_startup ${PROJECT_SOURCE_DIR}/shell/startup.cpp)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${norv_startup})
file(STRINGS ${norv_startup} norv_banner REGEX "Console Release V[0-9.]+ Win64")
file(STRINGS ${norv_startup} norv_version_text REGEX "\"norvsql V[0-9.]+\\\\n\"")
string(REGEX MATCH "Release V([0-9.]+) Win64" _ "${norv_banner}")
set(NORV_VERSION ${CMAKE_MATCH_1})
string(REGEX MATCH "norvsql V([0-9.]+)" _ "${norv_version_text}")
if(NOT NORV_VERSION OR NOT NORV_VERSION STREQUAL CMAKE_MATCH_1)
  message(FATAL_ERROR "shell/startup.cpp: the banner's version (${NORV_VERSION}) and the "
                      "--version text's (${CMAKE_MATCH_1}) differ or are missing")
endif()

option(NORV_COMPRESS_MAN "Install the man pages gzipped, as a Debian package carries them" OFF)

# Directories made by the install are 0755 whatever the umask of the one who installs.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS norvsql norvlite RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(norv_man_pages norvsql.1 norvlite.1)
if(NORV_COMPRESS_MAN)
  find_program(NORV_GZIP gzip REQUIRED)
  set(norv_man_files "")
  foreach(page IN LISTS norv_man_pages)
    set(out ${PROJECT_BINARY_DIR}/man/${page}.gz)
    # -n: no name or time stamp in the header, so the same page gives the same bytes.
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/${page} man/${page}
      COMMAND ${NORV_GZIP} -9nf man/${page}
      WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
      DEPENDS ${PROJECT_SOURCE_DIR}/docs/${page} VERBATIM)
    list(APPEND norv_man_files ${out})
  endforeach()
  add_custom_target(norv_man_pages ALL DEPENDS ${norv_man_files})
else()
  list(TRANSFORM norv_man_pages PREPEND ${PROJECT_SOURCE_DIR}/docs/ OUTPUT_VARIABLE norv_man_files)
endif()
install(FILES ${norv_man_files} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# ---- the Debian package (cpack -G DEB; scripts/package) ----------------------------------------

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME norvsql)
set(CPACK_PACKAGE_VERSION ${NORV_VERSION})
set(CPACK_PACKAGE_VENDOR "norvsql developers")
set(CPACK_PACKAGE_CONTACT "norvsql developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "interactive SQL console for the NORVDB database server")
# The lines of the long description as the package shows them (under 80 columns each).
set(CPACK_PACKAGE_DESCRIPTION
    "norvsql is an interactive SQL console for the NORVDB database server:
statements typed at its prompt or read from script files are sent over a
clear connection, TLS with a client certificate or the console's own cipher
channel, and their results are listed, spooled to files or exported. It also
bulk-loads delimited files into tables.

The package also carries norvlite, a small server speaking the same wire
protocol on top of SQLite, so that the console can be tried on one machine.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "norvsql developers")
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps (dpkg-dev) works the library dependencies out of the binaries.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
