# Runs the firmora command once and checks its exit status and output.
# FIRMORA: the executable; ARGS: its arguments separated by "|"; EXPECT_EXIT;
# EXPECT_OUT / EXPECT_ERR: texts that stdout / stderr must contain (optional);
# CONFIG_TEXT: lines separated by "|" written to WORK_DIR/Config.ini, which
# ARGS names as @CONFIG@; @WORK@ stands for WORK_DIR.
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
set(config "${WORK_DIR}/Config.ini")
if(NOT CONFIG_TEXT STREQUAL "")
  string(REPLACE "|" "\r\n" text "${CONFIG_TEXT}")
  file(WRITE "${config}" "${text}\r\n")
endif()

string(REPLACE "@CONFIG@" "${config}" args "${ARGS}")
string(REPLACE "@WORK@" "${WORK_DIR}" args "${args}")
string(REPLACE "|" ";" args "${args}")

execute_process(COMMAND "${FIRMORA}" ${args}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)

set(failed FALSE)
if(NOT status STREQUAL "${EXPECT_EXIT}")
  message(SEND_ERROR "exit status ${status}, expected ${EXPECT_EXIT}")
  set(failed TRUE)
endif()
foreach(stream OUT ERR)
  string(TOLOWER ${stream} var)
  if(NOT EXPECT_${stream} STREQUAL "")
    string(FIND "${${var}}" "${EXPECT_${stream}}" at)
    if(at EQUAL -1)
      message(SEND_ERROR "std${var} lacks \"${EXPECT_${stream}}\"")
      set(failed TRUE)
    endif()
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "stdout:\n${out}\nstderr:\n${err}")
endif()
