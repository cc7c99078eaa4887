# The library's system services (Win32 only; included by this folder's
# CMakeLists): a static library of its own in the DLL, with its export list.
add_library(kvbasesys STATIC
  kvsysfmt.cpp
  kverror.cpp
  kverror_tables.cpp
  kvmsgbox.cpp
)
target_include_directories(kvbasesys PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(kvbasesys PUBLIC kvbase kvui oleaut32 ole32 advapi32 user32 gdi32 shell32 version)
vog_dll_part(kvbasesys EXPORTS ${CMAKE_CURRENT_SOURCE_DIR}/kvbasesys_exports.def)



vog_add_gtest(kvbasesys_error_tests SOURCES tests/kverror_test.cpp LIBS kvbasesys
  FIXTURES kvbase_string_tables)
add_dependencies(kvbasesys_error_tests vogaac2 vogaac2_lng)
