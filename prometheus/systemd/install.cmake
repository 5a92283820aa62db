# Run by `cmake --install`: the service names the programs and the guide where they are
# installed, whatever --prefix says, and DESTDIR is where they are put.
set(source "@PROJECT_SOURCE_DIR@/prometheus/systemd")
set(BIN_DIR "${CMAKE_INSTALL_PREFIX}/@CMAKE_INSTALL_BINDIR@")
set(DOC_DIR "${CMAKE_INSTALL_PREFIX}/@CMAKE_INSTALL_DOCDIR@")
set(units "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
foreach(program korvalen-prometheus korvalen-mqtt)
  configure_file("${source}/${program}.service.in" "${units}/${program}.service" @ONLY)
  file(INSTALL "${source}/${program}.timer" DESTINATION "${units}")
  message(STATUS "Installing: ${units}/${program}.service")
endforeach()
