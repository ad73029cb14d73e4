// Runners, clean-up, guard and working directories. These tests own the working root: they run
// with a private one (a mount namespace on Linux, a prefix of their own under Wine).
#include "access_control.h"
#include "commands.h"
#include "shared_values.h"
#include "text_util.h"
#include "utility_asset.h"
#include "pc_lock.h"
#include "recording_commands.h"
#include "server_launch.h"
#include "socket.h"
#include "test_files.h"
#include "waits.h"
#include "workstation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <cstring>
#include <filesystem>
#ifdef _WIN32
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#else
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#include <string>
#include <vector>

namespace fs = std::filesystem;
using recording_commands::commands;

namespace {

// The working directories and the program path, as the workstation composes them.
struct paths {
    char root[COMMAND_LINE_SIZE], units[COMMAND_LINE_SIZE], firmware[COMMAND_LINE_SIZE];
    char program[COMMAND_LINE_SIZE];
    paths()
    {
        format_text(root, sizeof root, PATH_WORKING_ROOT_FMT, g_brand_word);
        format_text(units, sizeof units, PATH_UNITS_DIR_FMT, g_brand_word);
        format_text(firmware, sizeof firmware, PATH_FIRMWARE_DIR_FMT, g_brand_word);
        format_text(program, sizeof program, PATH_PROGRAM_FMT, units, SHTTPD_PROGRAM_NAME);
    }
};

std::vector<int> raised;
void record_outcome(outcome_id outcome) { raised.push_back(outcome); }

// The diagnostics log's lines that the workstation wrote.
std::vector<std::string> logged;
void record_log_line(const char *, int, const char *text) { logged.push_back(text); }

#ifdef _WIN32
bool under_wine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

// The access list of the folder as GetNamedSecurityInfoW reads it back, in SDDL.
std::string access_list_of(const std::string &path)
{
    PACL list = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::wstring wide(path.begin(), path.end());
    if (GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &list,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return "unreadable";
    wchar_t *text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                         nullptr);
    std::string sddl;
    for (const wchar_t *c = text; c != nullptr && *c != L'\0'; c++)
        sddl += static_cast<char>(*c);
    LocalFree(text);
    LocalFree(descriptor);
    return sddl;
}

// Gives Users and Everyone the right to change the folder, with an explicit entry (Wine keeps only
// the one for Everyone, as the mode's bits for others).
void open_to_others(const std::string &path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)(A;OICI;0x1301bf;;;WD)", SDDL_REVISION_1, &descriptor,
        nullptr));
    BOOL present = FALSE, defaulted = FALSE;
    PACL list = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted);
    std::wstring wide(path.begin(), path.end());
    EXPECT_EQ(SetNamedSecurityInfoW(&wide[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, list,
                                    nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    LocalFree(descriptor);
}
#else
// Lets group and others change the folder, and gives it another owner than root.
void open_to_others(const std::string &path)
{
    ASSERT_EQ(chmod(path.c_str(), 0777), 0);
    ASSERT_EQ(chown(path.c_str(), 1000, 1000), 0);
}

unsigned mode_and_owner(const std::string &path)
{
    struct stat st = {};
    stat(path.c_str(), &st);
    return (st.st_mode & 07777) | (st.st_uid == 0 ? 0 : 010000);
}
#endif

std::string carried_program()
{
    return std::string(reinterpret_cast<const char *>(g_utility_buffer), static_cast<size_t>(g_utility_buffer_len));
}

// Launcher threads are held instead of started, for the test to run in order when it chooses.
struct held_thread {
    void (*body)(void *);
    void *argument;
};
std::vector<held_thread> held_threads;
unsigned long hold_thread(void (*body)(void *), void *argument)
{
    held_threads.push_back({body, argument});
    return static_cast<unsigned long>(held_threads.size());
}
void run_held_threads()
{
    for (const auto &t : held_threads)
        t.body(t.argument);
    held_threads.clear();
}

// Runs a launcher thread's body before returning, as if it had run at once.
unsigned long run_at_once(void (*body)(void *), void *argument)
{
    body(argument);
    return 1;
}

// Waits on a clock that moves only when they pause, and a port probe with a fixed answer: a wait's
// limit is checked without waiting it out.
struct {
    int64_t now;
    bool port_accepts;
} fake;
int64_t fake_now() { return fake.now; }
void fake_sleep(int ms) { fake.now += ms; }
bool fake_port_accepts(int) { return fake.port_accepts; }
void install_fake_waits()
{
    fake = {0, false};
    g_workstation_seams.now_ms = fake_now;
    g_workstation_seams.sleep_ms = fake_sleep;
    g_workstation_seams.port_accepts = fake_port_accepts;
}

struct workstation_test : ::testing::Test {
    paths p;
    std::string root = p.root, units = p.units, firmware = p.firmware, program = p.program;

    test_files::working_dir dir;  // the information file lives in the current directory

    void SetUp() override
    {
        std::error_code ec;
        fs::remove_all(root, ec);
        recording_commands::install();
        raised.clear();
        held_threads.clear();
        g_workstation_seams.report_outcome = record_outcome;
        set_flag(g_upgrade_quit, 0);
    }
    void TearDown() override
    {
        set_flag(g_workstation.interrupt_pending, 0);
        cleanup_workstation();
        g_workstation_seams = REAL_WORKSTATION_SEAMS;
        reset_workstation_state();
    }
    void make_directories()
    {
        fs::create_directories(units);
        fs::create_directories(firmware);
    }
};

} // namespace

TEST_F(workstation_test, CleanupRunsItsStepsInOrder)
{
    make_directories();
    ASSERT_TRUE(test_files::write_file(firmware + "/KTR_418s_1126_fac_up_2.0.16.img", "image"));
    ASSERT_TRUE(test_files::write_file(firmware + "/notes.txt", "notes"));
    fs::create_directories(firmware + "/keep");
    ASSERT_TRUE(test_files::write_file(".deviceRelateInfo.txt", "QUORVANE_CAM418S*ver:2.0.15"));
    ASSERT_EQ(acquire_instance_guard(), 0);
    ASSERT_NE(g_instance_mutex, nullptr);

    cleanup_workstation();
    EXPECT_TRUE(flag_is_set(g_upgrade_quit));
    EXPECT_EQ(commands(), (std::vector<std::string>{CMD_KILL_SHTTPD, CMD_KILL_NODE, CMD_FIREWALL_ON}));
    EXPECT_FALSE(test_files::exists(firmware + "/KTR_418s_1126_fac_up_2.0.16.img"));
    EXPECT_FALSE(test_files::exists(firmware + "/notes.txt"));
    EXPECT_TRUE(fs::is_directory(firmware + "/keep"));
    EXPECT_FALSE(test_files::exists(".deviceRelateInfo.txt"));
    EXPECT_EQ(g_instance_mutex, nullptr);

    // A second clean-up repeats the commands; the guard, released once, is free for the next run.
    cleanup_workstation();
    EXPECT_EQ(commands().size(), 6u);
    EXPECT_EQ(acquire_instance_guard(), 0);
    EXPECT_TRUE(raised.empty());
}

// The run's thread holds the PC through a stage: an interrupt waits for it (within its bound), the
// run's own clean-up then does nothing, and once the run gives the PC up, the interrupt alone cleans up.
TEST_F(workstation_test, AnInterruptTakesThePcFromTheRun)
{
    ASSERT_TRUE(pc_lock_take());
    bool taken = true;
    std::thread([&] { taken = pc_lock_take_for_interrupt(50); }).join();
    EXPECT_FALSE(taken) << "the stage still holds the PC";
    cleanup_workstation();
    EXPECT_TRUE(commands().empty()) << "no clean-up of the run's own once an interrupt is pending";
    pc_lock_give();
    EXPECT_FALSE(pc_lock_take()) << "the run goes no further";

    std::thread([&] {
        taken = pc_lock_take_for_interrupt(1000);
        if (taken) {
            cleanup_workstation();
            pc_lock_give();  // kept for good in the tool, whose process ends here
        }
    }).join();
    EXPECT_TRUE(taken);
    EXPECT_EQ(commands(), (std::vector<std::string>{CMD_KILL_SHTTPD, CMD_KILL_NODE, CMD_FIREWALL_ON}));
}

TEST_F(workstation_test, CleanupWithoutDirectoriesStillRunsCommands)
{
    cleanup_workstation();
    EXPECT_EQ(commands(), (std::vector<std::string>{CMD_KILL_SHTTPD, CMD_KILL_NODE, CMD_FIREWALL_ON}));
    EXPECT_EQ(recording_commands::calls[0].mode, "r");
}

TEST_F(workstation_test, FirstLineRunner)
{
    const struct {
        const char *output;
        const char *line;
    } cases[] = {
        {"", ""},
        {"\n", "\n"},
        {"    IPv4 address. . . : 192.168.88.2\r\nsecond line\r\n", "    IPv4 address. . . : 192.168.88.2\r\n"},
        {"no line end", "no line end"},
    };
    for (const auto &c : cases) {
        recording_commands::outputs["probe"] = c.output;
        char line[COMMAND_LINE_SIZE];
        line[0] = '\0';
        run_command_first_line("probe", line);
        EXPECT_STREQ(line, c.line);
    }

    // At most 1,023 characters of a longer line; the rest is never read.
    recording_commands::outputs["probe"] = std::string(2000, 'x') + "\n";
    char line[COMMAND_LINE_SIZE];
    line[0] = '\0';
    run_command_first_line("probe", line);
    EXPECT_EQ(std::strlen(line), 1023u);

    // A command that cannot start leaves the buffer as the caller set it.
    recording_commands::unstartable.push_back("missing");
    std::strcpy(line, "untouched");
    run_command_first_line("missing", line);
    EXPECT_STREQ(line, "untouched");
}

TEST_F(workstation_test, QuietConsoleAndFirewallRunners)
{
    run_command_quiet("quiet");
    run_command_console("console");
    firewall_off();
    firewall_on();
    ASSERT_EQ(recording_commands::calls.size(), 4u);
    EXPECT_EQ(recording_commands::calls[0].mode, "r");
    EXPECT_EQ(recording_commands::calls[1].mode, "w");
    EXPECT_EQ(commands()[2], CMD_FIREWALL_OFF);
    EXPECT_EQ(commands()[3], CMD_FIREWALL_ON);
}

// The scoped rule never touches the firewall's state: delete then add, and the clean-up deletes.
TEST_F(workstation_test, ScopedRuleInsteadOfTheSwitch)
{
#ifdef _WIN32
    const std::string remove = "netsh advfirewall firewall delete rule name=\"quorvane_facup Shttpd\"";
    const std::string add = "netsh advfirewall firewall add rule name=\"quorvane_facup Shttpd\" dir=in action=allow "
                            "protocol=TCP localport=8234 remoteip=192.168.88.0/24,10.0.0.0/24";
#else
    const std::string remove = ": firewall rule quorvane_facup delete", add = ": firewall rule quorvane_facup add";
#endif
    g_workstation.firewall = FIREWALL_SCOPED_RULE;
    firewall_off();
    cleanup_workstation();
    EXPECT_EQ(commands(), (std::vector<std::string>{remove, add, CMD_KILL_SHTTPD, CMD_KILL_NODE, remove}));
}

TEST_F(workstation_test, SpawnReportsItsFailures)
{
    char line[] = "cannot-start 8234";
    recording_commands::unstartable.push_back(line);
    testing::internal::CaptureStdout();
    EXPECT_EQ(spawn_with_pipe(nullptr, line, nullptr, nullptr, nullptr), -2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error on CreateProcess()!\n");
}

// A launch pending at a clean-up neither stops nor starts a server, even when it runs after a later
// launch; the launches begun after the clean-up do both.
TEST_F(workstation_test, CleanupStopsOnlyThePendingLaunches)
{
    g_workstation_seams.commands.start_thread = hold_thread;
    ASSERT_NE(start_shttpd_launcher(), 0u);
    ASSERT_NE(start_node_launcher(), 0u);
    cleanup_workstation();
    ASSERT_NE(start_shttpd_launcher(), 0u);
    ASSERT_NE(start_node_launcher(), 0u);
    recording_commands::calls.clear();
    run_held_threads();

    char shttpd[COMMAND_LINE_SIZE], node[COMMAND_LINE_SIZE];
    format_text(shttpd, sizeof shttpd, CMD_SHTTPD_FMT, g_brand_word, g_brand_word);
    format_text(node, sizeof node, CMD_NODE_FMT, g_brand_word, g_brand_word, g_brand_word);
    EXPECT_EQ(commands(), (std::vector<std::string>{CMD_LIST_NODE, CMD_LIST_SHTTPD, shttpd, CMD_LIST_NODE,
                                                    CMD_LIST_SHTTPD, node}));
}

// The Shttpd launcher waits for the port only after stopping a server, and starts its own even when
// the port stays taken past the second it gives.
TEST_F(workstation_test, LauncherWaitsForThePortAfterAStop)
{
    install_fake_waits();
    g_workstation_seams.commands.start_thread = run_at_once;
    const struct {
        const char *listed;
        bool port_taken;
        int64_t waited;
    } cases[] = {{"\n", true, 0}, {"4242\n", false, 0}, {"4242\n", true, 1000}};
    for (const auto &c : cases) {
        fake = {0, c.port_taken};
        recording_commands::outputs[CMD_LIST_SHTTPD] = c.listed;
        recording_commands::calls.clear();
        ASSERT_NE(start_shttpd_launcher(), 0u);
        EXPECT_EQ(fake.now, c.waited) << c.listed;
        EXPECT_EQ(recording_commands::calls.back().mode, "spawn");
    }
}

// The listen check counts only the server of its own launch: a leftover one accepting before the
// launcher has started its server never ends it, and the check keeps its limit. Once the launcher
// has started its server, a listening port ends it at the first look.
TEST_F(workstation_test, ListenCheckWaitsForItsOwnServer)
{
    make_directories();
    ASSERT_TRUE(test_files::write_file(program, std::string(2000, 's')));
    install_fake_waits();
    fake.port_accepts = true;
    g_workstation_seams.commands.start_thread = hold_thread;
    EXPECT_EQ(start_file_server(), 0);
    EXPECT_EQ(fake.now, 11000);

    fake.now = 0;
    g_workstation_seams.commands.start_thread = run_at_once;
    EXPECT_EQ(start_file_server(), 0);
    EXPECT_EQ(fake.now, 0);
    EXPECT_EQ(recording_commands::calls.back().mode, "spawn");
    EXPECT_TRUE(raised.empty());
}

// Each image has its own list and kill commands; a listed line of one character means none runs.
TEST_F(workstation_test, KillIfListed)
{
    recording_commands::outputs[CMD_LIST_NODE] = "4242\n";
    recording_commands::outputs[CMD_LIST_SHTTPD] = "\n";
    kill_if_listed("node.exe");
    kill_if_listed("Shttpd.exe");
    EXPECT_EQ(commands(), (std::vector<std::string>{CMD_LIST_NODE, CMD_KILL_NODE, CMD_LIST_SHTTPD}));
}

TEST_F(workstation_test, GuardRefusesASecondHolder)
{
    ASSERT_EQ(acquire_instance_guard(), 0);
    platform_mutex *mine = g_instance_mutex;
    EXPECT_EQ(acquire_instance_guard(), 1);
    EXPECT_EQ(g_instance_mutex, mine);  // the refused attempt keeps nothing
    EXPECT_EQ(raised, std::vector<int>{OUTCOME_ANOTHER_INSTANCE});
    EXPECT_TRUE(commands().empty());    // and cleans nothing up
}

TEST_F(workstation_test, PrepareCreatesDirectoriesAndWritesProgram)
{
    ASSERT_EQ(prepare_workstation(), 0);
    EXPECT_TRUE(fs::is_directory(root));
    EXPECT_TRUE(fs::is_directory(firmware));
    EXPECT_EQ(test_files::read_file(program), carried_program());
    EXPECT_STREQ(g_workstation.notes.server_program, "written");
    EXPECT_TRUE(raised.empty());

    // The root is made kept to administrators.
    EXPECT_STREQ(g_workstation.notes.root_permissions, "set");
    EXPECT_EQ(platform_change_access(root.c_str(), ADMINS), CHANGED_BY_ADMINS_ONLY);
#ifdef _WIN32
    std::string list = access_list_of(root);
    if (under_wine()) {
        // Wine keeps no list: it reads one back from the folder's mode, whose bits for others the
        // protected list cleared (it has no entry for Everyone).
        EXPECT_EQ(list.find(";WD)"), std::string::npos) << list;
    } else {
        size_t entries = list.find('(');
        EXPECT_NE(list.substr(0, entries).find('P'), std::string::npos) << "protected: " << list;
        EXPECT_EQ(list.substr(entries), "(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)") << list;
    }
#else
    EXPECT_EQ(mode_and_owner(root), 0755u);
#endif
}

// A root (and a folder in it) that others may change is set back to administrators only, logged
// once; the next run finds nothing to set back.
TEST_F(workstation_test, RootOpenToOthersIsSetBack)
{
    make_directories();
    std::string logs = root + "/logs";
    fs::create_directories(logs);
    open_to_others(root);
    open_to_others(logs);
    ASSERT_EQ(platform_change_access(root.c_str(), ADMINS), CHANGED_BY_OTHERS);
    ASSERT_EQ(platform_change_access(logs.c_str(), ADMINS), CHANGED_BY_OTHERS);
    g_workstation_seams.log_line = record_log_line;
    logged.clear();

    ASSERT_EQ(prepare_workstation(), 0);
    EXPECT_STREQ(g_workstation.notes.root_permissions, "repaired");
    EXPECT_EQ(platform_change_access(root.c_str(), ADMINS), CHANGED_BY_ADMINS_ONLY);
    EXPECT_EQ(platform_change_access(logs.c_str(), ADMINS), CHANGED_BY_ADMINS_ONLY);
#ifdef _WIN32
    EXPECT_EQ(access_list_of(root).find("0x1301"), std::string::npos) << "no Modify entry: " << access_list_of(root);
#else
    EXPECT_EQ(mode_and_owner(root), 0755u);
    EXPECT_EQ(mode_and_owner(logs), 0755u);
#endif
    std::vector<std::string> set_back;
    for (const std::string &line : logged)
        if (line.find("set back to administrators only: ") != std::string::npos)
            set_back.push_back(line.substr(line.find("only: ")));
    EXPECT_EQ(set_back, std::vector<std::string>{"only: the root itself, logs\n"});

    logged.clear();
    ASSERT_EQ(prepare_workstation(), 0);
    EXPECT_STREQ(g_workstation.notes.root_permissions, "kept");
    EXPECT_TRUE(logged.empty());
}

// Only the carried program, byte for byte, is kept: any other file is replaced, whatever its size
// (a file server that might run from it was looked for first).
TEST_F(workstation_test, PrepareKeepsOnlyTheCarriedProgram)
{
    make_directories();
    std::string older = carried_program();
    older.back() ^= 1;  // an older build: the same size, one byte apart
    for (const std::string &found : {std::string(307199, 'a'), std::string(307200, 'b'), older}) {
        ASSERT_TRUE(test_files::write_file(program, found));
        recording_commands::install();
        ASSERT_EQ(prepare_workstation(), 0);
        EXPECT_TRUE(test_files::read_file(program) == carried_program()) << found.size() << " bytes";
        EXPECT_STREQ(g_workstation.notes.server_program, "replaced");
        EXPECT_EQ(commands(), std::vector<std::string>{CMD_LIST_SHTTPD});
    }
    recording_commands::install();
    ASSERT_EQ(prepare_workstation(), 0);
    EXPECT_STREQ(g_workstation.notes.server_program, "kept");
    EXPECT_TRUE(commands().empty());
    EXPECT_TRUE(raised.empty());
}

TEST_F(workstation_test, RootThatIsAFileLeavesUnitsMissing)
{
    ASSERT_TRUE(test_files::write_file(root, "not a directory"));
    EXPECT_EQ(prepare_workstation(), -2);
    EXPECT_EQ(raised, std::vector<int>{OUTCOME_NO_ADMIN_UNITS});
    EXPECT_EQ(commands().size(), 3u);  // the clean-up ran
    std::remove(root.c_str());
}

// A created directory ends its wait at the first look; one that never appears is waited for its
// whole second.
TEST_F(workstation_test, DirectoryWaits)
{
    install_fake_waits();
    ASSERT_EQ(prepare_workstation(), 0);
    EXPECT_EQ(fake.now, 0);

    fs::remove_all(root);
    ASSERT_TRUE(test_files::write_file(root, "not a directory"));
    EXPECT_EQ(prepare_workstation(), -2);
    EXPECT_EQ(fake.now, 1000);
    std::remove(root.c_str());
}

TEST_F(workstation_test, UtilityFileWriting)
{
    make_directories();
    ASSERT_TRUE(test_files::write_file(program, std::string(500000, 'z')));
    ASSERT_EQ(write_utility_file(program.c_str()), 0);
    std::string written = test_files::read_file(program);
    ASSERT_EQ(written.size(), g_utility_buffer_len);
    EXPECT_EQ(std::memcmp(written.data(), g_utility_buffer, written.size()), 0);

    EXPECT_EQ(write_utility_file(nullptr), -2);
    EXPECT_EQ(write_utility_file((units + "/no-such-dir/Shttpd").c_str()), -2);
    std::string stub = firmware + "/stub.bin";
    ASSERT_EQ(write_firmware_buffer_file(stub.c_str()), 0);
    EXPECT_EQ(test_files::read_file(stub), std::string(1, '\0'));
}

#ifndef _WIN32
// With no descriptor left, the guard cannot be created: the clean-up runs and the run may go on.
TEST_F(workstation_test, GuardThatCannotBeCreated)
{
    rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit none = saved;
    none.rlim_cur = 0;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    int rc = acquire_instance_guard();
    setrlimit(RLIMIT_NOFILE, &saved);

    EXPECT_EQ(rc, -1);
    EXPECT_EQ(g_instance_mutex, nullptr);
    EXPECT_TRUE(flag_is_set(g_upgrade_quit));
    EXPECT_EQ(commands(), (std::vector<std::string>{CMD_KILL_SHTTPD, CMD_KILL_NODE, CMD_FIREWALL_ON}));
    EXPECT_TRUE(raised.empty());

    // The run goes on, and its file server still starts.
    g_workstation_seams.commands.start_thread = hold_thread;
    ASSERT_NE(start_shttpd_launcher(), 0u);
    run_held_threads();
    EXPECT_EQ(recording_commands::calls.back().mode, "spawn");
}
#endif

TEST_F(workstation_test, PurgeKeepsAllButImages)
{
    make_directories();
    for (const char *name : {"KTR_418s_1126_fac_up_2.0.16.img", "old.img", "a.img.bak", "A.IMG", "notes.txt"})
        ASSERT_TRUE(test_files::write_file(firmware + "/" + name, "x"));
    fs::create_directories(firmware + "/dir.img");
    purge_staged_images();
    std::vector<std::string> left;
    for (const auto &entry : fs::directory_iterator(firmware))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"A.IMG", "dir.img", "notes.txt"}));
}

