# Cross build for 64-bit Windows: the test vehicle on machines that cannot run
# 32-bit code (the same DLL, tests, tools and stand-in host, run under wine64).
# The product stays the 32-bit build.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VOG_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-cross.cmake)
