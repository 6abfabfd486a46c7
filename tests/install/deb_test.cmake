# Builds the Debian packages with cpack, unpacks them into a scratch root
# with dpkg -x, and runs what they installed from there: the tool, a C++
# program built against libqorb-dev's CMake package, and the Python package
# with its pytest plugin.
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DPYTHON=... -P deb_test.cmake
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(root ${WORK_DIR}/root)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err WORKING_DIRECTORY ${WORK_DIR})
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(OUT "${out}" PARENT_SCOPE)
endfunction()

run(cpack -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR}/packages)
set(names qorb libqorb-dev)
if(PYTHON)
  list(APPEND names python3-qorb)
endif()
foreach(name ${names})
  file(GLOB deb ${WORK_DIR}/packages/${name}_*.deb)
  if(NOT deb)
    message(FATAL_ERROR "no package ${name}")
  endif()
  run(dpkg -x ${deb} ${root})
endforeach()

find_program(HELP2MAN help2man)
if(HELP2MAN AND NOT EXISTS ${root}/usr/share/man/man1/qorb.1)
  message(FATAL_ERROR "the package qorb holds no man page")
endif()
run(${root}/usr/bin/qorb scan -s 09:00.0)
if(NOT OUT MATCHES "^09:00.0 1180: 5153:1050")
  message(FATAL_ERROR "the packaged tool printed: ${OUT}")
endif()

# The example finds the driver beside the packaged library, whatever the current directory.
run(${root}/usr/libexec/qorb/examples/qorb_report)
if(NOT OUT MATCHES "^OpenQORBEx ${root}/usr/lib[^ ]*/libqorbsim.so: QORB :: SUCCESS\n")
  message(FATAL_ERROR "the packaged example printed: ${OUT}")
endif()

run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/consumer -B ${WORK_DIR}/consumer -DCMAKE_PREFIX_PATH=${root}/usr)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run(${WORK_DIR}/consumer/consumer)

if(PYTHON)
  file(GLOB_RECURSE module ${root}/usr/lib/python3/dist-packages/qorb/_qorb*.so)
  set(ENV{PYTHONPATH} ${root}/usr/lib/python3/dist-packages)
  run(${PYTHON} -c "import qorb\nwith qorb.open('sim') as p: print(len(p.scan()), qorb.driver_path('sim'))")
  if(NOT module OR NOT OUT MATCHES "^19 ${root}/usr/lib")
    message(FATAL_ERROR "the packaged Python package printed: ${OUT}")
  endif()
  # The plugin is announced through the pytest11 entry point.
  run(${PYTHON} -m pytest -p no:cacheprovider --help)
  if(NOT OUT MATCHES "--qorb-platform=FILE")
    message(FATAL_ERROR "pytest did not load the packaged plugin")
  endif()
endif()
message(STATUS "the packages work from ${root}")
