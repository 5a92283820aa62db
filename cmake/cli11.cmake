# korvalen_cli11: CLI11's headers, which parse the companions' options (korvalen-sim's and
# korvalen-prometheus's), from Debian's libcli11-dev.
korvalen_debian_headers(korvalen_cli11 CLI CLI.hpp libcli11-dev "CLI11's headers")
