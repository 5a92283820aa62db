# Windows, x86_64: the toolchain of the windows-x64 preset.
set(MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
