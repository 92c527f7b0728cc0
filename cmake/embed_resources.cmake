# Turns the files of res/ into byte arrays that the program carries, so that
# it can write them beside a report wherever it lands.
#
#   cmake -DSOURCE_DIR=<res folder> -DNAMES=<file names, ;-separated>
#         -DOUTPUT=<generated .cpp> [-DNAMESPACE=<namespace> -DFUNCTION=<name>
#         -DHEADER=<header>] -P embed_resources.cmake
#
# The arrays are given by resources::built_in() of resources.h, or by the
# function of that name in that namespace, declared in that header: the
# view's page carries its script and stylesheet the same way.

if(NOT DEFINED NAMESPACE)
  set(NAMESPACE resources)
  set(FUNCTION built_in)
  set(HEADER resources.h)
endif()
get_filename_component(source_folder "${SOURCE_DIR}" NAME)
set(arrays "")
set(entries "")
set(index 0)
foreach(name IN LISTS NAMES)
  file(READ "${SOURCE_DIR}/${name}" hex HEX)
  # Sixteen bytes a line, each written as 0xNN.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)"
                       "\\1\n    " hex "${hex}")
  string(APPEND arrays "constexpr unsigned char file_${index}[] = {\n    ${hex}\n};\n")
  string(APPEND entries "    {\"${name}\", file_${index}},\n")
  math(EXPR index "${index} + 1")
endforeach()

set(text "// Made from ${source_folder}/ by cmake/embed_resources.cmake at build time.
#include \"${HEADER}\"

#include <array>

namespace ${NAMESPACE} {
namespace {

${arrays}
const std::array<resources::file, ${index}> table = {{
${entries}}};

} // namespace

std::span<const resources::file> ${FUNCTION}() { return table; }

} // namespace ${NAMESPACE}
")
# Written only when it changes, so an unchanged res/ rebuilds nothing.
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT "${text}" @ONLY)
