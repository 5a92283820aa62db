# korvalen_debian_headers(TARGET FOLDER HEADER PACKAGE WHAT): TARGET, an interface library of the
# header-only library that Debian's PACKAGE installs as /usr/include/FOLDER (HEADER in it), used
# header-only whatever the build. A cross build must not see the host's /usr/include as a whole,
# so the headers are reached through a folder of their own, made at configure time, that holds a
# link to FOLDER and nothing else. WHAT names them where they are missing.
function(korvalen_debian_headers target folder header package what)
  find_path(${target}_headers ${folder}/${header} PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ${target}_headers)
    message(FATAL_ERROR "${what} (${folder}/${header}) were not found: install ${package} "
                        "(apt-get install ${package}), or run scripts/test.sh, which does.")
  endif()
  set(include ${CMAKE_BINARY_DIR}/third_party/${package})
  file(MAKE_DIRECTORY ${include})
  file(CREATE_LINK ${${target}_headers}/${folder} ${include}/${folder} SYMBOLIC COPY_ON_ERROR)
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE ${include})
endfunction()
