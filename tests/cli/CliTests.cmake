# Golden-output cases of the command line: one ctest test per directory
# tests/cli/cases/<group>/<case>/, run by run_case.sh against the real program.
# Groups are named after the keyword or the course of the command line they
# exercise. See run_case.sh for what a case directory holds.

if(TARGET varkel)
  set(VARKEL_CLI_DIR ${CMAKE_CURRENT_LIST_DIR})
  file(GLOB VARKEL_CLI_CASES CONFIGURE_DEPENDS LIST_DIRECTORIES true
    ${VARKEL_CLI_DIR}/cases/*/*)
  list(SORT VARKEL_CLI_CASES)
  foreach(case_dir IN LISTS VARKEL_CLI_CASES)
    if(NOT IS_DIRECTORY ${case_dir})
      continue()
    endif()
    file(RELATIVE_PATH case_name ${VARKEL_CLI_DIR}/cases ${case_dir})
    add_test(NAME cli/${case_name}
      COMMAND bash ${VARKEL_CLI_DIR}/run_case.sh
        $<TARGET_FILE:varkel> ${case_dir} $<TARGET_FILE_DIR:varkel>)
    # A guard against a hung run, not a measure of speed.
    set_tests_properties(cli/${case_name} PROPERTIES LABELS cli TIMEOUT 900)
  endforeach()
endif()
