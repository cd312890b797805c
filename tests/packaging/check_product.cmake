# Makes a product executable of the demo package with firmora-pack, moves it
# alone into a scratch folder, and runs it there: the package travels inside
# it, and the program's own data (NV lists, scenarios) are built into it.
# PACKER: firmora-pack of the build; DEMO_PACKAGE: the demo package folder;
# WORK_DIR: a scratch folder, emptied first.
file(REMOVE_RECURSE "${WORK_DIR}")
include(${CMAKE_CURRENT_LIST_DIR}/private_run.cmake)

set(made "${WORK_DIR}/made/firmora-demo")
file(MAKE_DIRECTORY "${WORK_DIR}/made")
execute_process(COMMAND "${PACKER}" --from "${DEMO_PACKAGE}" --output "${made}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "firmora-pack failed (${status}):\n${out}\n${err}")
endif()
set(alone "${WORK_DIR}/alone")
file(MAKE_DIRECTORY "${alone}")
file(RENAME "${made}" "${alone}/firmora-demo")
file(REMOVE_RECURSE "${WORK_DIR}/made")

firmora_private_run("${alone}" "INI/ConfigFile" "${alone}/firmora-demo" package --list)
firmora_private_run("${alone}" "PASS" "${alone}/firmora-demo" run --simulate)
firmora_private_run("${alone}" "PASS" "${alone}/firmora-demo" backup --output saved --simulate)
