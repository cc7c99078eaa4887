# Cross build for 32-bit Windows: the product. Programs run under wine32.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VOG_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-cross.cmake)
