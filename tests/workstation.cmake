# The workstation: command runners and clean-up, the guard and the working directories, staging
# and the file server's launch, with a private working root; then the guard and the working
# directories of the real tool, end to end.
facup_private_root_test(workstation_tests SOURCES unit/workstation_test.cpp LIBS workstation recording_commands)

# A foreign program that the scenario plants as the kept file server.
add_executable(leave_marker support/leave_marker.cpp)
target_link_options(leave_marker PRIVATE -s)
facup_warnings(leave_marker)
add_test(NAME e2e_guard_and_working_directories
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/sandbox usb ${CMAKE_CURRENT_SOURCE_DIR}/e2e/workstation.sh
          ${FACUP_TARGET} $<TARGET_FILE:facup> ${CMAKE_CURRENT_BINARY_DIR}/e2e-workstation $<TARGET_FILE:Shttpd>
          $<TARGET_FILE:leave_marker>)
set_tests_properties(e2e_guard_and_working_directories PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)

facup_unit_test(staging_tests SOURCES unit/staging_test.cpp LIBS workstation md5 firmware_resource)
target_compile_definitions(staging_tests PRIVATE FIRMWARE_IMAGE_FILE="${FACUP_FIRMWARE_IMAGE_FILE}")
