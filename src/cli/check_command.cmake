# Runs the firmora command once and checks its exit status and output.
# FIRMORA: the executable; ARGS: its arguments separated by "|"; EXPECT_EXIT;
# EXPECT_OUT / EXPECT_ERR: texts that stdout / stderr must contain (optional;
# several separated by "|" must all be there);
# CONFIG_TEXT: lines separated by "|" written to WORK_DIR/Config.ini, which
# ARGS names as @CONFIG@ (@BAR@ in a line stands for a "|" of its own);
# @WORK@ stands for WORK_DIR;
# IMAGES: files to create in WORK_DIR, "name=size" separated by "|", each
# filled with its own name over and over;
# PLAIN_OUT: when true, stdout must hold no escape and no carriage-return
# character (what a pipe or a log file gets).
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
set(config "${WORK_DIR}/Config.ini")
if(NOT CONFIG_TEXT STREQUAL "")
  string(REPLACE "|" "\r\n" text "${CONFIG_TEXT}")
  string(REPLACE "@BAR@" "|" text "${text}")
  file(WRITE "${config}" "${text}\r\n")
endif()

if(NOT IMAGES STREQUAL "")
  string(REPLACE "|" ";" images "${IMAGES}")
  foreach(image IN LISTS images)
    string(REGEX MATCH "^([^=]+)=([0-9]+)$" matched "${image}")
    if(NOT matched)
      message(FATAL_ERROR "IMAGES entry \"${image}\" is not name=size")
    endif()
    set(name "${CMAKE_MATCH_1}")
    set(size "${CMAKE_MATCH_2}")
    string(LENGTH "${name}" length)
    math(EXPR copies "${size} / ${length} + 1")
    string(REPEAT "${name}" ${copies} content)
    string(SUBSTRING "${content}" 0 ${size} content)
    file(WRITE "${WORK_DIR}/${name}" "${content}")
  endforeach()
endif()

string(REPLACE "@CONFIG@" "${config}" args "${ARGS}")
string(REPLACE "@WORK@" "${WORK_DIR}" args "${args}")
string(REPLACE "|" ";" args "${args}")

# The run's working folder, its lock and the default backup root go below
# WORK_DIR, so that checks running at the same time never share them and no
# check writes into the user's own folders.
unset(ENV{XDG_RUNTIME_DIR})
set(ENV{TMPDIR} "${WORK_DIR}/tmp")
set(ENV{XDG_DATA_HOME} "${WORK_DIR}/data")
file(MAKE_DIRECTORY "${WORK_DIR}/tmp")

execute_process(COMMAND "${FIRMORA}" ${args}
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)

set(failed FALSE)
if(NOT status STREQUAL "${EXPECT_EXIT}")
  message(SEND_ERROR "exit status ${status}, expected ${EXPECT_EXIT}")
  set(failed TRUE)
endif()
foreach(stream OUT ERR)
  string(TOLOWER ${stream} var)
  string(REPLACE "|" ";" expected "${EXPECT_${stream}}")
  foreach(text IN LISTS expected)
    string(FIND "${${var}}" "${text}" at)
    if(at EQUAL -1)
      message(SEND_ERROR "std${var} lacks \"${text}\"")
      set(failed TRUE)
    endif()
  endforeach()
endforeach()
if(PLAIN_OUT)
  string(ASCII 27 escape)
  string(ASCII 13 carriage_return)
  string(FIND "${out}" "${escape}" at_escape)
  string(FIND "${out}" "${carriage_return}" at_return)
  if(NOT at_escape EQUAL -1 OR NOT at_return EQUAL -1)
    message(SEND_ERROR "stdout holds terminal control characters")
    set(failed TRUE)
  endif()
endif()
if(failed)
  message(FATAL_ERROR "stdout:\n${out}\nstderr:\n${err}")
endif()
