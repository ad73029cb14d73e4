# The version resources of facup.exe and Shttpd.exe and the tool's manifest, read back from the
# built programs (Windows target only).
if(CMAKE_CROSSCOMPILING)
  add_test(NAME windows_resources
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/integration/windows_resources.py
            ${PROJECT_VERSION} ${FACUP_FIRMWARE_IMAGE_FILE} $<TARGET_FILE:facup> $<TARGET_FILE:Shttpd>)
endif()
