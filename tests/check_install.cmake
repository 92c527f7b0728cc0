# Installs the build into a scratch prefix and checks what a user gets: the
# program, the report's resources under share/demo2html/res, the man page
# (compressed), the README with the documents it links to, the copyright
# file and the changelog (compressed).
# Then runs the installed program alone, far from the build.
#
#   cmake -DBUILD=... -DPREFIX=... -DCONFIGURED_PREFIX=... -DRES_DIR=...
#         -DBINDIR=... -DMANDIR=... -DDOCDIR=... -DEXE_NAME=... -DDEMO=...
#         -P check_install.cmake

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
expect_file("${PREFIX}/${MANDIR}/man1/demo2html.1.gz")
foreach(doc README.md CONTRIBUTING.md copyright changelog.gz docs/install.md docs/windows.md)
  expect_file("${PREFIX}/${DOCDIR}/${doc}")
endforeach()
expect_file("${res}/pretty.css")
foreach(icon IN LISTS icons)
  expect_file("${res}/${icon}.png")
endforeach()
file(GLOB shipped RELATIVE "${res}" "${res}/*")
list(LENGTH shipped count)
if(NOT count EQUAL 19)
  fail("${res} holds ${count} files, not the stylesheet and 18 icons: ${shipped}")
endif()

# The program alone, copied into an empty folder, writes complete reports:
# the res/ it puts beside the report is the installed one, file for file.
set(run "${PREFIX}/alone")
file(MAKE_DIRECTORY "${run}")
file(COPY "${DEMO}" "${program}" DESTINATION "${run}")
get_filename_component(demo_name "${DEMO}" NAME)
execute_process(COMMAND "${run}/${EXE_NAME}" "${demo_name}" report.htm WORKING_DIRECTORY "${run}"
  RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE err INPUT_FILE ${no_input})
if(NOT status EQUAL 0)
  fail("the program alone failed (status ${status}):\n${err}")
endif()
foreach(file IN LISTS shipped)
  execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${res}/${file}" "${run}/res/${file}"
    RESULT_VARIABLE differs)
  if(NOT differs EQUAL 0)
    fail("res/${file} beside the report is not the installed one")
  endif()
endforeach()
