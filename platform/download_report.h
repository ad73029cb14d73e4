// The download reports that the file server prints for a caller that asks for them, one line per
// report: the prefix, the file's name under the root, the bytes sent so far and the file's size,
// separated by single spaces ("Shttpd-progress KTR_418s_1126_fac_up_2.0.16.img 7340032 15490649").
// Shared by the server, which composes them, and the tool, which parses them.
#pragma once

#include <cstddef>
#include <cstdint>

// The environment variable that asks the server for its reports, and the entry that sets it.
#define DOWNLOAD_REPORT_VARIABLE "SHTTPD_PROGRESS"
#define DOWNLOAD_REPORT_ENTRY DOWNLOAD_REPORT_VARIABLE "=1"

#define DOWNLOAD_REPORT_PREFIX "Shttpd-progress "

// The longest report line composed: a file name longer than this does not fit and is not reported.
const size_t DOWNLOAD_REPORT_SIZE = 1024;

// One report as parsed: the name points into the parsed line (name_len bytes, no terminator).
struct download_report {
    const char *name;
    size_t name_len;
    int64_t sent;
    int64_t size;
};

// Composes the report line (without a line end) into out, of size bytes. False when it does not fit.
bool format_download_report(char *out, size_t size, const char *name, uint64_t sent, uint64_t file_size);

// Parses a line as a report: the prefix, a name without blanks, then two decimal counts of at most
// 18 digits with sent not above size, and nothing else. False for any other line.
bool parse_download_report(const char *line, download_report *report);
