# SPDX-License-Identifier: BSD-3-Clause
# The ABI check must catch a real break: a copy of the sources whose
# scanpilot.h gains a field in its first struct is built and compared with
# the stored baseline; that fails under the baseline's SONAME and passes,
# said so, under a new one.
# -DSOURCE=<project root> -DWORK=<scratch> -DCXX=<compiler>
file(REMOVE_RECURSE ${WORK})
set(tree ${WORK}/src)
file(MAKE_DIRECTORY ${tree})
file(COPY ${SOURCE}/CMakeLists.txt ${SOURCE}/cmake DESTINATION ${tree})
# Every folder the top CMakeLists.txt may add, whatever the options say.
file(GLOB children LIST_DIRECTORIES true ${SOURCE}/*)
foreach(child IN LISTS children)
  get_filename_component(name ${child} NAME)
  if(IS_DIRECTORY ${child} AND NOT name MATCHES "^(tests|bench|fuzz|debian|abi|build.*|obj-.*)$")
    file(COPY ${child} DESTINATION ${tree})
  endif()
endforeach()

set(baseline ${SOURCE}/abi/libscanpilot.abi)
file(STRINGS ${baseline} first LIMIT_COUNT 1)
if(NOT first MATCHES "soname='libscanpilot\\.so\\.([0-9]+)'")
  message(FATAL_ERROR "no SONAME in ${baseline}")
endif()
set(old_abi ${CMAKE_MATCH_1})

# The break: one more field at the end of the header's plain structs (a
# field added where a caller's copy has no room for it).
file(READ ${tree}/scanpilot/scanpilot.h header)
string(REGEX REPLACE "\n(struct Pilot[A-Za-z]* {\n[^}]*)\n};" "\n\\1\n  int abi_probe;\n};" broken "${header}")
if(broken STREQUAL header)
  message(FATAL_ERROR "no struct to break in scanpilot.h")
endif()
file(WRITE ${tree}/scanpilot/scanpilot.h "${broken}")

function(build_with_soversion n)
  file(READ ${SOURCE}/scanpilot/CMakeLists.txt lists)
  # The last SOVERSION given wins.
  string(REGEX REPLACE "(REQUIRES [^)]*)\\)" "\\1 SOVERSION ${n})" changed "${lists}")
  if(changed STREQUAL lists)
    message(FATAL_ERROR "no scanpilot_add_library(... REQUIRES ...) call to give a SOVERSION")
  endif()
  file(WRITE ${tree}/scanpilot/CMakeLists.txt "${changed}")
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${tree} -B ${WORK}/build -DCMAKE_BUILD_TYPE=RelWithDebInfo
      -DCMAKE_CXX_COMPILER=${CXX} -DSCANPILOT_BUILD_TESTS=OFF -DSCANPILOT_BUILD_EXAMPLES=OFF
      -DSCANPILOT_BUILD_BENCH=OFF -DSCANPILOT_BUILD_PYTHON=OFF -DSCANPILOT_BUILD_ROS=OFF
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(rc EQUAL 0)
    execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK}/build --target scanpilot
      RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  endif()
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "building the broken copy failed:\n${out}\n${err}")
  endif()
endfunction()

function(check expect_rc expect_text)
  execute_process(COMMAND sh ${SOURCE}/tools/abi-check.sh ${baseline} ${WORK}/build/scanpilot/libscanpilot.so
      ${tree}/scanpilot RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL expect_rc OR NOT "${out}${err}" MATCHES "${expect_text}")
    message(FATAL_ERROR "abi-check gave ${rc}, expected ${expect_rc} and '${expect_text}':\n${out}\n${err}")
  endif()
  message(STATUS "abi-check as expected (${rc}): ${expect_text}")
endfunction()

build_with_soversion(${old_abi})
check(1 "libscanpilot\\.so\\.${old_abi} breaks the ABI")
math(EXPR new_abi "${old_abi} + 1")
build_with_soversion(${new_abi})
check(0 "libscanpilot\\.so\\.${new_abi} changes the ABI of libscanpilot\\.so\\.${old_abi}, under a new SONAME")
