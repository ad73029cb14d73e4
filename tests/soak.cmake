# A short soak; scripts/soak runs the long one.
if(CMAKE_CROSSCOMPILING)
  set(_soak_runs 3)
else()
  set(_soak_runs 10)
endif()
add_test(NAME e2e_soak
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/sandbox usb ${CMAKE_CURRENT_SOURCE_DIR}/e2e/soak.sh
          ${FACUP_TARGET} $<TARGET_FILE:facup> ${CMAKE_CURRENT_BINARY_DIR}/e2e-soak ${_soak_runs})
set_tests_properties(e2e_soak PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900)
