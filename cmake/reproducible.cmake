# What makes the shipped files a function of the source commit alone, wherever and whenever they
# are built: one time for everything that carries a time, and no path of the building machine.
#
# The time, KORVALEN_SOURCE_DATE_EPOCH, in seconds since 1970: SOURCE_DATE_EPOCH when it is set
# (the reproducible-builds.org convention), else the time of the commit checked out, else, for a
# source that is no git checkout, a fixed date kept here.
set(fixed_epoch 1764547200)  # 2025-12-01 00:00:00 UTC
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(KORVALEN_SOURCE_DATE_EPOCH $ENV{SOURCE_DATE_EPOCH})
else()
  set(KORVALEN_SOURCE_DATE_EPOCH ${fixed_epoch})
  find_package(Git QUIET)
  if(Git_FOUND)
    set(git ${GIT_EXECUTABLE} -c safe.directory=${PROJECT_SOURCE_DIR} -C ${PROJECT_SOURCE_DIR})
    execute_process(COMMAND ${git} rev-parse --show-toplevel --absolute-git-dir
                    OUTPUT_VARIABLE git_dirs RESULT_VARIABLE git_status ERROR_QUIET
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    string(REPLACE "\n" ";" git_dirs "${git_dirs}")
    list(LENGTH git_dirs git_dir_count)
    if(git_status EQUAL 0 AND git_dir_count EQUAL 2)
      list(GET git_dirs 0 git_top)
      list(GET git_dirs 1 git_dir)
    endif()
    # Only this project's own checkout counts, not one that happens to hold its folder.
    if(git_top AND git_top STREQUAL PROJECT_SOURCE_DIR)
      execute_process(COMMAND ${git} log -1 --format=%ct OUTPUT_VARIABLE commit_time
                      RESULT_VARIABLE git_status ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(git_status EQUAL 0 AND commit_time MATCHES "^[0-9]+$")
        set(KORVALEN_SOURCE_DATE_EPOCH ${commit_time})
      endif()
      # A new commit or another checkout configures again, so that the time follows it.
      foreach(moved HEAD logs/HEAD)
        if(EXISTS ${git_dir}/${moved})
          set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${git_dir}/${moved})
        endif()
      endforeach()
    endif()
  endif()
endif()
if(NOT KORVALEN_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
  message(FATAL_ERROR "SOURCE_DATE_EPOCH must be whole seconds since 1970, not "
                      "'${KORVALEN_SOURCE_DATE_EPOCH}'")
endif()

if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  # No folder in the debug information, in __FILE__ or in the build ID that hashes them: the
  # source folder reads ".", the build folder "build" (the more specific, so it comes last).
  add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
                      -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)
  # The linker stamps a Windows program with the time it takes from SOURCE_DATE_EPOCH.
  set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env
                                SOURCE_DATE_EPOCH=${KORVALEN_SOURCE_DATE_EPOCH})
endif()

# The ZIP. CPack reads the project's config file as it starts: its entries take the same time,
# written in UTC whatever the builder's time zone, and directories get fixed permissions whatever
# the umask. A post-build script then drops the owner of the staged files, the builder.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Debian's own Python first: what it compresses with must not depend on the builder's PATH.
find_program(KORVALEN_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_program(KORVALEN_PYTHON NAMES python3 NO_CMAKE_FIND_ROOT_PATH)
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/CPackReproducible.cmake CONTENT
     "set(ENV{SOURCE_DATE_EPOCH} ${KORVALEN_SOURCE_DATE_EPOCH})
set(ENV{TZ} UTC0)
set(KORVALEN_PYTHON \"${KORVALEN_PYTHON}\")
")
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackReproducible.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/reproducible-zip.cmake)
