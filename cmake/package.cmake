# Debian packages from this tree (CPack's DEB generator, `cpack -G DEB` in
# the build folder; scripts/package.sh runs it):
#
#   rastertovkr      the CUPS filters, the PPD where `lpinfo -m` finds it,
#                    their man pages
#   vkr-printer-app  the Printer Application, its systemd service, the udev
#                    rule and service that add a plugged-in USB card printer,
#                    its man page; maintainer scripts make the service's user
#                    and enable the service
#
# The simulator, its CUPS backend and the test tools are the component
# "sim", which no package holds: a user's `lpinfo -v` never offers a
# simulated printer. Dependencies come from the libraries the programs
# link (dpkg-shlibdeps). Included by the top CMakeLists.txt after the
# subdirectories.

# The man pages and changelog, compressed as Debian keeps them.
set(_vkr_pkg ${PROJECT_SOURCE_DIR}/packaging)
set(_vkr_gz ${PROJECT_BINARY_DIR}/packaging)
set(_vkr_gz_files)
foreach(src man/vkr-printer-app.1 man/rastertovkr.8 man/commandtovkr.8 debian/changelog)
  get_filename_component(_name ${src} NAME)
  add_custom_command(OUTPUT ${_vkr_gz}/${_name}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_vkr_gz}
    COMMAND gzip -9nc ${_vkr_pkg}/${src} > ${_vkr_gz}/${_name}.gz
    DEPENDS ${_vkr_pkg}/${src} VERBATIM)
  list(APPEND _vkr_gz_files ${_vkr_gz}/${_name}.gz)
endforeach()
add_custom_target(vkr_package_docs ALL DEPENDS ${_vkr_gz_files})

# systemd's folder for system units (/lib/systemd/system on Debian 12).
set(_vkr_unitdir /lib/systemd/system)
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_get_variable(_vkr_found_unitdir systemd systemdsystemunitdir)
  if(_vkr_found_unitdir)
    set(_vkr_unitdir ${_vkr_found_unitdir})
  endif()
endif()
set(VKR_SYSTEMD_UNITDIR ${_vkr_unitdir} CACHE PATH "Where the service units install")
# udev's rules folder (/lib/udev/rules.d on Debian 12).
set(_vkr_udevdir /lib/udev)
if(PkgConfig_FOUND)
  pkg_get_variable(_vkr_found_udevdir udev udevdir)
  if(_vkr_found_udevdir)
    set(_vkr_udevdir ${_vkr_found_udevdir})
  endif()
endif()
set(VKR_UDEV_RULESDIR ${_vkr_udevdir}/rules.d CACHE PATH "Where the udev rule installs")

install(FILES ${_vkr_gz}/rastertovkr.8.gz ${_vkr_gz}/commandtovkr.8.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT filter)
install(FILES ${_vkr_gz}/vkr-printer-app.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT app)
install(FILES ${_vkr_pkg}/vkr-printer-app.service ${_vkr_pkg}/vkr-printer-app-autoadd.service
  DESTINATION ${VKR_SYSTEMD_UNITDIR} COMPONENT app)
install(FILES ${_vkr_pkg}/70-vkr-printer-app.rules DESTINATION ${VKR_UDEV_RULESDIR} COMPONENT app)
foreach(component filter app)
  set(_doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/rastertovkr)
  if(component STREQUAL app)
    set(_doc ${CMAKE_INSTALL_DATAROOTDIR}/doc/vkr-printer-app)
  endif()
  install(FILES ${_vkr_pkg}/debian/copyright ${_vkr_gz}/changelog.gz DESTINATION ${_doc}
    COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rastertovkr)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "rastertovkr developers <rastertovkr@example.org>")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL filter)
if(TARGET vkr-printer-app)
  list(APPEND CPACK_COMPONENTS_ALL app)
endif()
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SOURCE rastertovkr)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_FILTER_PACKAGE_NAME rastertovkr)
set(CPACK_DEBIAN_FILTER_PACKAGE_SECTION text)
set(CPACK_DEBIAN_FILTER_PACKAGE_RECOMMENDS "cups-daemon, cups-filters")
set(CPACK_COMPONENT_FILTER_DESCRIPTION "CUPS driver for the VK4400 colour card printer
The raster filter rastertovkr turns CUPS raster pages into the card
printer's print-job commands (colour, black and overlay panels), reading
the printer's answers from the back channel; commandtovkr runs maintenance
commands (self-test card, ribbon level, beep). The PPD makes the printer a
CUPS queue: lpinfo -m lists it as vkr/vk4400.ppd.")

set(CPACK_DEBIAN_APP_PACKAGE_NAME vkr-printer-app)
set(CPACK_DEBIAN_APP_PACKAGE_SECTION net)
set(CPACK_DEBIAN_APP_PACKAGE_DEPENDS "adduser")
# PAPPL announces the printers and looks for network printers through Avahi.
set(CPACK_DEBIAN_APP_PACKAGE_RECOMMENDS "avahi-daemon")
set(CPACK_DEBIAN_APP_PACKAGE_CONTROL_EXTRA
  ${_vkr_pkg}/debian/vkr-printer-app/postinst ${_vkr_pkg}/debian/vkr-printer-app/prerm
  ${_vkr_pkg}/debian/vkr-printer-app/postrm)
set(CPACK_COMPONENT_APP_DESCRIPTION "IPP Everywhere Printer Application for the VK4400 card printer
vkr-printer-app serves the colour card printer (on USB or at a socket://
address) as an IPP Everywhere printer with a web interface, so that any
driverless client, CUPS included, prints cards on it. It runs as the
systemd service vkr-printer-app.service; USB card printers are recognised
by their IEEE 1284 device ID.")

include(CPack)
