# Installs the build into a fresh folder, moves that folder, and runs the
# installed firmora from yet another folder against the virtual modem: the
# programs must find their data (nv/, scenarios/) beside themselves, not in
# the source or build tree.
# BUILD_DIR: the build to install; SOURCE_DIR: the source tree;
# WORK_DIR: a scratch folder, emptied first.
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}/elsewhere")

execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${WORK_DIR}/staged"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${status}):\n${out}\n${err}")
endif()
file(RENAME "${WORK_DIR}/staged" "${WORK_DIR}/moved")
set(tree "${WORK_DIR}/moved")
foreach(needed firmora firmora-sim nv/vendor.nvtable scenarios/default.json scenarios/two-devices.json
               demo-package/Config.ini demo-package/NONHLOS.ubi demo-package/AdbWinApi.dll)
  if(NOT EXISTS "${tree}/${needed}")
    message(FATAL_ERROR "the installed tree lacks ${needed}")
  endif()
endforeach()

# The program names no folder of the source tree.
file(STRINGS "${tree}/firmora" paths REGEX "sim/scenarios")
foreach(line IN LISTS paths)
  string(FIND "${line}" "${SOURCE_DIR}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "the installed firmora names the source tree: ${line}")
  endif()
endforeach()

set(here "${WORK_DIR}/elsewhere")
file(WRITE "${here}/Config.ini" "[DownloadItems]\r\nbFastbootBootImage=1\r\n")
string(REPEAT "boot" 5000 image)
file(WRITE "${here}/boot.img" "${image}")

function(run_installed expected)
  execute_process(COMMAND "${tree}/firmora" ${ARGN} WORKING_DIRECTORY "${here}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(FIND "${out}" "${expected}" at)
  if(NOT status EQUAL 0 OR at EQUAL -1)
    message(FATAL_ERROR "firmora ${ARGN}: exit ${status}, expected 0 and \"${expected}\"\n"
                        "stdout:\n${out}\nstderr:\n${err}")
  endif()
endfunction()

# The run's working folder and its lock stay below WORK_DIR.
unset(ENV{XDG_RUNTIME_DIR})
set(ENV{TMPDIR} "${WORK_DIR}/tmp")
file(MAKE_DIRECTORY "${WORK_DIR}/tmp")

run_installed("boot: 20000 bytes" flash-plan --config Config.ini --simulate)
# The README's main job, as a new user runs it from the installed tree: the
# package the installed firmora carries, and the same package from its folder.
set(ENV{XDG_DATA_HOME} "${WORK_DIR}/data")
run_installed("PASS" run --simulate)
run_installed("PASS" run --config "${tree}/demo-package/Config.ini" --simulate --backup-root backups)
run_installed("READ NV ITEM ID:28334" backup --output saved --simulate)
if(NOT EXISTS "${here}/saved/manifest.json")
  message(FATAL_ERROR "the backup from the installed firmora left no manifest in ${here}/saved")
endif()
