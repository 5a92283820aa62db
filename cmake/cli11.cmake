# korvalen_cli11: CLI11's headers, which parse the companions' options (korvalen-sim's and
# korvalen-prometheus's). CLI11 is header-only and comes from Debian's libcli11-dev. A cross build
# must not see the host's /usr/include as a whole, so the headers are reached through a folder of
# their own, made at configure time, that holds a link to them and nothing else.
find_path(cli11_headers CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
if(NOT cli11_headers)
  message(FATAL_ERROR "CLI11's headers (CLI/CLI.hpp) were not found: install libcli11-dev "
                      "(apt-get install libcli11-dev), or run scripts/test.sh, which does.")
endif()
set(cli11_include ${CMAKE_BINARY_DIR}/third_party/cli11)
file(MAKE_DIRECTORY ${cli11_include})
file(CREATE_LINK ${cli11_headers}/CLI ${cli11_include}/CLI SYMBOLIC COPY_ON_ERROR)

add_library(korvalen_cli11 INTERFACE)
target_include_directories(korvalen_cli11 SYSTEM INTERFACE ${cli11_include})
