// Whether this camera may receive the firmware the tool carries: the information file parsed, the
// model tested, a camera already on the target version refused, and old firmware made to require
// the local fits database.
#pragma once

// The model text of the information file (shorter than 128 characters) and whether one was found.
extern char g_device_model[128];
extern unsigned char g_device_model_found;

// Reads ".deviceRelateInfo.txt" whole (text mode) into text, terminated. Returns 0 read; 1 read as
// nothing (text mode read fewer characters than its size, or 1,024 bytes or more: text is empty);
// -1 missing or 10 bytes or less; -2 cannot be opened.
int read_info_file(char text[1024]);

// Copies the text after the first "*ver:" up to the end, less one trailing CR or LF, into version.
// Returns 0, or -1 when there is no "*ver:" or the version has 64 characters or more.
int read_version_text(const char *text, char version[64]);

// Parses the information file: the version into version and previous (found set), the model into
// g_device_model. Returns 0 (also when nothing could be parsed), -1 file missing or too small, -2
// file cannot be opened.
int parse_device_info(unsigned char *found, char version[64], char previous[64]);

// Each refusing test raises its outcome and cleans up first.
int check_device_model();                     // 0 accepted, -2 refused
int check_same_version(const char *version);  // 0 differs, -2 already the target version
int check_fits_database(const char *version); // 0 passes, -3 the database is needed and missing
