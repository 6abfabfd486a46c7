# Installs the build tree into a scratch prefix, then checks the installed
# files, builds a small consumer with find_package(qorb) and with pkg-config,
# and runs the installed tool on the simulated driver.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -P install_test.cmake
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err
                  WORKING_DIRECTORY ${WORK_DIR})
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(OUT "${out}" PARENT_SCOPE)
endfunction()

file(MAKE_DIRECTORY ${WORK_DIR})
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

file(GLOB libdir RELATIVE ${prefix} ${prefix}/lib*/libqorb.so ${prefix}/lib/*/libqorb.so)
list(GET libdir 0 libdir)
get_filename_component(libdir ${libdir} DIRECTORY)
foreach(path include/qorb/qorb.h include/qorb/qorb_types.h include/qorb/qorb_driver.h ${libdir}/libqorbsim.so
             ${libdir}/cmake/qorb/qorbConfig.cmake ${libdir}/pkgconfig/qorb.pc bin/qorb
             share/qorb/examples/builtin-platform.xml share/qorb/examples/typical_test.cpp share/man/man1/qorb.1)
  if(NOT EXISTS ${prefix}/${path})
    message(FATAL_ERROR "not installed: ${path}")
  endif()
endforeach()
if(EXISTS ${prefix}/include/qorb_internal.h OR EXISTS ${prefix}/include/qorb/qorb_internal.h)
  message(FATAL_ERROR "the internal header was installed")
endif()

# find_package(qorb) and the qorb::qorb target.
run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/consumer -B ${WORK_DIR}/consumer -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(${WORK_DIR}/consumer/consumer)
if(NOT OUT MATCHES "PCIE CAP DOES NOT EXIST, 09:00.0 vendor 5153")
  message(FATAL_ERROR "the CMake consumer printed: ${OUT}")
endif()

# pkg-config.
set(ENV{PKG_CONFIG_PATH} ${prefix}/${libdir}/pkgconfig)
run(pkg-config --cflags --libs qorb)
string(STRIP "${OUT}" flags)
separate_arguments(flags UNIX_COMMAND "${flags}")
run(pkg-config --variable=driverdir qorb)
string(STRIP "${OUT}" driverdir)
run(c++ -std=c++20 ${SOURCE_DIR}/consumer/consumer.cpp -o ${WORK_DIR}/consumer-pc ${flags} -DQORB_DRIVER_DIR="${driverdir}"
    -Wl,-rpath,${prefix}/${libdir})
run(${WORK_DIR}/consumer-pc)

# The Python package went into the interpreter's site-packages below the prefix.
file(GLOB_RECURSE module ${prefix}/lib/python3*/_qorb*.so)
if(PYTHON AND module)
  get_filename_component(site ${module} DIRECTORY)
  get_filename_component(site ${site} DIRECTORY)
  set(ENV{PYTHONPATH} ${site})
  run(${PYTHON} -c "import qorb\nwith qorb.open('sim') as p: print(p.find(slot='09:00.0').slot, qorb.driver_path('sim'))")
  if(NOT OUT MATCHES "^09:00.0 ${prefix}/")
    message(FATAL_ERROR "the installed Python package printed: ${OUT}")
  endif()
elseif(PYTHON)
  message(FATAL_ERROR "the Python package was not installed")
endif()

# The installed tool finds its driver and the example platform file.
run(${prefix}/bin/qorb --driver sim scan -s 09:00.0)
if(NOT OUT MATCHES "^09:00.0 1180: 5153:1050")
  message(FATAL_ERROR "the installed tool printed: ${OUT}")
endif()
run(${prefix}/bin/qorb check --no-link --no-inject)
message(STATUS "installed qorb works: ${OUT}")
