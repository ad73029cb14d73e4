facup_unit_test(platform_tests SOURCES unit/platform_test.cpp LIBS platform)
target_compile_definitions(platform_tests PRIVATE SPEW_PROGRAM="$<TARGET_FILE:spew>")
add_dependencies(platform_tests spew)
