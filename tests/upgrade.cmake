# Whole upgrades of the simulated camera. The scenarios that end by the camera's silence use a test
# build of the tool with a shortened reply limit; the tool itself is never built that way.
add_executable(facup_short_limit support/facup_short_limit.cpp)
target_link_libraries(facup_short_limit PRIVATE driver_core firmware_resource)
facup_warnings(facup_short_limit)

foreach(link usb wifi)
  add_test(NAME e2e_upgrade_${link}
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/sandbox ${link} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/upgrade.sh
            ${FACUP_TARGET} $<TARGET_FILE:facup> $<TARGET_FILE:facup_short_limit>
            ${CMAKE_CURRENT_BINARY_DIR}/e2e-upgrade-${link} ${link} ${FACUP_FIRMWARE_IMAGE_FILE})
  set_tests_properties(e2e_upgrade_${link} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
endforeach()

if(CMAKE_CROSSCOMPILING)
  add_test(NAME e2e_success_box
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/sandbox usb ${CMAKE_CURRENT_SOURCE_DIR}/e2e/success_box.sh
            ${FACUP_TARGET} $<TARGET_FILE:facup> ${CMAKE_CURRENT_BINARY_DIR}/e2e-success-box
            ${CMAKE_SOURCE_DIR}/test-artifacts/${FACUP_TARGET})
  set_tests_properties(e2e_success_box PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
endif()

add_test(NAME e2e_faults
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/sandbox usb ${CMAKE_CURRENT_SOURCE_DIR}/e2e/faults.sh
          ${FACUP_TARGET} $<TARGET_FILE:facup> $<TARGET_FILE:facup_short_limit>
          ${CMAKE_CURRENT_BINARY_DIR}/e2e-faults)
set_tests_properties(e2e_faults PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
