# Tests that own the working root run with a private one: on Linux a fresh /var/lib in a mount (and
# network) namespace of their own, under Wine a prefix of their own, one test at a time.
set(FACUP_PRIVATE_ROOT ${CMAKE_CURRENT_SOURCE_DIR}/support/private_root)

function(facup_private_root_test name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LIBS")
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} test_support GTest::gtest_main)
  facup_warnings(${name})
  if(CMAKE_CROSSCOMPILING)
    set(_props ENVIRONMENT "FACUP_WINEPREFIX=${CMAKE_CURRENT_BINARY_DIR}/wine-${name}" RESOURCE_LOCK wine-${name})
  else()
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR ${FACUP_PRIVATE_ROOT})
    set(_props SKIP_RETURN_CODE 77)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 PROPERTIES ${_props})
endfunction()

add_library(recording_commands STATIC support/recording_commands.cpp)
target_include_directories(recording_commands PUBLIC support)
target_link_libraries(recording_commands PUBLIC workstation)

facup_private_root_test(workstation_tests SOURCES unit/workstation_test.cpp LIBS workstation recording_commands)
facup_private_root_test(driver_tests SOURCES unit/driver_test.cpp unit/eligibility_test.cpp unit/device_link_test.cpp
  unit/command_exchange_test.cpp unit/run_record_test.cpp unit/settings_test.cpp
  LIBS driver_core recording_commands)
# The recording nmcli of the end-to-end scenarios stands in for the real one in the Wi-Fi rejoin.
target_compile_definitions(driver_tests PRIVATE NMCLI_STANDIN_DIR="${CMAKE_CURRENT_SOURCE_DIR}/e2e/bin")

# The real tool, end to end, in a sandbox of its own.
add_test(NAME e2e_guard_and_working_directories
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/sandbox usb ${CMAKE_CURRENT_SOURCE_DIR}/e2e/workstation.sh
          ${FACUP_TARGET} $<TARGET_FILE:facup> ${CMAKE_CURRENT_BINARY_DIR}/e2e-workstation $<TARGET_FILE:Shttpd>)
set_tests_properties(e2e_guard_and_working_directories PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)

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

facup_unit_test(staging_tests SOURCES unit/staging_test.cpp LIBS workstation md5 firmware_resource)
target_compile_definitions(staging_tests PRIVATE FIRMWARE_IMAGE_FILE="${FACUP_FIRMWARE_IMAGE_FILE}")
