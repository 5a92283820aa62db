# Run by `cmake --install`: the service names the programs and the guide where they are
# installed, whatever --prefix says, and DESTDIR is where they are put.
set(source "@PROJECT_SOURCE_DIR@/prometheus/systemd")
set(BIN_DIR "${CMAKE_INSTALL_PREFIX}/@CMAKE_INSTALL_BINDIR@")
set(DOC_DIR "${CMAKE_INSTALL_PREFIX}/@CMAKE_INSTALL_DOCDIR@")
set(units "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/systemd/system")
configure_file("${source}/korvalen-prometheus.service.in" "${units}/korvalen-prometheus.service"
               @ONLY)
file(INSTALL "${source}/korvalen-prometheus.timer" DESTINATION "${units}")
message(STATUS "Installing: ${units}/korvalen-prometheus.service")
