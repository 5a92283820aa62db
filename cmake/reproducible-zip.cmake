# A CPack post-build script: makes each package that CPack has just built, before its checksum is
# taken, independent of who built it (reproducible-zip.py). PYTHON comes from the configure step.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT KORVALEN_PYTHON)
    message(FATAL_ERROR "python3 is needed to make ${package} reproducible: install python3")
  endif()
  execute_process(COMMAND ${KORVALEN_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/reproducible-zip.py
                          ${package} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "reproducible-zip.py failed on ${package}")
  endif()
endforeach()
