# Build and test helpers shared by every area.
#
# vog_add_gtest(NAME SOURCES src... [LIBS lib...] [FIXTURES fixture...] [LABELS label...])
#   One GoogleTest program, registered as one CTest test. In the win32 build it
#   runs under Wine through the cross-compiling emulator.
# vog_add_fixture(NAME SCRIPT script [ARGS ...])
#   A native shell step that makes test inputs (with ffmpeg and friends) into
#   ${VOG_FIXTURE_DIR} before the tests that name it run.
#
# tests/support holds what the tests share: the C++ headers (vog_testsupport:
# paths, file readers, the missing-tool rule), testlib.sh for the shell steps
# (found through VOG_SOURCE_DIR) and the Python modules (on PYTHONPATH).

set(GTEST_SRC_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT TARGET gtest)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${GTEST_SRC_DIR} ${CMAKE_BINARY_DIR}/_gtest EXCLUDE_FROM_ALL SYSTEM)
endif()

set(VOG_TESTSUPPORT_DIR ${CMAKE_SOURCE_DIR}/tests/support)

add_library(vog_testsupport INTERFACE)
target_include_directories(vog_testsupport INTERFACE ${VOG_TESTSUPPORT_DIR})
# The shared stand-ins (the file-IO manager) implement the plug-in interfaces.
target_link_libraries(vog_testsupport INTERFACE vog_interfaces)
target_compile_definitions(vog_testsupport INTERFACE
  VOG_SHARED_DIR="${VOG_SHARED_DIR}"
  VOG_FIXTURE_DIR="${VOG_FIXTURE_DIR}"
  VOG_BIN_DIR="${CMAKE_BINARY_DIR}/bin")

function(vog_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;FIXTURES;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} vog_testsupport gmock gtest_main)
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  if(T_FIXTURES)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${T_FIXTURES}")
  endif()
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()

function(vog_add_fixture name)
  cmake_parse_arguments(F "" "SCRIPT" "ARGS" ${ARGN})
  add_test(NAME ${name} COMMAND bash ${F_SCRIPT} ${VOG_FIXTURE_DIR} ${F_ARGS})
  # Steps that start Wine without a program of the build (making prefixes) take
  # the build's Wine architecture from VOG_WINE_ARCH.
  set_tests_properties(${name} PROPERTIES FIXTURES_SETUP ${name}
    ENVIRONMENT "VOG_WINE_ARCH=${VOG_WINE_ARCH};VOG_SOURCE_DIR=${CMAKE_SOURCE_DIR};PYTHONPATH=${VOG_TESTSUPPORT_DIR};VOG_FIXTURE_STEP=1")
endfunction()

# A native (Linux) shell check run by CTest, e.g. a comparison with ffprobe.
# It sees the build in its environment: VOG_WIN32 (ON in both Windows builds),
# VOG_WIN64 (ON in the 64-bit one) and VOG_OBJDUMP (the build's objdump).
# Exit status 77 reports it skipped (testlib.sh's require_tool, without CI).
function(vog_add_shell_test name)
  cmake_parse_arguments(S "" "SCRIPT" "ARGS;FIXTURES;DEPENDS" ${ARGN})
  add_test(NAME ${name} COMMAND bash ${S_SCRIPT} ${S_ARGS})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "VOG_BIN_DIR=${CMAKE_BINARY_DIR}/bin;VOG_FIXTURE_DIR=${VOG_FIXTURE_DIR};VOG_SHARED_DIR=${VOG_SHARED_DIR};VOG_SOURCE_DIR=${CMAKE_SOURCE_DIR};VOG_WIN32=${VOG_WIN32};VOG_WIN64=${VOG_WIN64};VOG_OBJDUMP=${CMAKE_OBJDUMP};VOG_WINE_ARCH=${VOG_WINE_ARCH};PYTHONPATH=${VOG_TESTSUPPORT_DIR}")
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
  if(S_FIXTURES)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED "${S_FIXTURES}")
  endif()
endfunction()

# The plug-in DLL is made of the areas' static libraries. An area that belongs
# to the DLL calls vog_dll_part(target [EXPORTS file.def]); the export file holds
# plain ".def" lines (no LIBRARY/EXPORTS header) naming that area's exports.
function(vog_dll_part target)
  cmake_parse_arguments(P "" "EXPORTS" "" ${ARGN})
  set_property(GLOBAL APPEND PROPERTY VOG_DLL_PARTS ${target})
  if(P_EXPORTS)
    get_filename_component(def "${P_EXPORTS}" ABSOLUTE)
    set_property(GLOBAL APPEND PROPERTY VOG_DLL_EXPORTS ${def})
  endif()
endfunction()

# vog_use_openmp(target): the target's parallel loops run on OpenMP; whoever
# links it links the runtime. In the Windows builds mingw's libgomp is linked
# statically (with its winpthread) by the -static of every Windows link, like
# the other compiler runtimes, so the DLL still imports only Windows system
# DLLs (the export test checks the list). No -Wl,-Bdynamic may follow: it
# would turn the runtimes linked after it dynamic.
# Natively the compiler's own runtime is used (libgomp, or libomp with clang);
# without one the loops run serially.
function(vog_use_openmp target)
  if(VOG_WIN32)
    target_compile_options(${target} PUBLIC -fopenmp)
    target_link_options(${target} INTERFACE -fopenmp)
  else()
    find_package(OpenMP COMPONENTS CXX)
    if(OpenMP_CXX_FOUND)
      target_link_libraries(${target} PUBLIC OpenMP::OpenMP_CXX)
    endif()
  endif()
endfunction()
