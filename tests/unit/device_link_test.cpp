// Link discovery from the address commands' first lines, and the Wi-Fi rejoin's commands.
#include "commands.h"
#include "device_link.h"
#include "outcomes.h"
#include "recording_commands.h"
#include "test_files.h"
#include "text_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using recording_commands::commands;
using recording_commands::outputs;

namespace {

std::vector<int> raised;
void record_outcome(outcome_id outcome) { raised.push_back(outcome); }

struct device_link_test : ::testing::Test {
    char host[32] = {0}, device[32] = {0};
    std::string profile;

    void SetUp() override
    {
        recording_commands::install();
        raised.clear();
        g_workstation_seams.report_outcome = record_outcome;
        set_flag(g_silent_mode, 1);
        char path[COMMAND_LINE_SIZE];
        format_text(path, sizeof path, PATH_PROFILE_NAME_FMT, g_brand_word);
        profile = path;
        fs::create_directories(fs::path(profile).parent_path());
        std::remove(path);
    }
    void TearDown() override
    {
        recording_commands::restore();
        g_workstation_seams.report_outcome = nullptr;
        set_flag(g_silent_mode, 0);
    }
};

} // namespace

TEST_F(device_link_test, AddressDiscovery)
{
    const struct {
        const char *usb_line, *wifi_line;
        int result;
        const char *host, *device;
        size_t commands_run;
    } cases[] = {
        {"    IPv4 address. . . . . . . . . . . : 192.168.88.2\r\n", "", 0, "192.168.88.2", "192.168.88.1", 1},
        {"    IPv4 address. . . : 192.168.88.2\r\n", "    IPv4 address. . . : 10.0.0.2\r\n", 0, "192.168.88.2",
         "192.168.88.1", 1},
        {"", "    IPv4 address. . . : 10.0.0.7\r\n", 0, "10.0.0.7", "10.0.0.1", 2},
        {"    IPv4 address. . . : 192.168.88.20(Preferred) \r\n", "", 0, "192.168.88.20", "192.168.88.1", 1},
        {"", "", -4, "", "", 2},
        {"\n", "\n", -4, "", "", 2},
    };
    for (const auto &c : cases) {
        recording_commands::install();
        outputs[CMD_FIND_USB_ADDRESS] = c.usb_line;
        outputs[CMD_FIND_WIFI_ADDRESS] = c.wifi_line;
        host[0] = device[0] = '\0';
        raised.clear();
        EXPECT_EQ(discover_device_link(host, device), c.result) << c.usb_line << c.wifi_line;
        EXPECT_STREQ(host, c.host);
        EXPECT_STREQ(device, c.device);
        ASSERT_GE(commands().size(), c.commands_run);
        EXPECT_EQ(commands()[0], CMD_FIND_USB_ADDRESS);
        if (c.result != 0) {
            EXPECT_EQ(raised, std::vector<int>{OUTCOME_NO_CAMERA_ADDRESS});
            EXPECT_EQ(commands().back(), CMD_FIREWALL_ON);  // cleaned up
        } else {
            EXPECT_EQ(commands().size(), c.commands_run);
        }
    }
}

// The address must fit 32 bytes with its terminator; a longer one counts as none.
TEST_F(device_link_test, AddressLengthLimit)
{
    std::string fits = "192.168.88." + std::string(20, '2'), too_long = fits + "2";
    outputs[CMD_FIND_USB_ADDRESS] = "    IPv4 address: " + fits + "\r\n";
    EXPECT_EQ(find_host_address(host), 0);
    EXPECT_EQ(std::string(host), fits);

    outputs[CMD_FIND_USB_ADDRESS] = "    IPv4 address: " + too_long + "\r\n";
    outputs[CMD_FIND_WIFI_ADDRESS] = "    IPv4 address: 10.0.0.3\r\n";
    EXPECT_EQ(find_host_address(host), 0);
    EXPECT_STREQ(host, "10.0.0.3");
    outputs[CMD_FIND_WIFI_ADDRESS] = "";
    EXPECT_EQ(find_host_address(host), -1);
}

