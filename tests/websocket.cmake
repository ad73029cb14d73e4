# WebSocket client: unit tests without a network, scripted raw peers on loopback, the ws package's
# server (a Node.js peer on an ephemeral loopback port, started once per ctest run as a fixture),
# and the unresolvable host inside a network namespace that has only loopback. Every test carries
# the label "websocket"; scripts/sanitize runs them under ASan and TSan.
add_library(ws_test_support STATIC support/ws_test_support.cpp)
target_link_libraries(ws_test_support PUBLIC websocket test_support)
facup_warnings(ws_test_support)

# websocket_test(<name> <source> [<test properties>...]): a GoogleTest program of this area whose
# cases ctest runs one by one (under Wine for the Windows build), labelled "websocket".
function(websocket_test name source)
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE ws_test_support GTest::gtest_main)
  facup_warnings(${name})
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
    PROPERTIES LABELS websocket ${ARGN})
endfunction()

websocket_test(websocket_unit_tests unit/websocket_unit_test.cpp)
websocket_test(websocket_raw_peer_tests integration/websocket_raw_peer_test.cpp)

# The ws peer: one per ctest run of this build tree, its port in a file named by WS_PEER_PORT_FILE.
set(_ws_peer_dir ${CMAKE_CURRENT_BINARY_DIR}/ws-peer)
set(_ws_peer_tool ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/integration/ws_peer_fixture.py)
add_test(NAME websocket_peer_start COMMAND ${_ws_peer_tool} start ${_ws_peer_dir}
         ${CMAKE_SOURCE_DIR}/tools/ws_peer/peer.js)
add_test(NAME websocket_peer_stop COMMAND ${_ws_peer_tool} stop ${_ws_peer_dir})
set_tests_properties(websocket_peer_start PROPERTIES FIXTURES_SETUP ws_peer LABELS websocket)
set_tests_properties(websocket_peer_stop PROPERTIES FIXTURES_CLEANUP ws_peer LABELS websocket)

websocket_test(websocket_ws_peer_tests integration/websocket_ws_peer_test.cpp
  FIXTURES_REQUIRED ws_peer ENVIRONMENT WS_PEER_PORT_FILE=${_ws_peer_dir}/port)

# A name that cannot be resolved, inside a network namespace with only loopback: the lookup fails
# without any query leaving the machine. The Windows build gets a Wine prefix of its own there.
add_executable(websocket_netns_tests integration/websocket_netns_test.cpp)
target_link_libraries(websocket_netns_tests PRIVATE ws_test_support GTest::gtest_main)
facup_warnings(websocket_netns_tests)
if(FACUP_TARGET STREQUAL "windows")
  set(_netns_env FACUP_WINEPREFIX=${CMAKE_CURRENT_BINARY_DIR}/wine-netns)
endif()
add_test(NAME websocket_unresolvable_host
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/isolated env WS_ISOLATED_NETNS=1 ${_netns_env}
          ${CMAKE_CURRENT_SOURCE_DIR}/integration/ws_netns_run.sh ${FACUP_RUN} $<TARGET_FILE:websocket_netns_tests>)
set_tests_properties(websocket_unresolvable_host PROPERTIES SKIP_RETURN_CODE 77 LABELS websocket)
