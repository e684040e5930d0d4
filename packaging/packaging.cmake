# Installation (GNUInstallDirs) and the Debian package (CPack, "make package").
include(GNUInstallDirs)

# Installing (and so packaging) builds what it installs, not every test.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(GP_PACKAGE_MAINTAINER "Quorvel Building Controls <service@quorvel.example>"
    CACHE STRING "Maintainer of the Debian package: Name <address>")
set(GP_DEB_RELEASE 1)
set(GP_DEB_VERSION "${PROJECT_VERSION}-${GP_DEB_RELEASE}")
set(GP_DATA_DIR ${CMAKE_SOURCE_DIR}/data)
set(GP_STAGED ${CMAKE_BINARY_DIR}/data)

install(TARGETS glimmerpane glimmerpane-cli glimmerpane-sim
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Read-only relocations, resolved at start, as Debian builds its programs.
foreach(program glimmerpane glimmerpane-cli glimmerpane-sim)
  target_link_options(${program} PRIVATE -Wl,-z,relro,-z,now)
endforeach()

# Language catalogues, found there by the programs as well as beside them.
file(GLOB GP_CATALOGUES CONFIGURE_DEPENDS ${GP_DATA_DIR}/lang/*.lng)
if(GP_CATALOGUES)
  install(FILES ${GP_CATALOGUES} DESTINATION ${CMAKE_INSTALL_DATADIR}/glimmerpane)
endif()
# The English one, every id with its text, for translators to start from.
install(FILES ${CMAKE_BINARY_DIR}/Glimmerpane_en.lng
        DESTINATION ${CMAKE_INSTALL_DATADIR}/glimmerpane)

# The application menu: desktop entry, icon, AppStream description.
install(FILES ${GP_DATA_DIR}/glimmerpane.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${GP_DATA_DIR}/glimmerpane.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
set(GP_METAINFO ${GP_STAGED}/com.quorvel.glimmerpane.metainfo.xml)
configure_file(${GP_DATA_DIR}/com.quorvel.glimmerpane.metainfo.xml.in ${GP_METAINFO} @ONLY)
install(FILES ${GP_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Manual pages: roff sources with the version filled in, compressed without
# a time stamp so that the package builds the same each time.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(GP_DOC_OUTPUTS)
foreach(page glimmerpane glimmerpane-cli glimmerpane-sim)
  configure_file(${GP_DATA_DIR}/man/${page}.1 ${GP_STAGED}/man/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${GP_STAGED}/man/${page}.1.gz
                     COMMAND ${GZIP_PROGRAM} -9nfk ${GP_STAGED}/man/${page}.1
                     DEPENDS ${GP_STAGED}/man/${page}.1
                     COMMENT "Compressing the manual page ${page}(1)" VERBATIM)
  list(APPEND GP_DOC_OUTPUTS ${GP_STAGED}/man/${page}.1.gz)
  install(FILES ${GP_STAGED}/man/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

install(FILES ${GP_DATA_DIR}/completion/glimmerpane-cli.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME glimmerpane-cli)

# Documentation: the serial port udev rule example, copyright and changelog.
install(FILES ${GP_DATA_DIR}/udev/60-glimmerpane-serial.rules
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
execute_process(COMMAND date -u -R -d "${GP_RELEASE_DATE} 12:00:00"
                OUTPUT_VARIABLE GP_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE)
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.Debian.in
               ${GP_STAGED}/changelog.Debian @ONLY)
add_custom_command(OUTPUT ${GP_STAGED}/changelog.Debian.gz
                   COMMAND ${GZIP_PROGRAM} -9nfk ${GP_STAGED}/changelog.Debian
                   DEPENDS ${GP_STAGED}/changelog.Debian VERBATIM)
list(APPEND GP_DOC_OUTPUTS ${GP_STAGED}/changelog.Debian.gz)
install(FILES ${GP_STAGED}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

add_custom_target(gp_docs ALL DEPENDS ${GP_DOC_OUTPUTS})

# The Debian package.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME glimmerpane)
set(CPACK_PACKAGE_VENDOR "Quorvel Building Controls")
set(CPACK_PACKAGE_CONTACT "${GP_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "commissioning and service tool for touchscreen room units")
set(CPACK_PACKAGE_DESCRIPTION
    "Glimmerpane commissions and services the Quorvel family of touchscreen
room units (room thermostats and controllers for temperature, humidity, light
and CO2, on MODBUS or BACnet) through a serial port: identity, configuration
files, profile changes, CO2 sensor settings, output calibration, live
diagnostics and firmware updates through bossac.

The package holds the desktop tool (glimmerpane), its command-line front end
for scripted commissioning (glimmerpane-cli) and a simulated unit on a
pseudo-terminal (glimmerpane-sim).")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${GP_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the programs link come from dpkg-shlibdeps; Qt's platform
# plugins are loaded at run time, so the desktop tool names them itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The site record: SQLite by default; the PostgreSQL driver for a shared record.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6sql6-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "bossa-cli, libqt6sql6-psql")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)

# Checks of what is installed. The tools come with the "deps" packages.
find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
find_program(APPSTREAMCLI appstreamcli)
foreach(tool DESKTOP_FILE_VALIDATE APPSTREAMCLI)
  if(NOT ${tool})
    set(${tool} sh -c "echo 'not installed: run make deps' >&2; exit 1" --)
  endif()
endforeach()
add_test(NAME desktop_file_validate
         COMMAND ${DESKTOP_FILE_VALIDATE} ${GP_DATA_DIR}/glimmerpane.desktop)
add_test(NAME appstream_validate COMMAND ${APPSTREAMCLI} validate --no-net ${GP_METAINFO})
add_test(NAME install_staged
         COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR}
                 -DSTAGE=${CMAKE_BINARY_DIR}/staged-install -DVERSION=${PROJECT_VERSION}
                 -DSOURCE_DIR=${CMAKE_SOURCE_DIR}
                 -P ${CMAKE_SOURCE_DIR}/tests/packaging/check_install.cmake)
add_test(NAME bash_completion
         COMMAND bash ${CMAKE_SOURCE_DIR}/tests/packaging/test_completion.sh
                 ${GP_DATA_DIR}/completion/glimmerpane-cli.bash ${CMAKE_BINARY_DIR})
