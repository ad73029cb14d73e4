// The station's settings: "facup.ini" beside the program, optional. Lines of "key = value", with
// ";" and "#" comment lines and comments behind a value (after blank space); keys and values trimmed
// (carriage returns count as blank) and compared without case, a value in double quotes without
// them; UTF-8 with or without a byte-order mark, or UTF-16 (little or big endian) with one. A key it
// does not know or a value it cannot use gives one English warning line and leaves the default: the
// settings file never stops a run.
#pragma once

#include "workstation.h"

#include <cstddef>
#include <string>
#include <vector>

// The user interface language: the system's (auto), or forced English or Chinese.
enum language_choice { LANGUAGE_AUTO, LANGUAGE_ENGLISH, LANGUAGE_CHINESE };

// What leaves the station after a run: its record delivered to a collector (without a URL, none), and
// the station's counters rewritten (without a metrics file, none).
const int REPORT_SECONDS_DEFAULT = 3;
const int REPORT_SECONDS_MAX = 30;
// How many records one request may carry: one (what every collector takes) by default.
const int REPORT_BATCH_DEFAULT = 1;
const int REPORT_BATCH_MAX = 1000;
struct report_settings {
    std::string url;     // "report_url = http://... | https://...", taken whole (no inline comment)
    std::string header;  // "report_header = Name: value", taken whole; empty: none
    int seconds = REPORT_SECONDS_DEFAULT;  // "report_seconds = 1..30": the bound of one run's delivery
    std::string metrics_file;              // "metrics_file = <full path>": the station's counters; empty: none
    int batch = REPORT_BATCH_DEFAULT;      // "report_batch = 1..1000": records a request, one a line
};

// Whether the run reads the camera's version back after its "ok" and restart: not at all (off),
// for the record and the console only (record), or as the run's result (strict).
enum confirm_mode { CONFIRM_OFF, CONFIRM_RECORD, CONFIRM_STRICT };

// How long the confirmation waits for the camera's new version, in seconds: the default and the
// accepted range of "confirm_seconds".
const int CONFIRM_SECONDS_DEFAULT = 180;
const int CONFIRM_SECONDS_MIN = 10;
const int CONFIRM_SECONDS_MAX = 900;

// What facup.ini sets. A new setting needs its member here, its row in settings.cpp's KNOWN_KEYS
// (or TEXT_KEYS, for a text checked as a whole) and its line in the station guide (README.md).
struct station_settings {
    firewall_mode firewall = FIREWALL_SWITCH_OFF;  // "firewall = off | rule"
    language_choice language = LANGUAGE_AUTO;      // "language = auto | en | zh"
    report_settings report;
    confirm_mode confirm = CONFIRM_OFF;            // "confirm = off | record | strict"
    int confirm_seconds = CONFIRM_SECONDS_DEFAULT; // "confirm_seconds = 10..900"
    std::vector<std::string> warnings;             // the warning lines, in file order
    size_t warnings_not_shown = 0;                 // past SETTINGS_WARNINGS_SHOWN, only counted
};

#define SETTINGS_FILE_NAME "facup.ini"
// A larger file is not read: one warning, and the defaults.
const size_t SETTINGS_FILE_MAX = 64 * 1024;
// The longest line read, in bytes of UTF-8 without its line end; a longer one is a warning.
const size_t SETTINGS_LINE_MAX = 255;
// The warnings kept, shown and recorded; past them one more line gives the count of the rest.
const size_t SETTINGS_WARNINGS_SHOWN = 20;

// The settings of the file's bytes (size of them).
station_settings parse_settings(const char *bytes, size_t size);

// The settings of the file at path: the defaults without a warning when it is absent, empty or
// cannot be read.
station_settings read_settings_file(const char *path);

// Reads facup.ini beside the running program and prints each warning line on the console. The
// settings go whole to g_driver.settings (facup_main applies the language, run_upgrade records the
// warnings), the firewall mode also to g_workstation.firewall.
void load_station_settings();
