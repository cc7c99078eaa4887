# Tests of the riff_ family: fixtures from ffmpeg, sox and Python, the
# GoogleTest program (run under Wine; it also writes edited files), then
# ffmpeg/sox/Python checks of those files and of the DLL's exports.
vog_add_fixture(riff_fixtures SCRIPT ${CMAKE_CURRENT_LIST_DIR}/riff_make_fixtures.sh)
vog_add_gtest(kvriff_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/riff_test.cpp
  LIBS kvriff
  FIXTURES riff_fixtures)
set_tests_properties(kvriff_tests PROPERTIES FIXTURES_SETUP riff_edited)
vog_add_shell_test(kvriff_edited_files SCRIPT ${CMAKE_CURRENT_LIST_DIR}/riff_check_outputs.sh
  FIXTURES riff_fixtures riff_edited)
