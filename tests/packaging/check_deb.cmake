# Makes the Debian package of a build, unpacks it into a scratch root
# (dpkg-deb -x: no root, nothing installed on the machine), checks what it
# holds, and runs the unpacked firmora's main job against the virtual modem.
# CPACK: the cpack program; CPACK_CONFIG: the build's CPackConfig.cmake;
# GUI: whether firmora-gui was built (then the package carries it too);
# WORK_DIR: a scratch folder, emptied first.
file(REMOVE_RECURSE "${WORK_DIR}")
include(${CMAKE_CURRENT_LIST_DIR}/private_run.cmake)

execute_process(COMMAND "${CPACK}" -G DEB --config "${CPACK_CONFIG}" -B "${WORK_DIR}/out"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
file(GLOB debs "${WORK_DIR}/out/*.deb")
list(LENGTH debs count)
if(NOT status EQUAL 0 OR NOT count EQUAL 1)
  message(FATAL_ERROR "cpack -G DEB failed (${status}, ${count} packages):\n${out}\n${err}")
endif()

function(dpkg_deb)
  execute_process(COMMAND dpkg-deb ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "dpkg-deb ${ARGN} failed (${status}):\n${err}")
  endif()
  set(dpkg_out "${out}" PARENT_SCOPE)
endfunction()

# The libraries the programs link, found by dpkg-shlibdeps.
dpkg_deb(--field ${debs} Depends)
set(needed_packages libusb-1.0-0 libudev1 libzip4 libsystemd0 libstdc++6)
if(GUI)
  # The window's Qt 6 libraries, and the font of its Japanese texts.
  list(APPEND needed_packages libqt6widgets6 libqt6gui6 fonts-noto-cjk)
endif()
foreach(library IN LISTS needed_packages)
  string(FIND "${dpkg_out}" "${library}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the package does not depend on ${library}: Depends: ${dpkg_out}")
  endif()
endforeach()

set(root "${WORK_DIR}/root")
dpkg_deb(-x ${debs} "${root}")
set(tree "${root}/opt/firmora")
foreach(needed opt/firmora/firmora opt/firmora/firmora-pack opt/firmora/firmora-sim opt/firmora/firmora-swivlet
               opt/firmora/firmora-rebootle opt/firmora/firmora-drivlet
               opt/firmora/nv/default.nvtable opt/firmora/nv/lte.nvtable opt/firmora/nv/vendor.nvtable
               opt/firmora/scenarios/default.json opt/firmora/ports/modem-ports.table
               opt/firmora/rules/70-firmora.rules opt/firmora/demo-package/Config.ini
               usr/lib/udev/rules.d/70-firmora.rules usr/share/man/man1/firmora.1.gz)
  if(NOT EXISTS "${root}/${needed}")
    message(FATAL_ERROR "the package lacks /${needed}")
  endif()
endforeach()
set(commands firmora firmora-pack firmora-sim)
if(GUI)
  list(APPEND commands firmora-gui)
  foreach(needed opt/firmora/firmora-gui usr/share/man/man1/firmora-gui.1.gz
                 usr/share/applications/firmora-gui.desktop usr/share/icons/hicolor/scalable/apps/firmora-gui.svg)
    if(NOT EXISTS "${root}/${needed}")
      message(FATAL_ERROR "the package lacks /${needed}")
    endif()
  endforeach()
  # The menu entry starts the command by the name the package links, with our icon.
  file(READ "${root}/usr/share/applications/firmora-gui.desktop" entry)
  if(NOT entry MATCHES "\nExec=firmora-gui\n" OR NOT entry MATCHES "\nIcon=firmora-gui\n")
    message(FATAL_ERROR "firmora-gui.desktop does not start firmora-gui with its icon:\n${entry}")
  endif()
endif()
foreach(command IN LISTS commands)
  file(READ_SYMLINK "${root}/usr/bin/${command}" target)
  if(NOT target STREQUAL "/opt/firmora/${command}")
    message(FATAL_ERROR "/usr/bin/${command} links to \"${target}\", not /opt/firmora/${command}")
  endif()
endforeach()
execute_process(COMMAND gzip -dc "${root}/usr/share/man/man1/firmora.1.gz" OUTPUT_VARIABLE page RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR NOT page MATCHES "^\\.TH FIRMORA 1")
  message(FATAL_ERROR "/usr/share/man/man1/firmora.1.gz is not the man page (gzip: ${status})")
endif()

# firmora still carries the demo package appended after linking: a strip on
# the way would have dropped it.
file(MAKE_DIRECTORY "${WORK_DIR}/elsewhere")
firmora_private_run("${WORK_DIR}/elsewhere" "INI/ConfigFile" "${tree}/firmora" package --list)
# The main job, from the unpacked tree: the package firmora carries.
firmora_private_run("${WORK_DIR}/elsewhere" "PASS" "${tree}/firmora" run --simulate)

if(GUI)
  # firmora-gui as well: stripped, it still carries the package, and its
  # window runs the whole update without a display.
  set(ENV{QT_QPA_PLATFORM} offscreen)
  firmora_private_run("${WORK_DIR}/elsewhere" "Update Completed" "${tree}/firmora-gui" --simulate --time-scale 50
                      --unattended)
endif()
