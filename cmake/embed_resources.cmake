# Turns the files of res/ into byte arrays that the program carries, so that
# it can write them beside a report wherever it lands.
#
#   cmake -DSOURCE_DIR=<res folder> -DNAMES=<file names, ;-separated>
#         -DOUTPUT=<generated .cpp> -P embed_resources.cmake

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

set(text "// Made from res/ by cmake/embed_resources.cmake at build time.
#include \"resources.h\"

#include <array>

namespace resources {
namespace {

${arrays}
const std::array<file, ${index}> table = {{
${entries}}};

} // namespace

std::span<const file> built_in() { return table; }

} // namespace resources
")
# Written only when it changes, so an unchanged res/ rebuilds nothing.
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT "${text}" @ONLY)
