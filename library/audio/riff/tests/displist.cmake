# Tests of display lists: RIFF and 64-bit RIFF round trips, stream records,
# hostile sizes, and bitmaps of DIB items compared with the pixels of BMP
# files that Python writes at test time.
set(displist_tests_dir ${CMAKE_CURRENT_LIST_DIR})

vog_add_fixture(displist_fixtures SCRIPT ${displist_tests_dir}/displist_fixtures.sh)

vog_add_gtest(displist_tests
  SOURCES ${displist_tests_dir}/displist_test.cpp
  LIBS kvriff ole32 gdi32 user32
  FIXTURES displist_fixtures)
# The media files the program wrote are inputs of the shell check.
set_tests_properties(displist_tests PROPERTIES FIXTURES_SETUP displist_written)
vog_add_shell_test(displist_check SCRIPT ${displist_tests_dir}/displist_check.sh
  FIXTURES "displist_fixtures;displist_written")
