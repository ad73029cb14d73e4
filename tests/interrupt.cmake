# Runs stopped from outside (a signal, a console event) at each stage of a whole upgrade.
add_test(NAME e2e_interrupt
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/sandbox usb ${CMAKE_CURRENT_SOURCE_DIR}/e2e/interrupt.sh
          ${FACUP_TARGET} $<TARGET_FILE:facup> ${CMAKE_CURRENT_BINARY_DIR}/e2e-interrupt)
set_tests_properties(e2e_interrupt PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
