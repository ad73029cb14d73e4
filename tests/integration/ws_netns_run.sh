#!/bin/sh
# Runs a test program inside the namespace that tests/support/isolated made; a Windows program runs
# under Wine with the prefix named by FACUP_WINEPREFIX, whose wineserver is ended afterwards so that
# nothing outlives the namespace, and which goes when the test passed.
"$@"
rc=$?
if [ -n "${FACUP_WINEPREFIX:-}" ]; then
  "$(dirname "$0")/../support/wine_prefix_end" "$FACUP_WINEPREFIX" $rc
fi
exit $rc
