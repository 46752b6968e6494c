# SPDX-License-Identifier: BSD-3-Clause
# The viewer of real robot-demo runs in the browser: the demo's run.html with
# the --verbose lines, and a replay's run.html with its per-scan lines, from a
# scan file whose name is markup.
# -DDEMO=<robot-demo> -DPYTHON=<python3 with selenium> -DTEST=<test_viewer.py>
# -DMAKER=<make-recording.py> -DWORK=<scratch dir> -DCASE=demo|replay
if(DEFINED ENV{SCANPILOT_TEST_EMULATOR})
  set(DEMO $ENV{SCANPILOT_TEST_EMULATOR} ${DEMO})
endif()
set(w ${WORK}/viewer-${CASE})
file(REMOVE_RECURSE ${w})
file(MAKE_DIRECTORY ${w})

if(CASE STREQUAL "demo")
  set(title "Robot following a person (seed 7)")
  set(run ${DEMO} --verbose --snapshot 0 --out ${w}/out)
  set(prefix "tick ")
else()
  # The name closes a script element and carries '&': the page must show it as text.
  set(hostile_dir "<script>window.__injected=1,alert(1)<")  # no ";": a CMake list separator
  set(hostile "${hostile_dir}/script> a&b.txt")
  file(MAKE_DIRECTORY "${w}/${hostile_dir}")
  execute_process(COMMAND ${PYTHON} ${MAKER} --form ranges --turns 40 --seed 5 "${w}/${hostile}"
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "make-recording failed: ${rc}")
  endif()
  set(title "Replay of ${hostile}")
  set(run ${DEMO} --scans "${hostile}" --format ranges --zero-at 37.5 --clockwise --units mm --min-range 0.1
      --follow 0.85 --out out)
  set(prefix "scan ")
endif()

execute_process(COMMAND ${run} WORKING_DIRECTORY ${w} RESULT_VARIABLE rc OUTPUT_VARIABLE text ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "robot-demo: status ${rc}\n${err}")
endif()
# The lines the page must show, tick by tick, exactly as printed.
string(REPLACE "\n" ";" lines "${text}")
set(info "")
foreach(line IN LISTS lines)
  string(FIND "${line}" "${prefix}" at)
  if(at EQUAL 0)
    string(APPEND info "${line}\n")
  endif()
endforeach()
file(WRITE ${w}/info.txt "${info}")

execute_process(COMMAND ${PYTHON} ${TEST} --html ${w}/out/run.html --info ${w}/info.txt --title "${title}"
                        --work ${w}/browser
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("${out}${err}")
if(rc EQUAL 77)
  message("SKIPPED: no browser (see above)")
elseif(NOT rc EQUAL 0)
  message(FATAL_ERROR "the viewer failed in the browser: status ${rc}")
endif()
