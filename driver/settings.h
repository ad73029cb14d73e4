// The station's settings: "facup.ini" beside the program, optional. Lines of "key = value", with
// ";" and "#" comment lines; keys and values trimmed and compared without case; UTF-8 with or
// without a byte-order mark, or UTF-16 (little or big endian) with one. A key it does not know or a
// value it cannot use gives one English warning line and leaves the default: the settings file
// never stops a run.
#pragma once

#include "workstation.h"

#include <cstddef>
#include <string>
#include <vector>

// The user interface language: the system's (auto), or forced English or Chinese.
enum language_choice { LANGUAGE_AUTO, LANGUAGE_ENGLISH, LANGUAGE_CHINESE };

struct station_settings {
    firewall_mode firewall = FIREWALL_SWITCH_OFF;  // "firewall = off | rule"
    language_choice language = LANGUAGE_AUTO;      // "language = auto | en | zh"
    std::vector<std::string> warnings;             // the warning lines, in file order
};

#define SETTINGS_FILE_NAME "facup.ini"
// A larger file is not read: one warning, and the defaults.
const size_t SETTINGS_FILE_MAX = 64 * 1024;
// The longest line read, in bytes of UTF-8 without its line end; a longer one is a warning.
const size_t SETTINGS_LINE_MAX = 255;

// The settings of the file's bytes (size of them).
station_settings parse_settings(const char *bytes, size_t size);

// The settings of the file at path: the defaults without a warning when it is absent, empty or
// cannot be read.
station_settings read_settings_file(const char *path);

// The settings this run reads (defaults until load_station_settings).
extern station_settings g_station_settings;

// Reads facup.ini beside the running program into g_station_settings, prints each warning line on
// the console and sets g_firewall_mode. The language is applied by init_ui_language, the warnings
// reach the run record in run_upgrade.
void load_station_settings();
