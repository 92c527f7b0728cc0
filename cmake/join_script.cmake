# Joins the view page's script from its parts, in the order given, and
# writes beside it the base64 of its SHA-256 digest, by which the page's
# Content-Security-Policy lets that script, and no other, run.
#
#   cmake -DPARTS=<script parts, ;-separated, in order> -DSTYLESHEET=<view.css>
#         -DOUTPUT_DIR=<folder> -P join_script.cmake
#
# Writes OUTPUT_DIR/view.js, OUTPUT_DIR/view.js.sha256 and a copy of the
# stylesheet, OUTPUT_DIR/view.css, each only when it changes. The digest is
# taken over exactly the bytes of view.js, which the page carries between
# its script tags, so it is the same on every system.

set(script "")
foreach(part IN LISTS PARTS)
  file(READ "${part}" text)
  string(APPEND script "${text}")
endforeach()
file(CONFIGURE OUTPUT "${OUTPUT_DIR}/view.js" CONTENT "${script}" @ONLY)
file(READ "${STYLESHEET}" stylesheet)
file(CONFIGURE OUTPUT "${OUTPUT_DIR}/view.css" CONTENT "${stylesheet}" @ONLY)

# The digest's 32 bytes in base64: ten groups of three bytes, four digits
# each, then the last two bytes as three digits and "=".
string(SHA256 hex "${script}")
set(digits "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
set(base64 "")
foreach(at RANGE 0 60 6)
  string(SUBSTRING "${hex}" ${at} 6 group)
  set(shifts 18 12 6 0)
  if(at EQUAL 60)
    set(group "${group}00")
    set(shifts 18 12 6)
  endif()
  math(EXPR value "0x${group}")
  foreach(shift IN LISTS shifts)
    math(EXPR digit "(${value} >> ${shift}) & 63")
    string(SUBSTRING "${digits}" ${digit} 1 character)
    string(APPEND base64 "${character}")
  endforeach()
endforeach()
file(CONFIGURE OUTPUT "${OUTPUT_DIR}/view.js.sha256" CONTENT "${base64}=" @ONLY)
