# The driver: its stages, the device link, the eligibility policy, the command exchange, the
# confirmation, the run record, the delivery, the metrics file, the UTC calendar and the settings,
# one test file each, with replaced stages and a private working root (the fakes and fixtures they
# share are in support/); then the link discovery and the start-up warning of the real tool, end
# to end.
facup_private_root_test(driver_tests
  SOURCES unit/driver_test.cpp unit/eligibility_test.cpp unit/device_link_test.cpp unit/command_exchange_test.cpp
          unit/confirm_test.cpp unit/run_record_test.cpp unit/delivery_test.cpp unit/metrics_file_test.cpp
          unit/utc_time_test.cpp unit/settings_test.cpp unit/interrupt_test.cpp
          support/exchange_fakes.cpp support/whole_run.cpp
  LIBS driver_core recording_commands http_peer)
# The recording nmcli of the end-to-end scenarios stands in for the real one in the Wi-Fi rejoin.
target_compile_definitions(driver_tests PRIVATE NMCLI_STANDIN_DIR="${CMAKE_CURRENT_SOURCE_DIR}/e2e/bin")

add_test(NAME e2e_startup_warning
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/sandbox usb ${CMAKE_CURRENT_SOURCE_DIR}/e2e/interactive.sh
          ${FACUP_TARGET} $<TARGET_FILE:facup> ${CMAKE_CURRENT_BINARY_DIR}/e2e-interactive
          ${CMAKE_SOURCE_DIR}/test-artifacts/${FACUP_TARGET})
set_tests_properties(e2e_startup_warning PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)

foreach(link usb wifi both none)
  add_test(NAME e2e_link_${link}
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/sandbox ${link} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/link.sh
            ${FACUP_TARGET} $<TARGET_FILE:facup> ${CMAKE_CURRENT_BINARY_DIR}/e2e-link-${link} ${link})
  set_tests_properties(e2e_link_${link} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
endforeach()
