# Run by CTest (see XvfbTests.cmake): lists the tests of xvfb_tests_executable and adds
# one test per name, "Suite.Name", that runs only that test through xvfb_tests_wrapper.
if(NOT EXISTS "${xvfb_tests_executable}")
  add_test("${xvfb_tests_executable}_NOT_BUILT" "${xvfb_tests_executable}_NOT_BUILT")
  return()
endif()
execute_process(COMMAND "${xvfb_tests_executable}" --gtest_list_tests
                OUTPUT_VARIABLE listing RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(WARNING "${xvfb_tests_executable} --gtest_list_tests failed: ${result}")
  return()
endif()
# Suite lines end with "." (typed suites add "  # TypeParam = ..."); test lines are
# indented by two blanks (parameterised ones add "  # GetParam() = ...").
string(REPLACE ";" "\\;" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(suite "")
foreach(line IN LISTS lines)
  if(line MATCHES "^([A-Za-z_][A-Za-z0-9_/]*\\.)")
    set(suite "${CMAKE_MATCH_1}")
  elseif(suite AND line MATCHES "^  ([A-Za-z_][A-Za-z0-9_/]*)")
    set(name "${suite}${CMAKE_MATCH_1}")
    add_test("${name}" "${xvfb_tests_wrapper}" "${xvfb_tests_executable}" "--gtest_filter=${name}")
  endif()
endforeach()
