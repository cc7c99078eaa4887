# The cross build for Windows with mingw-w64 (posix thread model, so that
# std::mutex exists for the test framework), shared by both Windows toolchains;
# they set VOG_MINGW_TRIPLET and CMAKE_SYSTEM_PROCESSOR. Programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VOG_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VOG_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VOG_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VOG_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
