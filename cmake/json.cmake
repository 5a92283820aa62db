# korvalen_json: nlohmann's JSON for Modern C++, through which korvalen-mqtt builds every config
# it publishes and reads every config the broker keeps, so that no text reaches one unescaped.
# Header-only, from Debian's nlohmann-json3-dev, reached by the cross builds as CLI11 is: through
# a folder of their own, made at configure time, that holds a link to the headers alone.
find_path(json_headers nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH)
if(NOT json_headers)
  message(FATAL_ERROR "nlohmann's JSON headers (nlohmann/json.hpp) were not found: install "
                      "nlohmann-json3-dev (apt-get install nlohmann-json3-dev), or run "
                      "scripts/test.sh, which does.")
endif()
set(json_include ${CMAKE_BINARY_DIR}/third_party/json)
file(MAKE_DIRECTORY ${json_include})
file(CREATE_LINK ${json_headers}/nlohmann ${json_include}/nlohmann SYMBOLIC COPY_ON_ERROR)

add_library(korvalen_json INTERFACE)
target_include_directories(korvalen_json SYSTEM INTERFACE ${json_include})
