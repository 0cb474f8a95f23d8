# The agent's Debian package, made by CPack's DEB generator (tools/package.sh
# builds it): the program in /usr/bin, its desktop launcher, icon and manual
# page, and the copyright file and changelog. Names and the version come from
# cmake/Product.cmake. Only the install component `agent` is packaged (the
# program's install rule is in app/CMakeLists.txt), so nothing of the tests,
# the harness or the simulator can end up in the package.
if(WIN32)
    return()
endif()
include(GNUInstallDirs)
find_program(VEK_GZIP gzip REQUIRED)

# "Vek Print Agent" is packaged as vek-print-agent.
string(TOLOWER "${VEK_APP_NAME}" VEK_PACKAGE_NAME)
string(REPLACE " " "-" VEK_PACKAGE_NAME "${VEK_PACKAGE_NAME}")
set(VEK_PACKAGE_MAINTAINER "${VEK_ORG_NAME} <packages@${VEK_UPDATE_DOMAIN}>")
set(VEK_PACKAGE_HOMEPAGE "https://${VEK_UPDATE_DOMAIN}")
# The changelog's date: the time of this configure run, or SOURCE_DATE_EPOCH
# when set (tools/package.sh sets it to the last commit's time).
string(TIMESTAMP VEK_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP VEK_PACKAGE_YEAR "%Y" UTC)
string(TIMESTAMP VEK_PACKAGE_MONTH "%B %Y" UTC)

set(_vek_package_in ${PROJECT_SOURCE_DIR}/cmake/package)
set(_vek_package_out ${PROJECT_BINARY_DIR}/package)
configure_file(${_vek_package_in}/launcher.desktop.in ${_vek_package_out}/${VEK_PACKAGE_NAME}.desktop @ONLY)
configure_file(${_vek_package_in}/copyright.in ${_vek_package_out}/copyright @ONLY)
configure_file(${_vek_package_in}/changelog.in ${_vek_package_out}/changelog @ONLY)
configure_file(${_vek_package_in}/manpage.1.in ${_vek_package_out}/${VEK_EXECUTABLE_NAME}.1 @ONLY)
# Compressed as Debian wants them: the most, and without a name or time stamp.
foreach(_vek_file changelog ${VEK_EXECUTABLE_NAME}.1)
    execute_process(COMMAND ${VEK_GZIP} -n -9 -c ${_vek_package_out}/${_vek_file}
        OUTPUT_FILE ${_vek_package_out}/${_vek_file}.gz COMMAND_ERROR_IS_FATAL ANY)
endforeach()

install(FILES ${_vek_package_out}/${VEK_PACKAGE_NAME}.desktop
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications COMPONENT agent)
install(FILES ${_vek_package_in}/icon.svg RENAME ${VEK_PACKAGE_NAME}.svg
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps COMPONENT agent)
install(FILES ${_vek_package_out}/${VEK_EXECUTABLE_NAME}.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT agent)
install(FILES ${_vek_package_out}/copyright ${_vek_package_out}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${VEK_PACKAGE_NAME} COMPONENT agent)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${VEK_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR ${VEK_ORG_NAME})
set(CPACK_PACKAGE_VERSION ${VEK_APP_VERSION})
set(CPACK_PACKAGE_CONTACT ${VEK_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_HOMEPAGE_URL ${VEK_PACKAGE_HOMEPAGE})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tray agent that prints a clinic's orders on this workstation")
set(CPACK_PACKAGE_DESCRIPTION [=[
The agent sits in the desktop's notification area. It is enrolled once with a
clinic server, with an enrolment secret or a pairing code, and from then on it
polls for print orders, prints them and reports every outcome back.
.
Printer-ready bytes (label language, printer control language) are sent
unchanged to a print queue as a raw job; PDF documents are rasterised and
printed through the driver with the user's saved print profiles, behind a
recovery journal.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL agent)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)

set(CPACK_DEBIAN_PACKAGE_NAME ${VEK_PACKAGE_NAME})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program links come from dpkg-shlibdeps. Declared besides:
# libsecret, which QtKeychain loads at run time for the desktop keyring, and
# CUPS, whose daemon holds the local print queues.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libsecret-1-0")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
