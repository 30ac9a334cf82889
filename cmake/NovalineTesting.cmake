# novaline_add_test(<name> SOURCES <files...> [LIBS <targets...>] [GUI] [PRIVATE_BUS] [LABELS <labels...>]
#                   [TIMEOUT <s>] [ENV <VAR=value...>] [RESOURCE_LOCK <names...>])
#
# Builds a QtTest (or any) executable and registers it with ctest. Every test runs
# through tests/isolate.sh, which gives it a fresh HOME, XDG folders and TMPDIR, so no
# test touches the user's real settings, cache, desktop registrations or the
# single-instance segment of a running player.
# Tests without GUI get the label "nongui" (run again in the sanitizers build) and the
# offscreen platform; GUI tests get the label "gui" and use the X display of the run
# (tools/run-tests.sh starts Xvfb). PRIVATE_BUS runs the test on a D-Bus session bus of
# its own, for tests that own well-known names the other tests of the run must not see.
function(novaline_add_test name)
  cmake_parse_arguments(T "GUI;PRIVATE_BUS" "TIMEOUT" "SOURCES;LIBS;LABELS;ENV;RESOURCE_LOCK" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  novaline_defaults(${name})
  target_link_libraries(${name} PRIVATE Qt5::Test ${T_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  set(cmd $<TARGET_FILE:${name}>)
  if(T_PRIVATE_BUS)
    set(cmd dbus-run-session -- ${cmd})
  endif()
  novaline_register_test(${name} COMMAND ${cmd} ${ARGN})
  if(NOT T_GUI)
    set_property(GLOBAL APPEND PROPERTY NOVALINE_NONGUI_TESTS ${name})
  endif()
endfunction()

# novaline_register_test(<name> COMMAND <cmd...> [GUI] [LABELS ...] [TIMEOUT s] [ENV ...] [RESOURCE_LOCK ...])
# Registers any command (a script, a Python test) with the same isolation.
function(novaline_register_test name)
  cmake_parse_arguments(T "GUI;PRIVATE_BUS" "TIMEOUT" "COMMAND;SOURCES;LIBS;LABELS;ENV;RESOURCE_LOCK" ${ARGN})
  add_test(NAME ${name}
           COMMAND ${CMAKE_SOURCE_DIR}/tests/isolate.sh ${T_COMMAND}
           WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
  set(env
    "NOVALINE_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
    "NOVALINE_BINARY_DIR=${CMAKE_BINARY_DIR}"
    "NOVALINE_EXECUTABLE=${CMAKE_BINARY_DIR}/bin/novaline-iptv"
    "QT_ACCESSIBILITY=0"
    ${T_ENV})
  if(T_GUI)
    set(labels gui ${T_LABELS})
  else()
    set(labels nongui ${T_LABELS})
    list(APPEND env "QT_QPA_PLATFORM=offscreen")
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" TIMEOUT ${T_TIMEOUT} ENVIRONMENT "${env}")
  if(T_RESOURCE_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_RESOURCE_LOCK}")
  endif()
endfunction()
