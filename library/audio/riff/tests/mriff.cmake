# Tests of the mriff_ family: the GoogleTest program (run under Wine; it
# reads the RIFF fixtures and writes wave images), then ffprobe/sox/Python
# checks of those images and of the DLL's exports.
vog_add_gtest(kvmriff_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/mriff_test.cpp
  LIBS kvriff
  FIXTURES riff_fixtures)
set_tests_properties(kvmriff_tests PROPERTIES FIXTURES_SETUP mriff_written)
vog_add_shell_test(kvmriff_written_files SCRIPT ${CMAKE_CURRENT_LIST_DIR}/riff_check_mriff.sh
  FIXTURES riff_fixtures mriff_written)
