// Command lines and paths of the platform: the data side of the platform layer. The Windows texts
// are the tool's own, byte for byte; the Linux port gives each its Linux equivalent. Every "%s" of
// a path format is filled with the brand word unless its comment says otherwise.
#pragma once

// The port of the local file server, as a number and as text (command lines, the image URL).
#define FILE_SERVER_PORT 8234
#define FACUP_TEXT_OF_(x) #x
#define FACUP_TEXT_OF(x) FACUP_TEXT_OF_(x)
#define FILE_SERVER_PORT_TEXT FACUP_TEXT_OF(FILE_SERVER_PORT)

// The word that names the working root ("C:\quorvane_facup", "/var/lib/quorvane_facup").
#define FACUP_BRAND_WORD "quorvane"

#ifdef _WIN32

// Link discovery: the first output line that holds this PC's address on the camera link.
#define CMD_FIND_USB_ADDRESS "ipconfig | findstr 192.168.88."
#define CMD_FIND_WIFI_ADDRESS "ipconfig | findstr 10.0.0. | findstr IPv4"
// Wi-Fi rejoin: the profile description, then the profile name (the "%s" of the connect command).
#define CMD_WLAN_ADD_PROFILE_FMT "netsh wlan add profile filename=\"C:\\%s_facup\\test.xml\" user=\"current\""
#define CMD_WLAN_CONNECT_FMT "netsh wlan connect %s"
// Characters a profile name may not hold, besides controls: the command interpreter gives them a
// meaning.
#define PROFILE_NAME_REFUSED "&|<>^%\"()"
#define CMD_FIREWALL_OFF "netsh advfirewall set currentprofile state off"
#define CMD_FIREWALL_ON "netsh advfirewall set currentprofile state on"
// The scoped alternative (facup.ini "firewall = rule"): one inbound rule that lets the camera links
// reach the file server's port; the "%s" of the rule's name is the brand word.
#define CMD_FIREWALL_RULE_DELETE_FMT "netsh advfirewall firewall delete rule name=\"%s_facup Shttpd\""
#define CMD_FIREWALL_RULE_ADD_FMT                                                                       \
    "netsh advfirewall firewall add rule name=\"%s_facup Shttpd\" dir=in action=allow protocol=TCP "  \
    "localport=" FILE_SERVER_PORT_TEXT " remoteip=192.168.88.0/24,10.0.0.0/24"
// File servers: a first line longer than one character means the server runs.
#define CMD_LIST_NODE "tasklist | findstr \"node.exe\""
#define CMD_KILL_NODE "taskkill /F /IM node.exe"
#define CMD_LIST_SHTTPD "tasklist | findstr \"Shttpd.exe\""
#define CMD_KILL_SHTTPD "taskkill /F /IM Shttpd.exe"
#define CMD_SHTTPD_FMT "C://%s_facup//units//Shttpd.exe " FILE_SERVER_PORT_TEXT " \"C://%s_facup//firmware\""
#define CMD_NODE_FMT "C:/%s_facup/units/node.exe C:/%s_facup/units/httpd.js " FILE_SERVER_PORT_TEXT " \"C:/%s_facup/firmware\""

#define PATH_WORKING_ROOT_FMT "C:\\%s_facup"
// One entry of the working root (the second "%s" is its name).
#define PATH_ROOT_ENTRY_FMT "C:\\%s_facup\\%s"
#define PATH_UNITS_DIR_FMT "C:\\%s_facup\\units"
#define PATH_FIRMWARE_DIR_FMT "C:\\%s_facup\\firmware"
// The file-server program: the units directory and the program name joined by PATH_PROGRAM_FMT.
#define SHTTPD_PROGRAM_NAME "Shttpd.exe"
#define PATH_PROGRAM_FMT "%s//%s"
#define PATH_SHTTPD_FMT "C://%s_facup//units//Shttpd.exe"
#define PATH_HTTPD_JS_FMT "C://%s_facup//units//httpd.js"
// The firmware directory as listed, and one of its entries (the second "%s" is the entry name).
#define PATH_FIRMWARE_LISTING_FMT "C://%s_facup//firmware//"
#define PATH_FIRMWARE_ENTRY_FMT "C://%s_facup//firmware//%s"
#define PATH_FITS_DATABASE_FMT "C://%s_facup//firmware//index-4110.fits"
#define PATH_PROFILE_NAME_FMT "C:\\%s_facup\\cfg\\profile_name.cfg"
// The run records and diagnostics logs, and one file in it (the second "%s" is the file name).
#define PATH_LOGS_DIR_FMT "C:\\%s_facup\\logs"
#define PATH_LOGS_ENTRY_FMT "C:\\%s_facup\\logs\\%s"

