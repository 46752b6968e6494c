# The run viewer: a page template turned into a C++ string at build time, the
# library that fills it with a run, a fixture run and the tests that open it.
set(viewer_dir ${CMAKE_CURRENT_LIST_DIR})
set(viewer_inc ${CMAKE_CURRENT_BINARY_DIR}/viewer-gen/run_html_page.inc)
add_custom_command(OUTPUT ${viewer_inc}
  COMMAND ${CMAKE_COMMAND} -DDIR=${viewer_dir} -DOUT=${viewer_inc} -P ${viewer_dir}/embed.cmake
  DEPENDS ${viewer_dir}/embed.cmake ${viewer_dir}/viewer.html ${viewer_dir}/viewer.css ${viewer_dir}/viewer.js
  COMMENT "Embedding the run viewer page")
add_library(scanpilot_run_html STATIC ${viewer_dir}/../run_html.cpp ${viewer_dir}/../run_html.h
  ${viewer_dir}/../safe_text.cpp ${viewer_dir}/../safe_text.h ${viewer_inc})
target_include_directories(scanpilot_run_html PUBLIC ${viewer_dir}/.. PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/viewer-gen)
target_link_libraries(scanpilot_run_html PRIVATE scanpilot_warnings)

# From the host's types (GridView, Room) to the viewer's; robot-demo is
# defined before this file is included.
add_library(scanpilot_viewer_glue STATIC ${viewer_dir}/../viewer_glue.cpp ${viewer_dir}/../viewer_glue.h)
target_link_libraries(scanpilot_viewer_glue PUBLIC scanpilot_run_html scanpilot_sim PRIVATE scanpilot_warnings)
target_link_libraries(robot-demo PRIVATE scanpilot_viewer_glue scanpilot_run_html)

# A short real planner + tracker run with a hostile title, for the browser test.
add_executable(run-html-fixture ${viewer_dir}/../run_html_fixture.cpp)
target_link_libraries(run-html-fixture PRIVATE scanpilot_run_html pathgrid::pathgrid scanfollow::scanfollow
  scanpilot_warnings)

if(SCANPILOT_BUILD_TESTS)
  find_package(GTest REQUIRED)  # its targets are visible per directory
  scanpilot_add_gtest(test_run_html SOURCES ${PROJECT_SOURCE_DIR}/tests/test_run_html.cpp
    LIBS scanpilot_run_html scanpilot_viewer_glue)
  # Debian's python3 sees Debian's selenium; another python3 on PATH may not.
  find_program(SCANPILOT_SYSTEM_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
  if(SCANPILOT_SYSTEM_PYTHON3)
    add_test(NAME viewer_browser COMMAND ${SCANPILOT_SYSTEM_PYTHON3} ${PROJECT_SOURCE_DIR}/tests/browser/test_viewer.py
      --fixture $<TARGET_FILE:run-html-fixture> --work ${CMAKE_CURRENT_BINARY_DIR}/viewer-test)
  else()
    add_test(NAME viewer_browser COMMAND sh -c "echo 'SKIPPED: no /usr/bin/python3 for the browser test'; exit 77")
  endif()
  set_tests_properties(viewer_browser PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 180 LABELS browser)
endif()

if(SCANPILOT_BUILD_TESTS AND SCANPILOT_SYSTEM_PYTHON3)
  # The same checks on run.html of a real demo run and of a real replay.
  foreach(case demo replay)
    add_test(NAME viewer_browser_${case} COMMAND ${CMAKE_COMMAND} -DDEMO=$<TARGET_FILE:robot-demo>
      -DPYTHON=${SCANPILOT_SYSTEM_PYTHON3} -DTEST=${PROJECT_SOURCE_DIR}/tests/browser/test_viewer.py
      -DMAKER=${PROJECT_SOURCE_DIR}/tools/make-recording.py -DWORK=${CMAKE_CURRENT_BINARY_DIR}/viewer-test
      -DCASE=${case} -P ${PROJECT_SOURCE_DIR}/tests/browser/viewer_runs.cmake)
    set_tests_properties(viewer_browser_${case} PROPERTIES SKIP_REGULAR_EXPRESSION "SKIPPED:" TIMEOUT 300
      LABELS browser)
  endforeach()
endif()
