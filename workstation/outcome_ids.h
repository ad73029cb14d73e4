// The entries of the outcome catalogue, by number: every user-visible end of a run is one of them.
// Stages anywhere in the tool raise them by number; the driver holds their texts and shows them.
#pragma once

enum outcome_id {
    OUTCOME_NONE = 0,  // no outcome (yet): not a row of the catalogue
    OUTCOME_ANOTHER_INSTANCE = 1,
    OUTCOME_NO_CAMERA_ADDRESS = 2,
    OUTCOME_NO_DEVICE_INFO = 3,
    OUTCOME_FIRST_BURN_MODEL = 4,
    OUTCOME_MODEL_INVALID = 5,
    OUTCOME_SAME_VERSION = 6,
    OUTCOME_NO_FITS_DATABASE = 7,
    OUTCOME_NO_ADMIN_ROOT = 8,
    OUTCOME_NO_ADMIN_UNITS = 9,
    OUTCOME_NO_ADMIN_FIRMWARE = 10,
    OUTCOME_SHTTPD_NOT_WRITTEN = 11,
    OUTCOME_SHTTPD_MISSING = 12,
    OUTCOME_UTILITIES_MISSING = 13,
    OUTCOME_FIRMWARE_NOT_STAGED = 14,
    OUTCOME_SHTTPD_LAUNCH_FAILED = 15,
    OUTCOME_NODE_LAUNCH_FAILED = 16,
    OUTCOME_CANNOT_CONNECT = 17,
    OUTCOME_SEND_FAILED = 18,
    OUTCOME_UPGRADE_OK = 19,
    OUTCOME_ALREADY_LATEST = 20,
    OUTCOME_UPGRADE_FAILED = 21,
    OUTCOME_NOT_CONFIRMED = 22,  // strict confirmation: the camera did not come back with the new version
    OUTCOME_CAN_BE_UPGRADED = 23,  // a check-only run: the camera passed every test of an upgrade
    OUTCOME_END  // one past the last row: a new outcome goes before it, and needs its row
};

const int OUTCOME_COUNT = OUTCOME_END - 1;
