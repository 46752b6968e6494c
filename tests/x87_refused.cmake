# SPDX-License-Identifier: BSD-3-Clause
# The libraries must refuse x87 arithmetic, which keeps float expressions in
# 80 bits and gives other results, and must still build for i686 with SSE2.
# -DCXX=<i686 cross compiler, or the host compiler to try with -m32>
# -DSOURCES=<library sources> -DINCLUDES=<their include directories>
# Prints "SKIPPED" when no compiler here can build 32-bit x86 code.
set(probe ${CMAKE_CURRENT_BINARY_DIR}/x87-probe.cpp)
file(WRITE ${probe} "#include <cfloat>\nint eval_method = FLT_EVAL_METHOD;\n")
execute_process(COMMAND ${CXX} -m32 -mfpmath=387 -std=c++17 -dM -E ${probe}
                RESULT_VARIABLE rc OUTPUT_VARIABLE macros ERROR_QUIET)
if(NOT rc EQUAL 0)
  message("SKIPPED: ${CXX} cannot build 32-bit x86 code (install g++-i686-linux-gnu)")
  return()
endif()
if(NOT macros MATCHES "#define __FLT_EVAL_METHOD__ 2")
  message(FATAL_ERROR "${CXX} -m32 -mfpmath=387 does not evaluate in excess precision: this check proves nothing")
endif()
set(inc)
foreach(d ${INCLUDES})
  list(APPEND inc -I${d})
endforeach()
foreach(src ${SOURCES})
  execute_process(COMMAND ${CXX} -m32 -mfpmath=387 -std=c++17 -fsyntax-only ${inc} ${src}
                  RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
  if(rc EQUAL 0 OR NOT err MATCHES "build with SSE2 arithmetic")
    message(FATAL_ERROR "x87 build of ${src} was not refused (status ${rc}):\n${err}")
  endif()
  execute_process(COMMAND ${CXX} -m32 -msse2 -mfpmath=sse -std=c++17 -fsyntax-only ${inc} ${src}
                  RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "SSE2 build of ${src} failed (status ${rc}):\n${err}")
  endif()
  message(STATUS "${src}: x87 refused, SSE2 builds")
endforeach()
