# The shipped Windows program: a console program with its version resource, stripped, and with
# the runtime linked in so that it needs nothing but KERNEL32.dll and msvcrt.dll.
enable_language(RC)
configure_file(${PROJECT_SOURCE_DIR}/src/app/korvalen-snapshot.rc.in
               ${PROJECT_BINARY_DIR}/korvalen-snapshot.rc @ONLY)
target_sources(korvalen-snapshot PRIVATE ${PROJECT_BINARY_DIR}/korvalen-snapshot.rc)
target_link_options(korvalen-snapshot PRIVATE -static -s -mconsole)
