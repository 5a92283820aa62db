# korvalen_mosquitto: libmosquitto, through which korvalen-mqtt speaks MQTT. On Linux it is
# Debian's libmosquitto-dev, linked dynamically (Debian ships no static one), with its TLS. For
# Windows it is built here from Debian's own source package at the one version that
# scripts/fetch-mosquitto.sh names and checks, fetched at configure time into the build folder,
# with the mingw toolchain, statically, without TLS or threads (KORVALEN_MQTT_TLS says which).
add_library(korvalen_mosquitto INTERFACE)
if(NOT KORVALEN_PLATFORM STREQUAL "windows")
  find_path(mosquitto_include mosquitto.h)
  find_library(mosquitto_library mosquitto)
  if(NOT mosquitto_include OR NOT mosquitto_library)
    message(FATAL_ERROR "libmosquitto was not found: install libmosquitto-dev (apt-get install "
                        "libmosquitto-dev), or run scripts/test.sh, which does.")
  endif()
  target_link_libraries(korvalen_mosquitto INTERFACE ${mosquitto_library})
  target_compile_definitions(korvalen_mosquitto INTERFACE KORVALEN_MQTT_TLS=1)
  return()
endif()

set(mosquitto_source ${CMAKE_BINARY_DIR}/third_party/mosquitto)
if(NOT EXISTS ${mosquitto_source}/lib/mosquitto.c)
  execute_process(COMMAND sh ${PROJECT_SOURCE_DIR}/scripts/fetch-mosquitto.sh ${mosquitto_source}
                  RESULT_VARIABLE fetched)
  if(NOT fetched EQUAL 0)
    message(FATAL_ERROR "Debian's source of mosquitto could not be fetched (above): the Windows "
                        "builds compile libmosquitto from it.")
  endif()
endif()
enable_language(C)
file(STRINGS ${mosquitto_source}/CMakeLists.txt mosquitto_version REGEX "^set \\(VERSION ")
string(REGEX MATCH "[0-9.]+" mosquitto_version "${mosquitto_version}")
set(mosquitto_sources
    actions callbacks connect handle_auth handle_connack handle_disconnect handle_ping
    handle_pubackcomp handle_publish handle_pubrec handle_pubrel handle_suback handle_unsuback
    helpers logging_mosq loop memory_mosq messages_mosq misc_mosq mosquitto net_mosq_ocsp net_mosq
    options packet_datatypes packet_mosq property_mosq read_handle send_connect send_disconnect
    send_mosq send_publish send_subscribe send_unsubscribe socks_mosq srv_mosq strings_mosq
    thread_mosq time_mosq tls_mosq utf8_mosq util_mosq util_topic will_mosq)
list(TRANSFORM mosquitto_sources PREPEND ${mosquitto_source}/lib/)
list(TRANSFORM mosquitto_sources APPEND .c)
add_library(korvalen_mosquitto_static STATIC ${mosquitto_sources})
target_compile_definitions(korvalen_mosquitto_static PRIVATE CMAKE VERSION="${mosquitto_version}"
                           PUBLIC LIBMOSQUITTO_STATIC)
target_include_directories(korvalen_mosquitto_static PRIVATE ${mosquitto_source}
                           ${mosquitto_source}/lib ${mosquitto_source}/deps
                           SYSTEM PUBLIC ${mosquitto_source}/include)
target_link_libraries(korvalen_mosquitto_static PUBLIC ws2_32)
set_target_properties(korvalen_mosquitto_static PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
target_link_libraries(korvalen_mosquitto INTERFACE korvalen_mosquitto_static)
