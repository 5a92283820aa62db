# korvalen_tomlplusplus: toml++'s headers, which read korvalen-prometheus's sensors file, from
# Debian's libtomlplusplus-dev, used header-only (TOML_HEADER_ONLY=1), so that no library of
# Debian's is linked.
korvalen_debian_headers(korvalen_tomlplusplus toml++ toml.h libtomlplusplus-dev "toml++'s headers")
# toml++ 3.3 takes GCC and Clang to lack std::from_chars for floating point, which libstdc++ has
# had since GCC 11, and reads each decimal through a std::istringstream instead: a locale set up
# per number, the most of what a sensors file costs to read.
target_compile_definitions(korvalen_tomlplusplus INTERFACE TOML_HEADER_ONLY=1 TOML_FLOAT_CHARCONV=1
                                                     TOML_ENABLE_FORMATTERS=0)
