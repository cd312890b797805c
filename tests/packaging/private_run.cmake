# Runs a program as a new user would, with a home, data and temporary
# folders of its own below WORK_DIR, from `folder`: it must exit 0 and print
# `expected`. Included by the packaging checks.
function(firmora_private_run folder expected program)
  foreach(dir home home/.local/share run tmp)
    file(MAKE_DIRECTORY "${WORK_DIR}/${dir}")
  endforeach()
  file(CHMOD "${WORK_DIR}/run" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  set(ENV{HOME} "${WORK_DIR}/home")
  set(ENV{XDG_DATA_HOME} "${WORK_DIR}/home/.local/share")
  set(ENV{XDG_RUNTIME_DIR} "${WORK_DIR}/run")
  set(ENV{TMPDIR} "${WORK_DIR}/tmp")
  execute_process(COMMAND "${program}" ${ARGN} WORKING_DIRECTORY "${folder}"
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(FIND "${out}" "${expected}" at)
  if(NOT status EQUAL 0 OR at EQUAL -1)
    message(FATAL_ERROR "${program} ${ARGN}: exit ${status}, expected 0 and \"${expected}\"\n"
                        "stdout:\n${out}\nstderr:\n${err}")
  endif()
endfunction()
