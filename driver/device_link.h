// The camera's link: this PC's address on the USB link (192.168.88.x) or the camera's Wi-Fi
// (10.0.0.x), the camera's information file as proof that it answers, and the Wi-Fi rejoin.
#pragma once

#include "neighbour_table.h"

#define USB_CAMERA_ADDRESS "192.168.88.1"
#define WIFI_CAMERA_ADDRESS "10.0.0.1"

// This PC's address on the camera link from the first output line of the address commands, the
// USB link first. The address ends at the first character that is neither a digit nor ".".
// Returns 0 found, -1 none (or none that fits 32 bytes with its terminator).
int find_host_address(char out[32]);

// Fills host and device (the camera: 192.168.88.1 or 10.0.0.1). Returns 0, or -4 when no address
// was found (outcome raised, clean-up done).
int discover_device_link(char host[32], char device[32]);

// The time limit of each wait of the presence check's download of the information file.
const int INFO_FETCH_LIMIT_MS = 2000;

// Downloads the camera's information file into ".deviceRelateInfo.txt". The download's result:
// 0 the exchange completed (whatever the status), else the HTTP client's code. status, when given,
// receives the response's HTTP status (0 when none was read).
int download_device_info(const char *device, int limit_ms, int *status = nullptr);

// Proves that the camera answers. Returns 1, or 0 when the download failed (outcome raised,
// clean-up done).
int fetch_device_info(const char *device);

// The camera's link-layer address as this PC's neighbour table holds it for device (filled by the
// presence check's exchange), lower-case and colon-separated, into mac; logged either way. True
// when found; false leaves mac empty: an unknown address never stops a run.
bool camera_link_address(const char *device, char (&mac)[NEIGHBOUR_TEXT_SIZE]);

// Rejoins the camera's Wi-Fi: adds the profile description, then connects by the profile name read
// from the profile name file (one trailing line end dropped). A missing or empty name, one longer
// than 44 characters, or one holding a character the command interpreter treats specially skips
// the connect command. Nothing happens once an interrupt is pending.
void reconnect_wifi();