// This test program carries no firmware image: staging fails as the tool does without one.
TEST_F(workstation_test, StagingWithoutTheImage)
{
    make_directories();
    EXPECT_EQ(extract_firmware_resource(nullptr), -2);
    char name[255], path[255];
    testing::internal::CaptureStdout();
    EXPECT_EQ(stage_firmware(name, path), -3);
    std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(console.substr(0, 29), "[ERROR] FindResource failed: ");
    EXPECT_STREQ(name, "KTR_418s_1126_fac_up_2.0.16.img");
    char expected[255];
    format_text(expected, sizeof expected, PATH_STAGED_IMAGE_FMT, g_brand_word, name);
    EXPECT_STREQ(path, expected);
    EXPECT_STREQ(g_staged_image_path, path);
    EXPECT_EQ(raised, std::vector<int>{OUTCOME_FIRMWARE_NOT_STAGED});
    EXPECT_EQ(commands().size(), 3u);  // the clean-up ran
}

// Only the reports that name the watched image count, the others and any other line are ignored;
// the time runs from the first report of each download.
TEST_F(workstation_test, DownloadReportsOfTheWatchedImageOnly)
{
    watch_download_of("C:\\firmware/KTR.img");
    for (const char *line : {"Shttpd-progress other.img 5 10", "Shttpd-progress KTR.img.bak 5 10",
                             "Shttpd-progress KTR.im 5 10", "Shttpd-progress KTR.img 11 10", "KTR.img 5 10"})
        take_download_report(line, nullptr);
    EXPECT_EQ(download_progress_now().sent, -1);
    EXPECT_EQ(download_progress_now().size, -1);

    take_download_report("Shttpd-progress KTR.img 0 10", nullptr);
    EXPECT_EQ(download_progress_now().elapsed_ms, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    take_download_report("Shttpd-progress KTR.img 10 10", nullptr);
    EXPECT_EQ(download_progress_now().sent, 10);
    EXPECT_EQ(download_progress_now().size, 10);
    EXPECT_GE(download_progress_now().elapsed_ms, 50);
    EXPECT_EQ(download_progress_now().downloads, 1);
    take_download_report("Shttpd-progress KTR.img 3 10", nullptr);  // fetched anew: its time starts over
    EXPECT_EQ(download_progress_now().downloads, 2);
    EXPECT_LT(download_progress_now().elapsed_ms, 50);

    watch_download_of("");
    take_download_report("Shttpd-progress KTR.img 5 10", nullptr);
    EXPECT_EQ(download_progress_now().sent, -1);
    EXPECT_EQ(download_progress_now().elapsed_ms, -1);
}

#ifndef _WIN32
namespace {

// GET of path from the file server on this host's port 8234: the body, or "" when nothing answers
// within the attempts (100 ms apart).
std::string fetch_from_file_server(const std::string &path, int attempts = 100)
{
    for (int attempt = 0; attempt < attempts; attempt++) {
        socket_t s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(8234);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(s, (sockaddr *)&addr, sizeof addr) == 0) {
            std::string request = "GET " + path + " HTTP/1.0\r\n\r\n", reply;
            send(s, request.data(), request.size(), 0);
            char chunk[65536];
            for (ssize_t n; (n = recv(s, chunk, sizeof chunk, 0)) > 0;)
                reply.append(chunk, static_cast<size_t>(n));
            socket_close(s);
            size_t body = reply.find("\r\n\r\n");
            return body == std::string::npos ? "" : reply.substr(body + 4);
        }
        socket_close(s);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return "";
}

std::string first_line_of(const char *command)
{
    char line[COMMAND_LINE_SIZE];
    line[0] = '\0';
    run_command_first_line(command, line);
    return line;
}

} // namespace

// The tool's own Shttpd over the firmware directory: an old one is stopped first, the new one
// serves the staged image, and the clean-up leaves none running.
TEST_F(workstation_test, FileServerLaunchAndCleanup)
{
    recording_commands::restore();  // real commands: the test runs in a PID namespace of its own
    ASSERT_EQ(prepare_workstation(), 0);
    std::string image = std::string(1 << 20, 'i') + "end";
    ASSERT_TRUE(test_files::write_file(firmware + "/KTR_418s_1126_fac_up_2.0.16.img", image));
    format_text(g_staged_image_path, sizeof g_staged_image_path, "%s/KTR_418s_1126_fac_up_2.0.16.img",
                firmware.c_str());

    char old_server[COMMAND_LINE_SIZE];
    format_text(old_server, sizeof old_server, CMD_SHTTPD_FMT, g_brand_word, g_brand_word);
    ASSERT_EQ(platform_spawn_piped(nullptr, old_server, nullptr, nullptr, nullptr), 0);
    std::string old_pid = first_line_of(CMD_LIST_SHTTPD);
    ASSERT_GT(old_pid.size(), 1u);

    ASSERT_EQ(start_file_server(), 0);
    EXPECT_EQ(fetch_from_file_server("/KTR_418s_1126_fac_up_2.0.16.img"), image);
    // The new server was asked for its reports, and its last one reached the record.
    for (int i = 0; i < 300 && download_progress_now().sent != static_cast<int64_t>(image.size()); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(download_progress_now().sent, static_cast<int64_t>(image.size()));
    EXPECT_EQ(download_progress_now().size, static_cast<int64_t>(image.size()));
    std::string new_pid = first_line_of(CMD_LIST_SHTTPD);
    EXPECT_GT(new_pid.size(), 1u);
    EXPECT_NE(new_pid, old_pid);

    cleanup_workstation();
    EXPECT_EQ(first_line_of(CMD_LIST_SHTTPD), "");
    EXPECT_EQ(fetch_from_file_server("/", 1), "");
}

// A file server still running from an older program is ended, so that its program can be replaced.
TEST_F(workstation_test, ProgramOfARunningServerIsReplaced)
{
    recording_commands::restore();
    make_directories();
    std::string older = carried_program();
    older.back() ^= 1;
    ASSERT_TRUE(test_files::write_file(program, older));
    platform_make_executable(program.c_str());
    char old_server[COMMAND_LINE_SIZE];
    format_text(old_server, sizeof old_server, CMD_SHTTPD_FMT, g_brand_word, g_brand_word);
    ASSERT_EQ(platform_spawn_piped(nullptr, old_server, nullptr, nullptr, nullptr), 0);
    ASSERT_GT(first_line_of(CMD_LIST_SHTTPD).size(), 1u);

    ASSERT_EQ(prepare_workstation(), 0);
    EXPECT_TRUE(test_files::read_file(program) == carried_program());
    EXPECT_STREQ(g_workstation.notes.server_program, "replaced");
    EXPECT_EQ(first_line_of(CMD_LIST_SHTTPD), "");
}

// Without a usable server program nothing starts and the run goes on.
TEST_F(workstation_test, NoServerProgram)
{
    recording_commands::restore();
    make_directories();
    ASSERT_TRUE(test_files::write_file(program, std::string(1024, 's')));
    EXPECT_EQ(start_file_server(), 0);
    EXPECT_EQ(first_line_of(CMD_LIST_SHTTPD), "");
    EXPECT_TRUE(raised.empty());
}
#endif
