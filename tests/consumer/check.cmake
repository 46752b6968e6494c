# Installs the build tree into a fresh prefix, then builds and runs the
# consumer against it twice: through find_package and through pkg-config.
# -DBUILD=<build tree> -DSOURCE=<tests/consumer> -DWORK=<scratch> -DCXX=<compiler>
# -DFLAGS=<extra compile and link flags, e.g. sanitizers>
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
foreach(f include/pathgrid.h include/scanfollow.h)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
file(GLOB_RECURSE sonames ${prefix}/*/libpathgrid.so.1 ${prefix}/*/libscanfollow.so.1)
list(LENGTH sonames n)
if(NOT n EQUAL 2)
  message(FATAL_ERROR "SONAME links missing: ${sonames}")
endif()

if(EXISTS ${prefix}/bin/robot-demo)
  run("installed robot-demo" ${prefix}/bin/robot-demo --help)
endif()

# 1. find_package
run("configure (find_package)" ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/cmake-build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX}
    "-DCMAKE_CXX_FLAGS=${FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${FLAGS}")
run("build (find_package)" ${CMAKE_COMMAND} --build ${WORK}/cmake-build)
run("run (find_package)" ${WORK}/cmake-build/consumer)
message(STATUS "find_package consumer: ${out}")

# 2. pkg-config
find_program(PKG_CONFIG NAMES pkg-config pkgconf REQUIRED)
file(GLOB_RECURSE pcs ${prefix}/*/pathgrid.pc)
get_filename_component(pcdir "${pcs}" DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pcdir})
run("pkg-config" ${PKG_CONFIG} --cflags --libs pathgrid scanfollow)
separate_arguments(pc_flags UNIX_COMMAND "${out}")
run("pkg-config libdir" ${PKG_CONFIG} --variable=libdir pathgrid)
string(STRIP "${out}" libdir)
separate_arguments(extra UNIX_COMMAND "${FLAGS}")
run("build (pkg-config)" ${CXX} -std=c++17 ${extra} ${SOURCE}/main.cpp ${pc_flags}
    -Wl,-rpath,${libdir} -o ${WORK}/consumer-pc)
run("run (pkg-config)" ${WORK}/consumer-pc)
message(STATUS "pkg-config consumer: ${out}")
