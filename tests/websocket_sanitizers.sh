#!/usr/bin/env bash
# The WebSocket client's tests under AddressSanitizer (with UndefinedBehaviorSanitizer) and
# ThreadSanitizer, each in a build tree of its own (build-asan, build-tsan) holding only this area's
# targets. Ends with "N passed, N failed" over both runs; exits non-zero when anything failed.
# Usage: tests/websocket_sanitizers.sh [address|thread]...
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
kinds=("$@")
[ ${#kinds[@]} -gt 0 ] || kinds=(address thread)
targets=(websocket_unit_tests websocket_raw_peer_tests websocket_ws_peer_tests websocket_netns_tests)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
# ThreadSanitizer cannot map its shadow memory under the widest address-space randomisation:
# run it without randomisation when the system allows that.
tsan_prefix=()
if setarch "$(uname -m)" -R true 2>/dev/null; then tsan_prefix=(setarch "$(uname -m)" -R); fi

passed=0
failed=0
for kind in "${kinds[@]}"; do
  tree=build-${kind/address/asan}
  tree=${tree/thread/tsan}
  log=$root/build-logs/websocket-$kind.log
  mkdir -p "$root/build-logs"
  if ! { cmake -S . -B "$tree" -DFACUP_SANITIZE="$kind" -DFACUP_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
         cmake --build "$tree" -j 2 --target "${targets[@]}"; } >"$log" 2>&1; then
    echo "websocket sanitizers: $kind build failed; see $log"
    failed=$((failed + 1))
    continue
  fi
  prefix=()
  [ "$kind" = thread ] && prefix=("${tsan_prefix[@]}")
  "${prefix[@]}" ctest --test-dir "$tree" -L websocket -j 2 --timeout 300 --output-on-failure >>"$log" 2>&1
  summary=$(grep -E '^[0-9]+% tests passed' "$log" | tail -n 1)
  echo "websocket sanitizers: $kind: ${summary:-no ctest summary, see $log}"
  total=$(sed -nE 's/.* out of ([0-9]+).*/\1/p' <<<"$summary")
  fails=$(sed -nE 's/.* ([0-9]+) tests? failed.*/\1/p' <<<"$summary")
  if [ -z "$total" ]; then failed=$((failed + 1)); continue; fi
  passed=$((passed + total - fails))
  failed=$((failed + fails))
  [ "$fails" -eq 0 ] || sed -n '/The following tests FAILED/,$p' "$log"
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
