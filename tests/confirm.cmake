# The confirmation of the new version after the camera's restart, beside a copy of the real tool.
add_test(NAME e2e_confirm
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/sandbox usb ${CMAKE_CURRENT_SOURCE_DIR}/e2e/confirm.sh
          ${FACUP_TARGET} $<TARGET_FILE:facup> ${CMAKE_CURRENT_BINARY_DIR}/e2e-confirm)
set_tests_properties(e2e_confirm PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
