# Tests of the installed program and its documentation:
# - packaging/install: `cmake --install` into a staging prefix, the layout
#   there, and a compressed round trip through <prefix>/bin/varkel run from
#   another directory;
# - packaging/manual: the manual page is free of groff warnings and renders;
# - packaging/guide: every example of docs/job-language.md and the README's
#   tour, run as written with the installed varkel, prints exactly what the
#   document shows.
# The two that install share the build directory's install manifest, so they
# never run at the same time.

if(TARGET varkel)
  set(VARKEL_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})

  add_test(NAME packaging/install
    COMMAND bash ${VARKEL_PACKAGING_DIR}/install_test.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  add_test(NAME packaging/manual
    COMMAND bash ${VARKEL_PACKAGING_DIR}/manual_test.sh ${CMAKE_SOURCE_DIR}/man/varkel.1)
  add_test(NAME packaging/guide
    COMMAND bash ${VARKEL_PACKAGING_DIR}/guide_test.sh ${CMAKE_BINARY_DIR}
      ${CMAKE_SOURCE_DIR}/docs/job-language.md ${CMAKE_SOURCE_DIR}/README.md)

  # A guard against a hung run, not a measure of speed.
  set_tests_properties(packaging/install packaging/manual packaging/guide
    PROPERTIES LABELS packaging TIMEOUT 900)
  set_tests_properties(packaging/install packaging/guide
    PROPERTIES RESOURCE_LOCK varkel_install_manifest)
  set_tests_properties(packaging/manual PROPERTIES SKIP_RETURN_CODE 77)
endif()
