# SPDX-License-Identifier: BSD-3-Clause
# Installs the build tree into a fresh prefix, then builds and runs against
# it: the consumer (known answers from every library) through find_package,
# and the README's my_robot.cpp through the README's CMakeLists.txt and its
# pkg-config recipe, each exactly as written there.
# -DBUILD=<build tree> -DSOURCE=<tests/consumer> -DWORK=<scratch> -DCXX=<compiler>
# -DFLAGS=<extra compile and link flags, e.g. sanitizers> -DDEMO=<1 when robot-demo is built>
file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)
function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run("install" ${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})
# Headers go to include/scanpilot/, and nothing lies directly in include/.
foreach(f pathgrid.h pathgrid_grid.h scanfollow.h scanbin.h scanpilot.h scanwire.h scanpilot_version.h)
  if(NOT EXISTS ${prefix}/include/scanpilot/${f})
    message(FATAL_ERROR "not installed: include/scanpilot/${f}")
  endif()
endforeach()
file(GLOB loose LIST_DIRECTORIES true RELATIVE ${prefix}/include ${prefix}/include/*)
if(NOT loose STREQUAL "scanpilot")
  message(FATAL_ERROR "expected only include/scanpilot/ in the prefix's include/, found: ${loose}")
endif()
# (each library's SONAME link, whatever its ABI number)
file(GLOB_RECURSE sonames ${prefix}/*/libpathgrid.so.[0-9] ${prefix}/*/libscanfollow.so.[0-9]
  ${prefix}/*/libscanbin.so.[0-9] ${prefix}/*/libscanpilot.so.[0-9] ${prefix}/*/libscanwire.so.[0-9])
list(LENGTH sonames n)
if(NOT n EQUAL 5)
  message(FATAL_ERROR "SONAME links missing: ${sonames}")
endif()

if(DEMO)
  if(NOT EXISTS ${prefix}/bin/robot-demo)
    message(FATAL_ERROR "not installed: bin/robot-demo")
  endif()
  run("installed robot-demo" ${prefix}/bin/robot-demo --help)
endif()

# 1. find_package
run("configure (find_package)" ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/cmake-build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX}
    "-DCMAKE_CXX_FLAGS=${FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${FLAGS}")
run("build (find_package)" ${CMAKE_COMMAND} --build ${WORK}/cmake-build)
run("run (find_package)" ${WORK}/cmake-build/consumer)
message(STATUS "find_package consumer: ${out}")

# 2. The README's program and its complete CMakeLists.txt.
get_filename_component(readme ${SOURCE}/../../README.md ABSOLUTE)
file(READ ${readme} text)
function(readme_block marker lang var)
  string(REGEX MATCH "<!-- install test: ${marker} -->\n```${lang}\n([^`]*)```" block "${text}")
  if(NOT block)
    message(FATAL_ERROR "no ${marker} block found in ${readme}")
  endif()
  set(${var} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()
readme_block("my_robot\\.cpp" cpp program)
readme_block("CMakeLists\\.txt" cmake lists)
set(robot ${WORK}/readme-cmake)
file(WRITE ${robot}/my_robot.cpp "${program}")
file(WRITE ${robot}/CMakeLists.txt "${lists}")
run("configure (README CMakeLists.txt)" ${CMAKE_COMMAND} -S ${robot} -B ${robot}/build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX}
    "-DCMAKE_CXX_FLAGS=${FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${FLAGS}")
run("build (README CMakeLists.txt)" ${CMAKE_COMMAND} --build ${robot}/build)
run("run (README CMakeLists.txt)" ${robot}/build/my_robot)
if(NOT out MATCHES "^speed [0-9.]+ m/s, turn rate -?[0-9.]+ rad/s")
  message(FATAL_ERROR "my_robot printed: ${out}")
endif()
message(STATUS "README program (CMake): ${out}")

# 3. pkg-config: the README's recipe as written, with this prefix for
# /opt/scanpilot and this build's compiler and flags for g++.
find_program(PKG_CONFIG NAMES pkg-config pkgconf REQUIRED)
string(REGEX MATCH "```sh\n(export PKG_CONFIG_PATH=[^`]*)```" block "${text}")
if(NOT block)
  message(FATAL_ERROR "no pkg-config recipe found in ${readme}")
endif()
set(recipe "${CMAKE_MATCH_1}")
string(REPLACE "/opt/scanpilot" "${prefix}" recipe "${recipe}")
string(REGEX REPLACE "(^|\n)g\\+\\+ " "\\1${CXX} ${FLAGS} " recipe "${recipe}")
file(WRITE ${WORK}/recipe.sh "${recipe}")
configure_file(${robot}/my_robot.cpp ${WORK}/my_robot.cpp COPYONLY)
# The program must start on the rpath alone.
execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH sh -e ${WORK}/recipe.sh
                WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the README's pkg-config recipe failed (${rc}):\n${recipe}\n${out}\n${err}")
endif()
message(STATUS "pkg-config consumer: ${out}")