TEST_F(device_link_test, WifiRejoinRunsOnlySafeProfileNames)
{
    char add[COMMAND_LINE_SIZE];
    format_text(add, sizeof add, CMD_WLAN_ADD_PROFILE_FMT, g_brand_word);
    std::string prefix = std::string(CMD_WLAN_CONNECT_FMT).substr(0, std::string(CMD_WLAN_CONNECT_FMT).size() - 2);
    std::string longest(44, 'n');
    const struct {
        const char *content;  // null: no profile file
        std::string connect;  // "": the connect command is skipped
    } cases[] = {
        {"CameraAP\n", prefix + "CameraAP"},
        {"CameraAP\r\n", prefix + "CameraAP"},
        {"CameraAP", prefix + "CameraAP"},
#ifdef _WIN32
        {"Camera AP-5_x.y", prefix + "Camera AP-5_x.y"},
#else
        {"Camera AP-5_x.y", ""},  // sh would split it at the blank
#endif
        {nullptr, ""},
        {"", ""},
        {"\n", ""},
        {"a&calc", ""},
        {"a|b", ""},
        {"a>b", ""},
        {"a^b", ""},
        {"%PATH%", ""},
        {"\"quoted\"", ""},
        {"(x)", ""},
        {"two\nlines", ""},
        {"tab\there", ""},
    };
    for (const auto &c : cases) {
        recording_commands::install();
        std::remove(profile.c_str());
        if (c.content != nullptr) {
            ASSERT_TRUE(test_files::write_file(profile, c.content));
        }
        reconnect_wifi();
        ASSERT_GE(recording_commands::calls.size(), 1u);
        EXPECT_EQ(recording_commands::calls[0].command, add);
        EXPECT_EQ(recording_commands::calls[0].mode, "w");
        std::vector<std::string> expected = {add};
        if (!c.connect.empty())
            expected.push_back(c.connect);
        EXPECT_EQ(commands(), expected) << (c.content ? c.content : "(no file)");
    }

    for (const auto &name : {longest, longest + "n"}) {
        recording_commands::install();
        ASSERT_TRUE(test_files::write_file(profile, name));
        reconnect_wifi();
        EXPECT_EQ(commands().size(), name.size() == 44 ? 2u : 1u);
    }
}

#ifndef _WIN32
// The Linux port runs the connect command through sh: a name holding a character sh gives a
// meaning to, or one that nmcli would read as an option, never reaches it. Real runners, with the
// recording nmcli first on the path.
TEST_F(device_link_test, LinuxConnectNeverRunsShellText)
{
    recording_commands::restore();
    test_files::working_dir dir;
    std::string saved_path = std::getenv("PATH");
    setenv("PATH", (std::string(NMCLI_STANDIN_DIR) + ":" + saved_path).c_str(), 1);
    setenv("FACUP_NMCLI_LOG", dir.file("nmcli.log").c_str(), 1);
    struct name_case {
        std::string name;
        bool connects;
    };
    std::vector<name_case> cases = {
        {"x;touch canary", false}, {"$(touch canary)", false}, {"`touch canary`", false},
        {"x'touch canary'", false}, {"x\\$(touch canary)", false}, {"-x", false},
        {"a*", false},             {"~x", false},              {"Cam_AP-5.2G+x,y:z@w", true},
        {"\xe7\x9b\xb8\xe6\x9c\xba-AP", true},
    };
    // Every character sh gives a meaning to, each on its own between two letters.
    for (char special : std::string(" \t;&|<>()$`\\\"'*?[]#~!{}"))
        cases.push_back({std::string("x") + special + "canary", false});
    for (const auto &c : cases) {
        std::remove(dir.file("nmcli.log").c_str());
        ASSERT_TRUE(test_files::write_file(profile, c.name));
        reconnect_wifi();
        std::string log = test_files::read_file(dir.file("nmcli.log"));
        EXPECT_EQ(log.find("con up") != std::string::npos, c.connects) << c.name;
        if (c.connects) {
            EXPECT_NE(log.find("con up " + c.name + "\n"), std::string::npos) << log;
        }
    }
    EXPECT_FALSE(test_files::exists(dir.file("canary")));
    setenv("PATH", saved_path.c_str(), 1);
}
#endif
