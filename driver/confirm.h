// The confirmation of the new version: after a deciding "ok" with a confirm mode set, once the
// clean-up is done, the camera's information file is read every 2 s until it shows the target
// version or confirm_seconds have passed, through the camera's restart and absence; the console
// shows the wait, and the run record keeps what was seen (g_driver.record.confirm).
#pragma once

#include "settings.h"

struct upgrade_run;

// The name of a confirm mode, as facup.ini and the run record write it.
const char *confirm_mode_name(confirm_mode mode);

// Reads the camera's version back until it is the target version or the time is up, shows the wait
// on the console and, in strict mode, raises the run's outcome: "ok0" when confirmed, "err-12" when
// not. The local copy of the information file is gone afterwards. True when confirmed.
bool confirm_new_version(upgrade_run *run);
