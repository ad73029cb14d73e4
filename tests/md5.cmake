facup_unit_test(md5_tests SOURCES unit/md5_test.cpp LIBS md5)

add_test(NAME md5_file_agrees_with_md5sum
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/integration/md5_oracle.py
          ${CMAKE_CURRENT_BINARY_DIR}/md5-oracle ${FACUP_RUN} $<TARGET_FILE:md5_file>)
