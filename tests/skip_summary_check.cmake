# SPDX-License-Identifier: BSD-3-Clause
# The end-of-run list of skipped tests, on a small project run by the real
# ctest: both ways a test skips, a disabled one, a pytest file that passes
# with one skipped case (not a skipped test), a failure, and a run with no skip.
# Usage: cmake -DSUMMARY=<skip_summary.cmake> -DWORK=<scratch dir> -DCTEST=<ctest> -P skip_summary_check.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/src")
file(WRITE "${WORK}/src/CMakeLists.txt" [=[
cmake_minimum_required(VERSION 3.20)
project(skips NONE)
enable_testing()
add_test(NAME by_regex COMMAND ${CMAKE_COMMAND} -E echo "SKIPPED: no browser here")
set_tests_properties(by_regex PROPERTIES SKIP_REGULAR_EXPRESSION "^SKIPPED: ")
add_test(NAME by_status COMMAND sh -c "echo checking; echo 'SKIPPED: strace is not installed'; exit 77")
set_tests_properties(by_status PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME pytest_file COMMAND sh -c "echo '2 passed, 1 skipped'; echo 'SKIPPED [1] test_x.py:9: too short to tell'")
set_tests_properties(pytest_file PROPERTIES SKIP_REGULAR_EXPRESSION "^SKIPPED: ")
add_test(NAME pytest_all_skipped COMMAND sh -c "echo 'SKIPPED [1] test_sim.py:13: built without the simulator'; echo 'SKIPPED: every case of test_sim.py'; exit 77")
set_tests_properties(pytest_all_skipped PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME off_here COMMAND false)
set_tests_properties(off_here PROPERTIES DISABLED TRUE)
add_test(NAME also_no_browser COMMAND ${CMAKE_COMMAND} -E echo "SKIPPED: no browser here")
set_tests_properties(also_no_browser PROPERTIES SKIP_REGULAR_EXPRESSION "^SKIPPED: ")
add_test(NAME plain COMMAND ${CMAKE_COMMAND} -E echo "ok")
add_test(NAME broken COMMAND sh -c "echo 'SKIPPED: then it failed'; echo 'SKIPPED [1] t.py:1: a case'; exit 1")
file(WRITE ${CMAKE_BINARY_DIR}/CTestCustom.cmake "set(CTEST_CUSTOM_POST_TEST \"\\\"${CMAKE_COMMAND}\\\" \\\"-DLOG_DIR=${CMAKE_BINARY_DIR}/Testing/Temporary\\\" -P \\\"${SUMMARY}\\\"\")\n")
]=])
execute_process(COMMAND ${CMAKE_COMMAND} -S "${WORK}/src" -B "${WORK}/build" -DSUMMARY=${SUMMARY}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "configure failed:\n${out}")
endif()

function(run_ctest regex expect_rc out_var)
  execute_process(COMMAND ${CTEST} --test-dir "${WORK}/build" -j2 -R "${regex}"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL expect_rc)
    message(FATAL_ERROR "ctest -R '${regex}' gave ${rc}, not ${expect_rc}:\n${out}")
  endif()
  set(${out_var} "${out}" PARENT_SCOPE)
endfunction()

# Everything but the failure: the run stays green and the list is exact, one
# line per reason.
run_ctest("^(by_regex|by_status|pytest_file|pytest_all_skipped|off_here|also_no_browser|plain)$" 0 out)
if(NOT out MATCHES "Why 5 tests were skipped [^\n]*\n  also_no_browser, by_regex: no browser here\n  by_status: strace is not installed\n  off_here: turned off in this build [^\n]*\n  pytest_all_skipped: every case of test_sim.py\n")
  message(FATAL_ERROR "wrong list of skipped tests:\n${out}")
endif()
if(out MATCHES "pytest_file:|plain:")
  message(FATAL_ERROR "a test that ran is listed as skipped:\n${out}")
endif()

# A failing test keeps ctest's failure status and is not listed.
run_ctest("^(broken|by_status)$" 8 out)
if(NOT out MATCHES "\n  by_status: strace is not installed\n" OR out MATCHES "broken:")
  message(FATAL_ERROR "wrong list beside a failure:\n${out}")
endif()

# No skipped test: no list at all.
run_ctest("^plain$" 0 out)
if(out MATCHES "were skipped")
  message(FATAL_ERROR "a list without any skipped test:\n${out}")
endif()
message("skip summary: all cases as expected")
