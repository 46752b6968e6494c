# SPDX-License-Identifier: BSD-3-Clause
# Run by ctest after the tests (CTestCustom.cmake): lists the tests of this run
# that were skipped, each with the reason it printed, since ctest itself shows
# only their names. Usage: cmake -DLOG_DIR=<build>/Testing/Temporary -P skip_summary.cmake
#
# A test counts as skipped when ctest matched its skip expression, or when its
# output has a line "SKIPPED: why" (what every skipping test here prints before
# it exits with status 77, which ctest does not record in its log). Pytest's
# "SKIPPED [1] ..." lines inside a passing file are single cases, not the test.
# This never fails: a summary must not turn a green run red.
cmake_minimum_required(VERSION 3.20)

# While it runs this, ctest is still writing the run's log as <name>.tmp (whole,
# but not yet renamed); the newest wins, a .tmp on a tie (ctest -T: one per tag).
file(GLOB logs "${LOG_DIR}/LastTest.log" "${LOG_DIR}/LastTest_*.log")
file(GLOB open_logs "${LOG_DIR}/LastTest.log.tmp" "${LOG_DIR}/LastTest_*.log.tmp")
list(APPEND logs ${open_logs})
if(NOT logs)
  return()
endif()
set(log "")
foreach(candidate IN LISTS logs)
  if(NOT log OR candidate IS_NEWER_THAN log)
    set(log "${candidate}")
  endif()
endforeach()

# Only the lines that matter (file(STRINGS) also cuts lines at control
# characters, so none reaches the terminal); semicolons would split the list.
file(STRINGS "${log}" lines ENCODING UTF-8
  REGEX "^([0-9]+/[0-9]+ Test: |SKIPPED|Skip regular expression found|Test Failed|Command: \"\"$|Output:$|<end of output>)")
list(APPEND lines "0/0 Test: ")  # closes the last test
set(names "")
set(name "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9]+/[0-9]+ Test: (.*)$")
    if(NOT name STREQUAL "" AND skipped_${name})
      list(APPEND names "${name}")
    endif()
    set(name "${CMAKE_MATCH_1}")
    set(in_output FALSE)
    set(reason_${name} "")
    set(case_reason_${name} "")
    set(skipped_${name} FALSE)
  elseif(name STREQUAL "")
  elseif(line STREQUAL "Output:")
    set(in_output TRUE)
  elseif(line STREQUAL "<end of output>")
    set(in_output FALSE)
  elseif(in_output AND line MATCHES "^SKIPPED: *(.*)$")
    if(reason_${name} STREQUAL "")
      set(reason_${name} "${CMAKE_MATCH_1}")
    endif()
    set(skipped_${name} TRUE)
  elseif(in_output AND line MATCHES "^SKIPPED +\\[[0-9]+\\] +[^ ]+ (.*)$")
    # A pytest case: the reason if the whole file turns out skipped.
    if(case_reason_${name} STREQUAL "")
      set(case_reason_${name} "${CMAKE_MATCH_1}")
    endif()
  elseif(in_output)
  elseif(line MATCHES "^Skip regular expression found")
    set(skipped_${name} TRUE)
  elseif(line MATCHES "^Test Failed")
    set(skipped_${name} FALSE)
  elseif(line STREQUAL "Command: \"\"")
    set(skipped_${name} TRUE)
    set(reason_${name} "turned off in this build (the configure output says why)")
  endif()
endforeach()

if(NOT names)
  return()
endif()
list(SORT names)
list(LENGTH names count)
# One line per reason, so that a missing module does not fill the screen.
set(reasons "")
foreach(name IN LISTS names)
  set(reason "${reason_${name}}")
  if(reason STREQUAL "")
    set(reason "${case_reason_${name}}")
  endif()
  if(reason STREQUAL "")
    set(reason "no reason printed")
  endif()
  list(FIND reasons "${reason}" k)
  if(k EQUAL -1)
    list(LENGTH reasons k)
    list(APPEND reasons "${reason}")
    set(group_${k} "${name}")
  else()
    string(APPEND group_${k} ", ${name}")
  endif()
endforeach()
message("\nWhy ${count} tests were skipped (ctest -V -R <name> shows a test's whole output):")
set(k 0)
foreach(reason IN LISTS reasons)
  message("  ${group_${k}}: ${reason}")
  math(EXPR k "${k} + 1")
endforeach()
