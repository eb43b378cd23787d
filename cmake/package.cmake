# CPack: `cpack` in a build directory makes the Debian package
# (lorebox_<version>_<arch>.deb: /usr/bin/lorebox and its manual page, its
# Depends worked out by dpkg-shlibdeps from the libraries the binary links),
# or, in a portable build, the tarball
# lorebox-<version>-linux-<arch>.tar.gz (bin/, lib/lorebox/, share/man/).
# `make package` builds both.

set(CPACK_PACKAGE_NAME lorebox)
set(CPACK_PACKAGE_VENDOR "lorebox")
set(LOREBOX_PACKAGE_CONTACT "lorebox maintainers <maintainers@users.noreply.c-seed-6cc7c52a.example>"
    CACHE STRING "Maintainer named in the Debian package")
set(CPACK_PACKAGE_CONTACT "${LOREBOX_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "pack local Claude Code and Codex sessions into a Hearthmark archive")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "lorebox packs the conversations that Claude Code and Codex keep on this\n"
  "machine into one ZIP archive for the Hearthmark web app. It keeps what was\n"
  "typed and what the assistant answered, leaves tool calls, tool output and\n"
  "file contents behind, and masks credentials before anything is written.")
set(CPACK_STRIP_FILES ON)

if(LOREBOX_PORTABLE)
  set(CPACK_GENERATOR TGZ)
  string(TOLOWER "${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}" LOREBOX_PLATFORM)
  set(CPACK_PACKAGE_FILE_NAME "lorebox-${PROJECT_VERSION}-${LOREBOX_PLATFORM}")
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
