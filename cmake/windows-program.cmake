# The shipped Windows program: a console program with its version resource, stripped. With
# mingw-w64 the C++ runtime and libgcc are linked in, and the C runtime is the system's
# msvcrt.dll, so it imports nothing but KERNEL32.dll and msvcrt.dll.
enable_language(RC)
configure_file(${PROJECT_SOURCE_DIR}/src/app/korvalen-snapshot.rc.in
               ${PROJECT_BINARY_DIR}/korvalen-snapshot.rc @ONLY)
target_sources(korvalen-snapshot PRIVATE ${PROJECT_BINARY_DIR}/korvalen-snapshot.rc)
target_link_options(korvalen-snapshot PRIVATE "$<$<CXX_COMPILER_ID:GNU,Clang>:-s;-mconsole>")
