# discover_tests_in_xvfb(TARGET WRAPPER): registers each GoogleTest test of TARGET as a
# CTest test of its own, run through WRAPPER (tests/with-xvfb.sh gives it a private X
# server). The tests are listed when CTest runs, as gtest_discover_tests' PRE_TEST mode
# does, but the wrapper is named here instead of through CROSSCOMPILING_EMULATOR, which
# CMake 3.29 (policy CMP0158) ignores on a native build.
set(_xvfb_tests_lister ${CMAKE_CURRENT_LIST_DIR}/xvfb_tests_list.cmake)

function(discover_tests_in_xvfb target wrapper)
  set(include_file ${CMAKE_CURRENT_BINARY_DIR}/${target}_xvfb_tests.cmake)
  file(GENERATE OUTPUT ${include_file} CONTENT
"set(xvfb_tests_executable [==[$<TARGET_FILE:${target}>]==])
set(xvfb_tests_wrapper [==[${wrapper}]==])
include([==[${_xvfb_tests_lister}]==])
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include_file})
endfunction()
