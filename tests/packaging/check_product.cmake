# Makes a product executable of the demo package with firmora-pack, moves it
# alone into a scratch folder, and runs it there: the package travels inside
# it, and the program's own data (NV lists, scenarios) are built into it.
# PACKER: firmora-pack of the build; DEMO_PACKAGE: the demo package folder;
# GUI: whether firmora-gui was built (then a product of it is checked too);
# WORK_DIR: a scratch folder, emptied first.
file(REMOVE_RECURSE "${WORK_DIR}")
include(${CMAKE_CURRENT_LIST_DIR}/private_run.cmake)

set(alone "${WORK_DIR}/alone")
file(MAKE_DIRECTORY "${alone}")
# firmora-pack ARGS... makes `name` and moves it alone into ${alone}.
function(make_product name)
  set(made "${WORK_DIR}/made/${name}")
  file(MAKE_DIRECTORY "${WORK_DIR}/made")
  execute_process(COMMAND "${PACKER}" --from "${DEMO_PACKAGE}" --output "${made}" ${ARGN}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "firmora-pack ${ARGN} failed (${status}):\n${out}\n${err}")
  endif()
  file(RENAME "${made}" "${alone}/${name}")
  file(REMOVE_RECURSE "${WORK_DIR}/made")
endfunction()

make_product(firmora-demo)

firmora_private_run("${alone}" "INI/ConfigFile" "${alone}/firmora-demo" package --list)
firmora_private_run("${alone}" "PASS" "${alone}/firmora-demo" run --simulate)
firmora_private_run("${alone}" "PASS" "${alone}/firmora-demo" backup --output saved --simulate)

if(GUI)
  # A product of firmora-gui starts straight into the window and runs the
  # update there (no display: Qt's offscreen platform).
  make_product(firmora-demo-window --program firmora-gui)
  set(ENV{QT_QPA_PLATFORM} offscreen)
  firmora_private_run("${alone}" "Update Completed" "${alone}/firmora-demo-window" --simulate --time-scale 50
                      --unattended)
endif()
