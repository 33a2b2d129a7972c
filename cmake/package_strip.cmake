# Run by cpack (CPACK_PRE_BUILD_SCRIPTS, see cmake/packaging.cmake) on the
# staged files before the package is made: strips every installed program the
# way Debian's dh_strip strips an executable, symbols and the .comment and
# .note sections alike.
if(NOT CPACK_VT_STRIP)
  message(FATAL_ERROR "package_strip: no strip program (CMAKE_STRIP is empty)")
endif()
file(GLOB_RECURSE programs LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*/bin/*")
if(NOT programs)
  message(FATAL_ERROR "package_strip: no program under ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
foreach(program IN LISTS programs)
  execute_process(
    COMMAND "${CPACK_VT_STRIP}" --remove-section=.comment --remove-section=.note "${program}"
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "package_strip: ${CPACK_VT_STRIP} failed on ${program}")
  endif()
endforeach()
