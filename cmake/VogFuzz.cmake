# Fuzz targets and the replay of their corpora.
#
# vog_add_fuzzer(NAME SOURCES src... [LIBS lib...] [INCLUDES dir...] CORPUS dir)
#   One LLVMFuzzerTestOneInput target over untrusted bytes, with a committed
#   corpus (made by our own writers, hand-made seeds and the findings of the
#   runs). In the native-fuzz build (clang) it is a libFuzzer program and the
#   CTest test <NAME>_corpus replays the corpus with it under address,
#   undefined and bounds sanitizers that halt on the first error; in the
#   native build a small driver replays the same corpus under that build's
#   sanitizers. The Windows builds have none. Every replay test carries the
#   label "fuzz".

# Every sanitizer stops the replay at its first report, leaks included.
set(VOG_FUZZ_SANITIZER_ENV
  "ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:allocator_may_return_null=1"
  "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1")

function(vog_add_fuzzer name)
  cmake_parse_arguments(F "" "CORPUS" "SOURCES;LIBS;INCLUDES" ${ARGN})
  if(VOG_WIN32)
    return()
  endif()
  get_filename_component(corpus "${F_CORPUS}" ABSOLUTE)
  if(VOG_FUZZ)
    add_executable(${name} ${F_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    # -runs=0: every corpus file once, nothing new.
    add_test(NAME ${name}_corpus COMMAND ${name} -runs=0 -rss_limit_mb=2048 ${corpus})
    set(exe ${name})
  else()
    set(exe ${name}_replay)
    add_executable(${exe} ${F_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/fuzz/replay_main.cpp)
    add_test(NAME ${name}_corpus COMMAND ${exe} ${corpus})
  endif()
  target_link_libraries(${exe} PRIVATE ${F_LIBS})
  if(F_INCLUDES)
    target_include_directories(${exe} PRIVATE ${F_INCLUDES})
  endif()
  set_property(GLOBAL APPEND PROPERTY VOG_FUZZ_TARGETS ${exe})
  set_tests_properties(${name}_corpus PROPERTIES LABELS fuzz ENVIRONMENT "${VOG_FUZZ_SANITIZER_ENV}")
endfunction()

# The program target of every fuzzer (vog_fuzz_targets builds them all), made
# after every area has added its own.
function(vog_fuzz_finish)
  get_property(targets GLOBAL PROPERTY VOG_FUZZ_TARGETS)
  if(targets)
    add_custom_target(vog_fuzz_targets DEPENDS ${targets})
  endif()
endfunction()
