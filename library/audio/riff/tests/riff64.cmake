# Tests of the 64-bit RIFF (Wave64) family: a fixture step makes Wave64 files
# with ffmpeg and sox; the GoogleTest program reads them, writes and edits
# files of its own; a shell check then has ffprobe, ffmpeg, sox and a Python
# walk of the chunk layout judge what the program wrote.
set(riff64_tests_dir ${CMAKE_CURRENT_LIST_DIR})

vog_add_fixture(riff64_fixtures SCRIPT ${riff64_tests_dir}/riff64_fixtures.sh)

vog_add_gtest(riff64_tests
  SOURCES ${riff64_tests_dir}/riff64_test.cpp
  LIBS kvriff
  FIXTURES riff64_fixtures)
# The files the program writes are inputs of the shell check.
set_tests_properties(riff64_tests PROPERTIES FIXTURES_SETUP riff64_written)

vog_add_shell_test(riff64_check SCRIPT ${riff64_tests_dir}/riff64_check.sh
  FIXTURES "riff64_fixtures;riff64_written")
