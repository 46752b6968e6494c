# Installs the build tree into a fresh prefix, then builds and runs a scanbin
# user against it through find_package and through pkg-config.
# -DBUILD=<build tree> -DSOURCE=<tests/consumer/scanbin> -DWORK=<scratch> -DCXX=<compiler>
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
if(NOT EXISTS ${prefix}/include/scanbin.h)
  message(FATAL_ERROR "not installed: include/scanbin.h")
endif()
file(GLOB_RECURSE soname ${prefix}/*/libscanbin.so.1)
if(NOT soname)
  message(FATAL_ERROR "SONAME link libscanbin.so.1 missing")
endif()

run("configure (find_package)" ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/cmake-build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX}
    "-DCMAKE_CXX_FLAGS=${FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${FLAGS}")
run("build (find_package)" ${CMAKE_COMMAND} --build ${WORK}/cmake-build)
run("run (find_package)" ${WORK}/cmake-build/scanbin_consumer)
message(STATUS "find_package scanbin consumer: ${out}")

find_program(PKG_CONFIG NAMES pkg-config pkgconf REQUIRED)
file(GLOB_RECURSE pc ${prefix}/*/scanbin.pc)
get_filename_component(pcdir "${pc}" DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pcdir})
run("pkg-config" ${PKG_CONFIG} --cflags --libs scanbin)
separate_arguments(pc_flags UNIX_COMMAND "${out}")
run("pkg-config libdir" ${PKG_CONFIG} --variable=libdir scanbin)
string(STRIP "${out}" libdir)
separate_arguments(extra UNIX_COMMAND "${FLAGS}")
run("build (pkg-config)" ${CXX} -std=c++17 ${extra} ${SOURCE}/main.cpp ${pc_flags}
    -Wl,-rpath,${libdir} -o ${WORK}/scanbin-consumer-pc)
run("run (pkg-config)" ${WORK}/scanbin-consumer-pc)
message(STATUS "pkg-config scanbin consumer: ${out}")
