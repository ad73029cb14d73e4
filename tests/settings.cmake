# The station's settings file, end to end, beside a copy of the real tool.
add_test(NAME e2e_settings
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/sandbox usb ${CMAKE_CURRENT_SOURCE_DIR}/e2e/settings.sh
          ${FACUP_TARGET} $<TARGET_FILE:facup> ${CMAKE_CURRENT_BINARY_DIR}/e2e-settings
          ${CMAKE_SOURCE_DIR}/test-artifacts/${FACUP_TARGET})
set_tests_properties(e2e_settings PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
