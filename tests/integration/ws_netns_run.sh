#!/bin/sh
# Runs a test program inside the namespace that tests/support/isolated made; a Windows program runs
# under Wine with the prefix named by FACUP_WINEPREFIX, whose wineserver is ended afterwards so that
# nothing outlives the namespace.
"$@"
rc=$?
if [ -n "${FACUP_WINEPREFIX:-}" ]; then
  WINEPREFIX=$FACUP_WINEPREFIX wineserver -k 2>/dev/null
fi
exit $rc
