# The version resources of facup.exe and Shttpd.exe and the tool's manifest, read back from the
# built programs, and a signed build (Windows target only).
if(CMAKE_CROSSCOMPILING)
  add_test(NAME windows_resources
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/integration/windows_resources.py
            ${PROJECT_VERSION} ${FACUP_FIRMWARE_IMAGE_FILE} $<TARGET_FILE:facup> $<TARGET_FILE:Shttpd>)

  # A build signed with a throwaway certificate authority (made in the scratch directory), verified,
  # and run against the simulated camera.
  add_test(NAME e2e_signed_build
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/e2e/sandbox usb ${CMAKE_CURRENT_SOURCE_DIR}/e2e/signed.sh ${CMAKE_SOURCE_DIR}
            ${CMAKE_CURRENT_BINARY_DIR}/e2e-signed ${FACUP_FIRMWARE_IMAGE_FILE} ${PROJECT_VERSION})
  set_tests_properties(e2e_signed_build PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900)
endif()
