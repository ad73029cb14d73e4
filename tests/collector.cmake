# Run records delivered to a ClickHouse collector, and the station's metrics file.
add_test(NAME e2e_collector
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/sandbox usb ${CMAKE_CURRENT_SOURCE_DIR}/e2e/collector.sh
          ${FACUP_TARGET} $<TARGET_FILE:facup> ${CMAKE_CURRENT_BINARY_DIR}/e2e-collector)
set_tests_properties(e2e_collector PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
if(NOT CMAKE_CROSSCOMPILING)
  # The alerting rules the station guide offers for the metrics files: well formed, and each firing
  # and staying quiet where it should.
  add_test(NAME collector_alert_rules
    COMMAND sh -c "promtool check rules \"$1\" && promtool test rules \"$2\"" sh
            ${CMAKE_SOURCE_DIR}/collector/alerts.yml ${CMAKE_CURRENT_SOURCE_DIR}/unit/alert_rules_test.yml)
endif()
