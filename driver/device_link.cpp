// The camera's link: this PC's address on the USB link (192.168.88.x) or the camera's Wi-Fi
// (10.0.0.x), the camera's information file as proof that it answers, and the Wi-Fi rejoin.
#include "device_link.h"

#include "commands.h"
#include "debug_log.h"
#include "http.h"
#include "outcome_ids.h"
#include "outcomes.h"
#include "text_util.h"
#include "workstation.h"

#include <cstdio>
#include <cstring>

namespace {

const size_t PROFILE_NAME_MAX = 44;  // what the 64-byte connect command holds after its words

// Looks for prefix in the first output line of command and copies the address that starts there,
// up to the first character that is neither a digit nor ".", into out. False when there is none
// or it does not fit.
bool address_from(const char *command, const char *prefix, char out[32])
{
    char line[COMMAND_LINE_SIZE];
    line[0] = '\0';
    run_command_first_line(command, line);
    const char *start = std::strstr(line, prefix);
    if (start == nullptr)
        return false;
    size_t len = std::strspn(start, "0123456789.");
    if (len >= 32)
        return false;
    std::memcpy(out, start, len);
    out[len] = '\0';
    return true;
}

// One character of a profile name, by the platform's rule: an allowed set where the platform has
// one (the command runs through sh), else anything but controls and the refused characters.
bool safe_profile_character(unsigned char c)
{
#ifdef PROFILE_NAME_ALLOWED
    return c >= 0x80 || (c != '\0' && std::strchr(PROFILE_NAME_ALLOWED, c) != nullptr);
#else
    return c >= 0x20 && c != 0x7f && std::strchr(PROFILE_NAME_REFUSED, c) == nullptr;
#endif
}

// A profile name is run as part of a command line: refuse anything the command interpreter would
// treat specially, so that no text from the file can ever run as a command.
bool safe_profile_name(const char *name)
{
    size_t len = std::strlen(name);
    if (len == 0 || len > PROFILE_NAME_MAX)
        return false;
#ifdef PROFILE_NAME_ALLOWED
    if (name[0] == '-')
        return false;  // the connect program would read it as an option
#endif
    for (const char *p = name; *p != '\0'; p++) {
        if (!safe_profile_character((unsigned char)*p))
            return false;
    }
    return true;
}

} // namespace

int find_host_address(char out[32])
{
    if (address_from(CMD_FIND_USB_ADDRESS, "192.168.88.", out))
        return 0;
    if (address_from(CMD_FIND_WIFI_ADDRESS, "10.0.0.", out))
        return 0;
    return -1;
}

int discover_device_link(char host[32], char device[32])
{
    if (find_host_address(host) != 0) {
        DEBUG_LOG("get self ip fail!\n");
        DEBUG_LOG("this PC has no address on the camera's USB link (192.168.88.x) or Wi-Fi (10.0.0.x): is the "
                  "camera connected, and its network adapter up?\n");
        return stop_run(OUTCOME_NO_CAMERA_ADDRESS, -4);
    }
    DEBUG_LOG("get self ip: %s.\n", host);
    if (std::strstr(host, "192.168.88.") != nullptr)
        std::strcpy(device, USB_CAMERA_ADDRESS);
    else if (std::strstr(host, "10.0.0.") != nullptr)
        std::strcpy(device, WIFI_CAMERA_ADDRESS);
    DEBUG_LOG("camera link found: this PC is %s, the camera is expected at %s\n", host, device);
    return 0;
}

int download_device_info(const char *device, int limit_ms, int *status)
{
    char url[128];
    format_text(url, sizeof url, "http://%s/" CAMERA_INFO_FILE, device);
    int got = 0;
    http_result result = http_download_file_status(url, INFO_FILE_COPY, limit_ms, &got);
    DEBUG_LOG("information file %s: HTTP client result %d, %s; status %d\n", url, result, http_result_text(result),
              got);
    if (status != nullptr)
        *status = got;
    return result;
}

int fetch_device_info(const char *device)
{
    if (download_device_info(device, INFO_FETCH_LIMIT_MS) == 0)
        return 1;
    DEBUG_LOG("device unconnect! plz connect to usb or wifi!\n");
    return stop_run(OUTCOME_NO_DEVICE_INFO, 0);
}

bool camera_link_address(const char *device, char (&mac)[NEIGHBOUR_TEXT_SIZE])
{
    neighbour_result result = neighbour_link_address(device, mac);
    DEBUG_LOG("camera's link-layer address (this PC's neighbour table): %s (%s)\n", mac, neighbour_result_name(result));
    if (result != NEIGHBOUR_FOUND)
        mac[0] = '\0';
    return result == NEIGHBOUR_FOUND;
}

void reconnect_wifi()
{
    if (flag_is_set(g_workstation.interrupt_pending))
        return;  // the run is being stopped: it changes the PC's network no more
    char path[COMMAND_LINE_SIZE];
    format_text(path, sizeof path, PATH_PROFILE_NAME_FMT, g_brand_word);
    char name[65] = {0};
    if (FILE *file = std::fopen(path, "r")) {
        size_t got = std::fread(name, 1, 64, file);
        std::fclose(file);
        name[got] = '\0';
    }
    size_t len = std::strlen(name);
    if (len > 0 && name[len - 1] == '\n')
        name[--len] = '\0';
    if (len > 0 && name[len - 1] == '\r')
        name[--len] = '\0';

    char command[COMMAND_LINE_SIZE];
    format_text(command, sizeof command, CMD_WLAN_ADD_PROFILE_FMT, g_brand_word);
    run_command_console(command);

    char connect[64];
    if (safe_profile_name(name) && format_text(connect, sizeof connect, CMD_WLAN_CONNECT_FMT, name))
        run_command_quiet(connect);
}
