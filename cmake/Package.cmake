# The Debian package, built by `cpack -G DEB` in a configured build directory
# (scripts/package.sh does that and checks the result). It holds everything
# that Install.cmake installs, under /usr.

# The package version follows the program's own version text, " 0.60 beta":
# blanks trimmed, the blank before a pre-release word made a tilde, so that
# 0.60~beta sorts before a later 0.60.
set(VARKEL_VERSION_SOURCE ${CMAKE_SOURCE_DIR}/src/app/front_end.cpp)
set(VARKEL_PACKAGE_VERSION ${PROJECT_VERSION})
if(EXISTS ${VARKEL_VERSION_SOURCE})
  file(STRINGS ${VARKEL_VERSION_SOURCE} version_line
    REGEX "std::string ver = \"[^\"]*\"" LIMIT_COUNT 1)
  if(version_line MATCHES "ver = \"([^\"]*)\"")
    string(STRIP "${CMAKE_MATCH_1}" version_text)
    string(REGEX REPLACE "[ ]+" "~" VARKEL_PACKAGE_VERSION "${version_text}")
  endif()
endif()
# A change of the version text reconfigures, so the package name follows it.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VARKEL_VERSION_SOURCE})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varkel)
set(CPACK_PACKAGE_VERSION ${VARKEL_PACKAGE_VERSION})
set(CPACK_PACKAGE_VENDOR "Varkel developers")
set(CPACK_PACKAGE_CONTACT "Varkel developers <varkel-dev@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console file archiver driven by job scripts")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_NAME varkel)
set(CPACK_DEBIAN_PACKAGE_VERSION ${VARKEL_PACKAGE_VERSION})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The compression tool beside the program runs lbzip2, or bzip2 without it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "lbzip2 | bzip2")
# The C and C++ run-time libraries are added from the program's own links.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "vim")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The summary above is the first line of the Description field; this is the
# rest of it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"Varkel gathers many files into one archive file and recreates them from
it. The work is written as a small job script: add a file or a whole
directory tree, set the input and output directories, sort by size, pack,
unpack, and optionally compress the whole archive with bzip2.
.
The package holds the varkel command, its manual page, a guide to the job
language with example jobs, and syntax colouring of job scripts for vim.")

include(CPack)
