# Windows, i686: the toolchain of the windows-x86 preset.
set(MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
