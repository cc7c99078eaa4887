# The library's system services (Win32 only; included by this folder's
# CMakeLists): a static library of its own in the DLL, with its export list.
add_library(kvbasesys STATIC
  kvsysfmt.cpp
  kverror.cpp
  kverror_tables.cpp
  kvmsgbox.cpp
  kvlog.cpp
  kvreg.cpp
  kvmetric.cpp
  kvpath.cpp
  kvres.cpp
  kvhelp.cpp
)
target_include_directories(kvbasesys PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(kvbasesys PUBLIC kvbase kvui oleaut32 ole32 advapi32 user32 gdi32 shell32 version comctl32)
vog_dll_part(kvbasesys EXPORTS ${CMAKE_CURRENT_SOURCE_DIR}/kvbasesys_exports.def)



vog_add_gtest(kvbasesys_error_tests SOURCES tests/kverror_test.cpp LIBS kvbasesys
  FIXTURES kvbase_string_tables)
add_dependencies(kvbasesys_error_tests vogaac2 vogaac2_lng)

vog_add_gtest(kvbasesys_msgbox_tests SOURCES tests/kvmsgbox_test.cpp LIBS kvbasesys)

# The custom box on a display: this test alone runs under xvfb-run.
add_executable(kvbasesys_msgbox_ui_tests tests/kvmsgbox_ui_test.cpp tests/kvmsgbox_ui_test.rc)
target_link_libraries(kvbasesys_msgbox_ui_tests PRIVATE kvbasesys comctl32 vog_testsupport gmock gtest_main)
add_test(NAME kvbasesys_msgbox_ui_tests
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/run_ui_test.sh ${CMAKE_SOURCE_DIR}/scripts/wine-run
    ${CMAKE_BINARY_DIR}/wineprefix-ui-msgbox $<TARGET_FILE:kvbasesys_msgbox_ui_tests> --gtest_color=no)
set_tests_properties(kvbasesys_msgbox_ui_tests PROPERTIES WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin LABELS ui)
add_dependencies(kvbasesys_msgbox_ui_tests vogaac2)

# The log file: results here, the written files checked with a Python regex.
vog_add_gtest(kvbasesys_log_tests SOURCES tests/kvlog_test.cpp LIBS kvbasesys)
set_tests_properties(kvbasesys_log_tests PROPERTIES FIXTURES_SETUP kvbasesys_log_files)
vog_add_shell_test(kvbasesys_log_format SCRIPT ${CMAKE_CURRENT_SOURCE_DIR}/tests/check_clog.sh
  FIXTURES kvbasesys_log_files)

# Registry helpers and GUID text (against Python's uuid).
vog_add_fixture(kvbasesys_guids SCRIPT ${CMAKE_CURRENT_SOURCE_DIR}/tests/make_guids.sh)
vog_add_gtest(kvbasesys_reg_tests SOURCES tests/kvreg_test.cpp LIBS kvbasesys FIXTURES kvbasesys_guids)

# Registry settings, read back by `wine reg query`.
vog_add_gtest(kvbasesys_metric_tests SOURCES tests/kvmetric_test.cpp LIBS kvbasesys)
set_tests_properties(kvbasesys_metric_tests PROPERTIES FIXTURES_SETUP kvbasesys_metrics_written)
vog_add_shell_test(kvbasesys_metrics_reg_query SCRIPT ${CMAKE_CURRENT_SOURCE_DIR}/tests/check_metrics.sh
  FIXTURES kvbasesys_metrics_written)

# Paths and files: DOS date/time vs zipfile, PE machine vs pefile, folder size
# vs a Python walk (fixture made after the build, from its binaries).
vog_add_fixture(kvbasesys_path_files SCRIPT ${CMAKE_CURRENT_SOURCE_DIR}/tests/make_path_fixtures.sh
  ARGS ${CMAKE_BINARY_DIR}/bin)
vog_add_gtest(kvbasesys_path_tests SOURCES tests/kvpath_test.cpp LIBS kvbasesys FIXTURES kvbasesys_path_files)
add_dependencies(kvbasesys_path_tests vogaac2)

# Resource loading: a windres-built menu in the test program, and a satellite
# "kvbasesys_res_tests.LNG" beside it that holds a German menu only.
vog_add_gtest(kvbasesys_res_tests SOURCES tests/kvres_test.cpp tests/kvres_test.rc LIBS kvbasesys)
add_library(kvbasesys_res_tests_lng MODULE tests/kvres_test_lng.rc)
set_target_properties(kvbasesys_res_tests_lng PROPERTIES
  PREFIX "" OUTPUT_NAME kvbasesys_res_tests SUFFIX ".LNG" LINKER_LANGUAGE C
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
target_link_options(kvbasesys_res_tests_lng PRIVATE -nostdlib -Wl,--entry=0)
set_property(TARGET kvbasesys_res_tests_lng PROPERTY C_STANDARD_LIBRARIES "")
add_dependencies(kvbasesys_res_tests kvbasesys_res_tests_lng)

# Help paths, with files made beside vogaac2.dll.
vog_add_gtest(kvbasesys_help_tests SOURCES tests/kvhelp_test.cpp LIBS kvbasesys)
add_dependencies(kvbasesys_help_tests vogaac2)
set_tests_properties(kvbasesys_help_tests PROPERTIES RUN_SERIAL ON)

# Every public function of the system services' headers is exported.
vog_add_shell_test(kvbasesys_exports SCRIPT ${CMAKE_CURRENT_SOURCE_DIR}/tests/check_sys_exports.sh)

# Self-registration: a module whose version resource offers it (and whose
# entry points answer distinct results) and one whose does not.
add_library(kvbasesys_selfreg_yes MODULE tests/selfreg_module.c tests/selfreg_yes.rc)
add_library(kvbasesys_selfreg_no MODULE tests/selfreg_module.c tests/selfreg_no.rc)
foreach(t kvbasesys_selfreg_yes kvbasesys_selfreg_no)
  set_target_properties(${t} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
  target_link_options(${t} PRIVATE -Wl,--kill-at)
  add_dependencies(kvbasesys_reg_tests ${t})
endforeach()
