# Installation layout, relative to the prefix (/usr in the Debian package):
#
#   lib/varkel/varkel                          the program
#   lib/varkel/bzip2-102-x86-win32.exe         the compression tool, beside it
#                                              (installed by CompressionTool.cmake)
#   bin/varkel -> ../lib/varkel/varkel         the command on PATH
#   share/man/man1/varkel.1.gz                 the manual page
#   share/doc/varkel/                          user guide, example jobs
#   share/vim/vimfiles/{ftdetect,syntax}/      syntax colouring for job scripts
#   share/bash-completion/completions/varkel   completion of options, archives
#                                              and the members of an archive
#
# The program looks for the compression tool beside its own real file (read
# through /proc/self/exe), so the link on PATH may point anywhere and PATH
# never holds the tool's odd name.

if(NOT TARGET varkel)
  return()
endif()

install(TARGETS varkel RUNTIME DESTINATION lib/varkel)

# The relative link is made in the build tree and installed as a link:
# file(INSTALL) copies a symbolic link as a link, so it works for
# `cmake --install --prefix`, for DESTDIR and for the package alike.
set(VARKEL_BIN_LINK_DIR ${CMAKE_BINARY_DIR}/install-bin)
file(MAKE_DIRECTORY ${VARKEL_BIN_LINK_DIR})
file(CREATE_LINK ../lib/varkel/varkel ${VARKEL_BIN_LINK_DIR}/varkel SYMBOLIC)
install(FILES ${VARKEL_BIN_LINK_DIR}/varkel DESTINATION bin)

# Manual page, compressed as Debian ships them (-n: no name or time stamp, so
# the same source gives the same bytes).
set(VARKEL_MAN_SOURCE ${CMAKE_SOURCE_DIR}/man/varkel.1)
set(VARKEL_MAN_GZ ${CMAKE_BINARY_DIR}/man/varkel.1.gz)
add_custom_command(
  OUTPUT ${VARKEL_MAN_GZ}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
  COMMAND sh -c "gzip -9 -n -c \"$1\" > \"$2\"" sh ${VARKEL_MAN_SOURCE} ${VARKEL_MAN_GZ}
  DEPENDS ${VARKEL_MAN_SOURCE}
  COMMENT "Compressing the manual page"
  VERBATIM)
add_custom_target(varkel_manual ALL DEPENDS ${VARKEL_MAN_GZ})
install(FILES ${VARKEL_MAN_GZ} DESTINATION share/man/man1)

install(FILES ${CMAKE_SOURCE_DIR}/docs/job-language.md
  DESTINATION share/doc/varkel)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples DESTINATION share/doc/varkel
  PATTERN .gitignore EXCLUDE)

install(FILES ${CMAKE_SOURCE_DIR}/editor/vim/ftdetect/varkel.vim
  DESTINATION share/vim/vimfiles/ftdetect)
install(FILES ${CMAKE_SOURCE_DIR}/editor/vim/syntax/vkjob.vim
  DESTINATION share/vim/vimfiles/syntax)

install(FILES ${CMAKE_SOURCE_DIR}/editor/bash-completion/varkel
  DESTINATION share/bash-completion/completions)
