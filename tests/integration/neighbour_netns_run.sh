#!/usr/bin/env bash
# neighbour_netns_run.sh <linux|windows> <scratch dir> <program>...: runs inside tests/e2e/sandbox
# (usb link). Fills the PC's neighbour table with the camera's row (a connection it refuses) and an
# unanswered row (an address of the link nobody holds), then runs the test program with the camera
# interface's address in NEIGHBOUR_PEER_ADDRESS; a Windows program runs under Wine with a prefix of
# its own, started here so that its services read this namespace's table.
set -uo pipefail
target=$1 scratch=$2
shift 2
rm -rf "$scratch" && mkdir -p "$scratch"
peer=$(ip -n "$E2E_CAM" -br link show type veth | awk '{ print $3 }')
curl -s -o /dev/null --max-time 5 http://192.168.88.1:1/
curl -s -o /dev/null --connect-timeout 1 http://192.168.88.77:1/
if [ "$target" = windows ]; then
  export FACUP_WINEPREFIX=$scratch/prefix
fi
NEIGHBOUR_PEER_ADDRESS=$peer "$@"
rc=$?
if [ "$target" = windows ]; then
  "$(dirname "$0")/../support/wine_prefix_end" "$FACUP_WINEPREFIX" $rc
fi
[ $rc -ne 0 ] || rm -rf "$scratch"
exit $rc
