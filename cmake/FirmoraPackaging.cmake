# The Debian package: `cpack -G DEB` in the build folder (or the `deb`
# target). The installed tree (programs, data, demo package) goes to
# /opt/firmora as one folder, as `cmake --install` lays it out, so that the
# programs find their data beside themselves. deb_system_files.cmake runs
# once CPack has staged that tree: it adds what a system install needs
# around it (commands in /usr/bin, the man page, the udev rules where udev
# reads them), so a plain `cmake --install --prefix DIR` stays one folder,
# and it drops the programs' debugging information.
#
# No CPACK_STRIP_FILES and no install/strip: firmora carries the demo
# package as a ZIP archive appended after linking, and strip drops it. The
# staging script strips firmora (and firmora-gui) and appends the package
# again with the staged firmora-pack.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME firmora)
set(CPACK_PACKAGE_VENDOR "Firmora")
set(CPACK_PACKAGE_CONTACT "Firmora maintainers <firmora@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updates of USB cellular modems that keep the modem's own data")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Firmora updates the firmware of USB cellular modems of the MDM9x15/MDM9607 class: it saves the modem's "
       "own data (serial number, IMEI, APNs, NV items, files), writes the images over fastboot and writes the "
       "data back. A built-in virtual modem runs every command without hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/firmora)
set(CPACK_STRIP_FILES OFF)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries the programs link (libusb, libudev, libzip,
# libsystemd, the C++ runtime) found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/deb/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/deb_system_files.cmake)
set(CPACK_FIRMORA_STRIP ${CMAKE_STRIP})
set(CPACK_FIRMORA_UDEV_RULES ${PROJECT_SOURCE_DIR}/data/udev/70-firmora.rules)
set(CPACK_FIRMORA_COMMANDS firmora firmora-pack firmora-sim)
set(CPACK_FIRMORA_MAN_PAGES ${PROJECT_SOURCE_DIR}/docs/firmora.1)
# firmora-gui, when Qt 6 was found: its command, its man page, its entry in
# the desktop's menus with our icon, and a font that writes its Japanese
# texts (dpkg-shlibdeps adds the Qt 6 libraries).
if(TARGET firmora-gui)
  list(APPEND CPACK_FIRMORA_COMMANDS firmora-gui)
  list(APPEND CPACK_FIRMORA_MAN_PAGES ${PROJECT_SOURCE_DIR}/docs/firmora-gui.1)
  set(CPACK_FIRMORA_DESKTOP_ENTRY ${PROJECT_SOURCE_DIR}/data/desktop/firmora-gui.desktop)
  set(CPACK_FIRMORA_ICON ${PROJECT_SOURCE_DIR}/data/desktop/firmora-gui.svg)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-noto-cjk")
endif()

include(CPack)

# `cmake --build build --target deb`: the package into build/, made from
# everything the build makes.
add_custom_target(deb
                  COMMAND ${CMAKE_CPACK_COMMAND} -G DEB --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake
                  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
                  COMMENT "Making the Debian package"
                  VERBATIM)
