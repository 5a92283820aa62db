# korvalen_tomlplusplus: toml++'s headers, which read korvalen-prometheus's sensors file. They
# come from Debian's libtomlplusplus-dev and are used header-only (TOML_HEADER_ONLY=1), so that no
# library of Debian's is linked, and the cross builds reach them as they reach CLI11's: through a
# folder of their own, made at configure time, that holds a link to them and nothing else.
find_path(tomlplusplus_headers toml++/toml.h PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
if(NOT tomlplusplus_headers)
  message(FATAL_ERROR "toml++'s headers (toml++/toml.h) were not found: install "
                      "libtomlplusplus-dev (apt-get install libtomlplusplus-dev), or run "
                      "scripts/test.sh, which does.")
endif()
set(tomlplusplus_include ${CMAKE_BINARY_DIR}/third_party/tomlplusplus)
file(MAKE_DIRECTORY ${tomlplusplus_include})
file(CREATE_LINK ${tomlplusplus_headers}/toml++ ${tomlplusplus_include}/toml++ SYMBOLIC
     COPY_ON_ERROR)

add_library(korvalen_tomlplusplus INTERFACE)
target_include_directories(korvalen_tomlplusplus SYSTEM INTERFACE ${tomlplusplus_include})
# toml++ 3.3 takes GCC and Clang to lack std::from_chars for floating point, which libstdc++ has
# had since GCC 11, and reads each decimal through a std::istringstream instead: a locale set up
# per number, the most of what a sensors file costs to read.
target_compile_definitions(korvalen_tomlplusplus INTERFACE TOML_HEADER_ONLY=1 TOML_FLOAT_CHARCONV=1
                                                     TOML_ENABLE_FORMATTERS=0)
