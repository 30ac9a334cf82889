# Windows test programs of the helper library, included by wintools/cross (mingw build).
set(GTEST_SOURCE_DIR /usr/src/googletest/googletest CACHE PATH "GoogleTest sources to cross-build")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

add_executable(wintools_updater ${CMAKE_CURRENT_LIST_DIR}/updater_helper.cpp)
target_link_libraries(wintools_updater PRIVATE wintools shell32)
target_compile_options(wintools_updater PRIVATE -Wall -Wextra -Werror)

add_executable(wintools_tests
  ${CMAKE_CURRENT_LIST_DIR}/testutil.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_install.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_update.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_shell.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_window.cpp
  ${CMAKE_CURRENT_LIST_DIR}/test_cnames.cpp
  ${CMAKE_CURRENT_LIST_DIR}/c_names.c)
target_include_directories(wintools_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(wintools_tests PRIVATE wintools gtest_main ole32 user32 gdi32 advapi32)
target_compile_options(wintools_tests PRIVATE -Wall -Wextra -Werror)
# The helper is run from the tests' folder.
add_dependencies(wintools_tests wintools_updater)

# Windows and GoogleTest headers parsed once for all test sources.
target_precompile_headers(wintools_tests PRIVATE
  "$<$<COMPILE_LANGUAGE:CXX>:windows.h>"
  "$<$<COMPILE_LANGUAGE:CXX>:gtest/gtest.h>"
  "$<$<COMPILE_LANGUAGE:CXX>:string>"
  "$<$<COMPILE_LANGUAGE:CXX>:vector>")

# Test code and GoogleTest need no optimisation; this halves the cross-build time.
target_compile_options(gtest PRIVATE -O0)
target_compile_options(gtest_main PRIVATE -O0)
target_compile_options(wintools_tests PRIVATE -O0)
target_compile_options(wintools_updater PRIVATE -O0)
