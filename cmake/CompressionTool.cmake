# Places the compression tool beside the program, under the name the program
# runs it by, in the build directory and in the installation.
set(VARKEL_COMPRESSION_TOOL_NAME "bzip2-102-x86-win32.exe")
set(VARKEL_COMPRESSION_TOOL_SOURCE ${CMAKE_SOURCE_DIR}/tools/bzip2-tool.sh)
set(VARKEL_COMPRESSION_TOOL ${CMAKE_BINARY_DIR}/${VARKEL_COMPRESSION_TOOL_NAME})

# Copied at build time, and made executable whatever mode the checkout gave it.
add_custom_command(
  OUTPUT ${VARKEL_COMPRESSION_TOOL}
  COMMAND ${CMAKE_COMMAND} -E copy ${VARKEL_COMPRESSION_TOOL_SOURCE} ${VARKEL_COMPRESSION_TOOL}
  COMMAND chmod 0755 ${VARKEL_COMPRESSION_TOOL}
  DEPENDS ${VARKEL_COMPRESSION_TOOL_SOURCE}
  COMMENT "Placing the compression tool beside the program"
  VERBATIM)
add_custom_target(compression_tool ALL DEPENDS ${VARKEL_COMPRESSION_TOOL})

install(PROGRAMS ${VARKEL_COMPRESSION_TOOL_SOURCE}
  DESTINATION lib/varkel
  RENAME ${VARKEL_COMPRESSION_TOOL_NAME})

# The unit tests run the real tool from the build directory, so building them
# alone must place it too. Their target exists only once the whole top-level
# listing has been read.
function(varkel_tests_need_compression_tool)
  if(TARGET varkel_tests)
    add_dependencies(varkel_tests compression_tool)
  endif()
endfunction()
cmake_language(DEFER CALL varkel_tests_need_compression_tool)
