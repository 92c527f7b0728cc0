# The packages a user downloads, made by CPack from the install rules:
#
#   cmake --build build --target package
#
# makes, on Linux, demo2html_<version>_amd64.deb (installs under /usr) and
# demo2html-<version>-Linux.tar.gz (one folder demo2html-<version>-Linux/
# with bin/, share/demo2html/res/, share/man/man1/ and share/doc/demo2html/,
# to unpack under a prefix such as /usr/local); in the Windows cross-build,
# demo2html-<version>-win64.zip (one folder with demo2html.exe, res\ and
# README.txt). The version is that of project(), as `--version` prints it.

set(CPACK_PACKAGE_NAME demo2html)
set(CPACK_PACKAGE_VENDOR "demo2html")
set(CPACK_PACKAGE_CONTACT "demo2html maintainers <demo2html@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "turn a recorded game demo into an HTML report")
# The longer description, in lines of at most 72 characters as Debian's
# control file wants them.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "demo2html reads a recorded game demo, a binary file of the game's"
  "settings and of every controller's stick and button input, and writes"
  "one HTML report of it: the game's summary, then each command block as a"
  "table with one row per row of the block and one cell per controller."
  "The program carries the report's stylesheet and icons and writes them"
  "into res/ beside each report, so a report opens complete wherever it"
  "lands.")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB TGZ)
  # The .deb installs under /usr, as Debian packages do; the .tar.gz keeps
  # the tree below the prefix, to unpack wherever the user likes.
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  # dpkg-shlibdeps (package dpkg-dev) computes Depends from the libraries
  # the program links.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/packaging_per_generator.cmake)
endif()

include(CPack)
