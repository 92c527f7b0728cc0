# Installs the build into a scratch prefix and checks what a user gets: the
# program, the report's resources in the folder the program's note names
# (taken relative to the configured prefix), and the man page. Then runs the
# installed program: without res/ beside the report it names that folder;
# with the installed res/ copied beside the report it says nothing more.
#
#   cmake -DBUILD=... -DPREFIX=... -DCONFIGURED_PREFIX=... -DRES_DIR=...
#         -DBINDIR=... -DMANDIR=... -DEXE_NAME=... -DDEMO=... -P check_install.cmake

if(CMAKE_HOST_WIN32)
  set(no_input NUL)
else()
  set(no_input /dev/null)
endif()
set(icons SLT SRT SDN SUP CLT CRT CDN CUP R L LT RT DN UP S Z B A)

function(fail text)
  message(FATAL_ERROR "install_layout: ${text}")
endfunction()

function(expect_file path)
  if(NOT EXISTS "${path}" OR IS_DIRECTORY "${path}")
    fail("${path} was not installed")
  endif()
endfunction()

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  fail("cmake --install failed (${status}):\n${out}${err}")
endif()

file(RELATIVE_PATH res_below_prefix "${CONFIGURED_PREFIX}" "${RES_DIR}")
set(res "${PREFIX}/${res_below_prefix}")
set(program "${PREFIX}/${BINDIR}/${EXE_NAME}")
expect_file("${program}")
expect_file("${PREFIX}/${MANDIR}/man1/demo2html.1")
expect_file("${res}/pretty.css")
foreach(icon IN LISTS icons)
  expect_file("${res}/${icon}.png")
endforeach()
file(GLOB shipped RELATIVE "${res}" "${res}/*")
list(LENGTH shipped count)
if(NOT count EQUAL 19)
  fail("${res} holds ${count} files, not the stylesheet and 18 icons: ${shipped}")
endif()

set(run "${PREFIX}/run")
file(MAKE_DIRECTORY "${run}")
file(COPY "${DEMO}" DESTINATION "${run}")
get_filename_component(demo_name "${DEMO}" NAME)

execute_process(COMMAND "${program}" "${demo_name}" report.htm WORKING_DIRECTORY "${run}"
  RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE err INPUT_FILE ${no_input})
string(FIND "${err}" "copy the res folder from ${RES_DIR} beside the report" at)
if(NOT status EQUAL 0 OR at EQUAL -1)
  fail("without res/ the note should name ${RES_DIR} (status ${status}):\n${err}")
endif()

file(COPY "${res}" DESTINATION "${run}")
execute_process(COMMAND "${program}" "${demo_name}" report.htm WORKING_DIRECTORY "${run}"
  RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE err INPUT_FILE ${no_input})
if(NOT status EQUAL 0 OR NOT err STREQUAL "")
  fail("with the installed res/ beside the report nothing should be said (status ${status}):\n${err}")
endif()
