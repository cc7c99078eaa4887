# Tests of the wave-file header functions: fixtures from sox, ffmpeg and
# Python; the files these functions write are checked by ffmpeg and sox
# afterwards.
set(wavfile_tests ${CMAKE_CURRENT_LIST_DIR})
vog_add_fixture(wavfile_fixtures SCRIPT ${wavfile_tests}/wavfile_fixtures.sh)
vog_add_gtest(kvwavfile_tests SOURCES ${wavfile_tests}/wavfile_test.cpp ${wavfile_tests}/wavfile_damage_test.cpp LIBS kvriff FIXTURES wavfile_fixtures)
set_tests_properties(kvwavfile_tests PROPERTIES FIXTURES_SETUP wavfile_written)
vog_add_shell_test(kvwavfile_check SCRIPT ${wavfile_tests}/wavfile_check.sh FIXTURES "wavfile_fixtures;wavfile_written")

# The exports of the DLL, by the names in the export lists.
vog_add_gtest(kvwavfile_dll_tests SOURCES ${wavfile_tests}/wavfile_dll_test.cpp)
target_compile_definitions(kvwavfile_dll_tests PRIVATE KVRIFF_SOURCE_DIR="${wavfile_tests}/..")
add_dependencies(kvwavfile_dll_tests vogaac2)
