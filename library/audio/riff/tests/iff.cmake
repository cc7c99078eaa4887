# Tests of the IFF/AIFF family: fixtures from sox, ffmpeg and Python's aifc;
# the files this family writes are checked by ffmpeg and sox afterwards.
set(iff_tests ${CMAKE_CURRENT_LIST_DIR})
vog_add_fixture(iff_fixtures SCRIPT ${iff_tests}/iff_fixtures.sh)
vog_add_gtest(kviff_tests SOURCES ${iff_tests}/iff_test.cpp LIBS kvriff FIXTURES iff_fixtures)
set_tests_properties(kviff_tests PROPERTIES FIXTURES_SETUP iff_written)
vog_add_shell_test(kviff_check SCRIPT ${iff_tests}/iff_check.sh FIXTURES "iff_fixtures;iff_written")
