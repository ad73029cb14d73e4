# Shttpd: the request core and file sending (GoogleTest), the carried array, and the real program
# against curl, wget and raw sockets on 127.0.0.1 (one ctest test per group, each with its own
# servers on free ports).
facup_unit_test(file_server_tests SOURCES unit/file_server_test.cpp LIBS file_server)
facup_unit_test(utility_asset_tests SOURCES unit/utility_asset_test.cpp LIBS utility_asset)
target_compile_definitions(utility_asset_tests PRIVATE SHTTPD_FILE="$<TARGET_FILE:Shttpd>")

foreach(group clients raw concurrency idle usage kill reports)
  add_test(NAME file_server_${group}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/integration/file_server_test.py ${group}
            ${CMAKE_CURRENT_BINARY_DIR}/file-server-${group} ${FACUP_FIRMWARE_IMAGE_FILE} ${FACUP_TARGET}
            -- ${FACUP_RUN} $<TARGET_FILE:Shttpd>)
  set_tests_properties(file_server_${group} PROPERTIES TIMEOUT 300)
endforeach()
