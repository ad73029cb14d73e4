facup_unit_test(platform_tests SOURCES unit/platform_test.cpp LIBS platform)
target_compile_definitions(platform_tests PRIVATE SPEW_PROGRAM="$<TARGET_FILE:spew>")
add_dependencies(platform_tests spew)

# The neighbour table of a real link: the camera's namespace as the peer of a veth pair
# (e2e/sandbox), its interface address read back; under Wine with a prefix of that namespace.
add_executable(neighbour_netns_tests integration/neighbour_netns_test.cpp)
target_link_libraries(neighbour_netns_tests PRIVATE platform GTest::gtest_main)
facup_warnings(neighbour_netns_tests)
add_test(NAME platform_neighbour_link
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/sandbox usb ${CMAKE_CURRENT_SOURCE_DIR}/integration/neighbour_netns_run.sh
          ${FACUP_TARGET} ${CMAKE_CURRENT_BINARY_DIR}/neighbour-netns ${FACUP_RUN} $<TARGET_FILE:neighbour_netns_tests>)
set_tests_properties(platform_neighbour_link PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 180)