#else

// The address line cut so that the address ends it, as the Windows tools print it.
#define CMD_FIND_USB_ADDRESS                                                                            \
    "ip -4 -o addr show | grep -F ' inet 192.168.88.' | sed 's|.* inet \\([0-9.]*\\)/.*|    IPv4 address: \\1|'"
#define CMD_FIND_WIFI_ADDRESS                                                                           \
    "ip -4 -o addr show | grep -F ' inet 10.0.0.' | sed 's|.* inet \\([0-9.]*\\)/.*|    IPv4 address: \\1|'"
#define CMD_WLAN_ADD_PROFILE_FMT "nmcli con load \"/var/lib/%s_facup/test.nmconnection\""
#define CMD_WLAN_CONNECT_FMT "nmcli con up %s"
// The only characters a profile name may hold, besides the bytes from 0x80 on (names in UTF-8):
// sh runs the connect command and gives none of them a meaning. A leading "-" is refused as well.
#define PROFILE_NAME_ALLOWED "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._-+,:@"
// Linux has no single firewall switch: these commands run and do nothing.
#define CMD_FIREWALL_OFF ": firewall off"
#define CMD_FIREWALL_ON ": firewall on"
#define CMD_FIREWALL_RULE_DELETE_FMT ": firewall rule %s_facup delete"
#define CMD_FIREWALL_RULE_ADD_FMT ": firewall rule %s_facup add"
// Only the tool's own servers, by their full path under the units directory: never another
// program of the same name.
#define CMD_LIST_NODE "pgrep -f '^/var/lib/" FACUP_BRAND_WORD "_facup/units/node '"
#define CMD_KILL_NODE "pkill -KILL -f '^/var/lib/" FACUP_BRAND_WORD "_facup/units/node '"
#define CMD_LIST_SHTTPD "pgrep -f '^/var/lib/" FACUP_BRAND_WORD "_facup/units/Shttpd '"
#define CMD_KILL_SHTTPD "pkill -KILL -f '^/var/lib/" FACUP_BRAND_WORD "_facup/units/Shttpd '"
#define CMD_SHTTPD_FMT "/var/lib/%s_facup/units/Shttpd " FILE_SERVER_PORT_TEXT " \"/var/lib/%s_facup/firmware\""
#define CMD_NODE_FMT "/var/lib/%s_facup/units/node /var/lib/%s_facup/units/httpd.js " FILE_SERVER_PORT_TEXT " \"/var/lib/%s_facup/firmware\""

#define PATH_WORKING_ROOT_FMT "/var/lib/%s_facup"
#define PATH_ROOT_ENTRY_FMT "/var/lib/%s_facup/%s"
#define PATH_UNITS_DIR_FMT "/var/lib/%s_facup/units"
#define PATH_FIRMWARE_DIR_FMT "/var/lib/%s_facup/firmware"
#define SHTTPD_PROGRAM_NAME "Shttpd"
#define PATH_PROGRAM_FMT "%s/%s"
#define PATH_SHTTPD_FMT "/var/lib/%s_facup/units/Shttpd"
#define PATH_HTTPD_JS_FMT "/var/lib/%s_facup/units/httpd.js"
#define PATH_FIRMWARE_LISTING_FMT "/var/lib/%s_facup/firmware/"
#define PATH_FIRMWARE_ENTRY_FMT "/var/lib/%s_facup/firmware/%s"
#define PATH_FITS_DATABASE_FMT "/var/lib/%s_facup/firmware/index-4110.fits"
#define PATH_PROFILE_NAME_FMT "/var/lib/%s_facup/cfg/profile_name.cfg"
#define PATH_LOGS_DIR_FMT "/var/lib/%s_facup/logs"
#define PATH_LOGS_ENTRY_FMT "/var/lib/%s_facup/logs/%s"

#endif

// The staged image is one entry of the firmware directory: the second "%s" is its name.
#define PATH_STAGED_IMAGE_FMT PATH_FIRMWARE_ENTRY_FMT
