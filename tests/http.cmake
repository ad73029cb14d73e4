# HTTP client and TLS adapter: unit tests against scripted loopback peers (both targets), and
# downloads from real servers (python3 -m http.server, nginx, openssl s_server) in a network
# namespace of their own.
facup_unit_test(http_tests
  SOURCES unit/http_request_test.cpp unit/http_response_test.cpp unit/http_transport_test.cpp
  LIBS http platform http_peer)

# Real servers, in a network namespace of their own. The Windows build runs there in a Wine prefix
# of its own (a wineserver serves the namespace it was started in).
add_test(NAME http_real_servers
  COMMAND ${CMAKE_SOURCE_DIR}/tests/support/isolated ${Python3_EXECUTABLE}
          ${CMAKE_CURRENT_SOURCE_DIR}/integration/http_real_servers.py
          ${CMAKE_CURRENT_BINARY_DIR}/http-real-servers ${FACUP_TARGET}
          $<TARGET_FILE:http_fetch> $<TARGET_FILE:trust_root> ${CMAKE_CURRENT_BINARY_DIR}/http-wine-prefix
          ${FACUP_RUN})
set_tests_properties(http_real_servers PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
