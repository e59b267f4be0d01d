# The Debian package (cpack -G DEB in a build tree configured with
# RATEMOVER_SYSTEM_INSTALL=ON; scripts/package.sh does all of it): both
# programs in /opt/ratemover beside Ratemover.CONF, command links in /usr/bin,
# the launcher, icon and manual pages under /usr/share.

set(RATEMOVER_MAINTAINER "Ratemover developers <ratemover@example.com>" CACHE STRING
    "The package's maintainer, as in the Maintainer field: Name <address>")

# Manual pages, with the forms read filled in, compressed as Debian keeps them.
set(man_pages)
foreach(page ratemover ratemover-batch)
  set(page_text ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1)
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page}.1.in ${page_text} @ONLY)
  set(compressed ${page_text}.gz)
  add_custom_command(OUTPUT ${compressed}
                     COMMAND gzip -9nc ${page_text} > ${compressed}
                     DEPENDS ${page_text} VERBATIM)
  list(APPEND man_pages ${compressed})
endforeach()
add_custom_target(ratemover_man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION /usr/share/man/man1)

configure_file(${PROJECT_SOURCE_DIR}/packaging/deb/changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian @ONLY)
set(changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz)
add_custom_command(OUTPUT ${changelog}
                   COMMAND gzip -9nc ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian > ${changelog}
                   DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian VERBATIM)
add_custom_target(ratemover_changelog ALL DEPENDS ${changelog})
install(FILES ${changelog} ${PROJECT_SOURCE_DIR}/packaging/deb/copyright DESTINATION /usr/share/doc/ratemover)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/deb/lintian-overrides DESTINATION /usr/share/lintian/overrides
        RENAME ratemover)

# Commands on the path; each program still finds its directory, and so
# Ratemover.CONF, through the link.
foreach(program ratemover ratemover-batch)
  install(CODE "
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}/usr/bin\")
    file(CREATE_LINK \"${CMAKE_INSTALL_PREFIX}/${program}\" \"\$ENV{DESTDIR}/usr/bin/${program}\" SYMBOLIC)
  ")
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ratemover)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Ratemover")
set(CPACK_PACKAGE_CONTACT "${RATEMOVER_MAINTAINER}")
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries' packages are computed by dpkg-shlibdeps. Beyond them:
# the package scripts need adduser, the toolkit's Slovene texts come from
# Qt's translations, and the picker's Slovene file types from the MIME database.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, qt6-translations-l10n, shared-mime-info")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "moves security prices from a workbook into a ZTR rate file")
# CPack puts the summary first and indents each line of the long description.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Ratemover reads the day's security prices from a spreadsheet workbook
(${RATEMOVER_FORMS_READ_TEXT})
in the columns of a named profile and writes the fixed-width rate file
(format 111) that ZTR loads. It has a Qt desktop program, ratemover, and a
batch program for scheduled jobs, ratemover-batch. Operators in the group
ratemover share the profiles.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/deb/postinst ${PROJECT_SOURCE_DIR}/packaging/deb/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
