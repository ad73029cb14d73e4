// Platform services that the Win32 and POSIX sides must both give in the same terms.
#include "download_report.h"
#include "neighbour_table.h"
#include "pipe_lines.h"
#include "platform.h"
#include "socket.h"
#include "test_files.h"
#include "text_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

#ifdef _WIN32
#define NULL_DEVICE "NUL"
#else
#define NULL_DEVICE "/dev/null"
#endif

namespace {

std::string unique_name(const char *what)
{
    return std::string("facup-test-") + what + "-" + std::to_string(std::rand()) + "-" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

bool wait_for_file(const std::string &path)
{
    for (int i = 0; i < 300 && !test_files::exists(path); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return test_files::exists(path);
}

void collect(const char *name, void *names) { static_cast<std::vector<std::string> *>(names)->push_back(name); }

// The lines a spawn_line_hook received, in order.
struct received_lines {
    std::mutex lock;
    std::vector<std::string> lines;
};

void receive_line(const char *line, void *context)
{
    auto *seen = static_cast<received_lines *>(context);
    std::lock_guard<std::mutex> hold(seen->lock);
    seen->lines.push_back(line);
}

// The lines received once there are at least count, or after 30 s.
std::vector<std::string> lines_after(received_lines &seen, size_t count)
{
    for (int i = 0;; i++) {
        {
            std::lock_guard<std::mutex> hold(seen.lock);
            if (seen.lines.size() >= count || i == 300)
                return seen.lines;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

} // namespace

TEST(NamedMutex, HeldUntilClosed)
{
    std::string name = unique_name("mutex");
    EXPECT_EQ(platform_mutex_open(name.c_str()), nullptr);
    bool existed = true;
    platform_mutex *held = platform_mutex_create(name.c_str(), &existed);
    ASSERT_NE(held, nullptr);
    EXPECT_FALSE(existed);

    platform_mutex *seen = platform_mutex_open(name.c_str());
    EXPECT_NE(seen, nullptr);
    platform_mutex_close(seen);
    platform_mutex *again = platform_mutex_create(name.c_str(), &existed);
    EXPECT_NE(again, nullptr);
    EXPECT_TRUE(existed);
    platform_mutex_close(again);

    platform_mutex_close(held);
    EXPECT_EQ(platform_mutex_open(name.c_str()), nullptr);
    platform_mutex_close(nullptr);
}

TEST(Directories, ListingMakingAndStatus)
{
    test_files::scratch_dir dir;
    ASSERT_EQ(platform_mkdir(dir.file("sub").c_str()), 0);
    ASSERT_TRUE(test_files::write_file(dir.file("a.img"), "x"));
    EXPECT_TRUE(platform_exists(dir.file("sub").c_str()));
    EXPECT_TRUE(platform_is_directory(dir.file("sub").c_str()));
    EXPECT_FALSE(platform_is_directory(dir.file("a.img").c_str()));
    EXPECT_FALSE(platform_exists(dir.file("none").c_str()));
    EXPECT_EQ(file_size_of(dir.file("a.img").c_str()), 1u);
    EXPECT_EQ(file_size_of(dir.file("none").c_str()), 0u);
    EXPECT_EQ(file_size_of(nullptr), 0u);

    std::vector<std::string> names;
    EXPECT_EQ(platform_list_directory(dir.path().c_str(), collect, &names), 0);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.img", "sub"}));
    EXPECT_EQ(platform_list_directory(dir.file("none").c_str(), collect, &names), -1);
}

// A program that writes far more than a pipe holds still finishes: the pipe is drained.
TEST(SpawnPiped, DrainsOutputAndKeepsTheCurrentDirectory)
{
    test_files::scratch_dir dir;
    fs::path before = fs::current_path();
    std::string line = std::string(SPEW_PROGRAM) + " 300000 marker.txt";
    ASSERT_EQ(platform_spawn_piped(dir.path().c_str(), &line[0], nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(fs::current_path(), before);
    EXPECT_TRUE(wait_for_file(dir.file("marker.txt")));

    std::string missing = "\"" + dir.file("no program here") + "\" 1 x";
    EXPECT_EQ(platform_spawn_piped(dir.path().c_str(), &missing[0], nullptr, nullptr, nullptr), -2);
    EXPECT_EQ(fs::current_path(), before);
}

// A command through the interpreter: its lines read from its stream, its exit status, one whose
// output is never read whole that must still end, and one given its input that ends once the input
// closes. Each runs outside the tool's process group, so that a terminal's Ctrl+C misses it.
TEST(Commands, ThroughTheInterpreter)
{
    FILE *command = platform_popen("echo first&& echo second", "r");
    ASSERT_NE(command, nullptr);
    char line[64] = "", second[64] = "";
    EXPECT_NE(std::fgets(line, sizeof line, command), nullptr);
    EXPECT_NE(std::fgets(second, sizeof second, command), nullptr);
    EXPECT_STREQ(line, "first\n");
    EXPECT_EQ(platform_pclose(command), 0);

    test_files::scratch_dir dir;
    std::string spew = std::string(SPEW_PROGRAM) + " 300000 \"" + dir.file("marker.txt") + "\" 1 2>" + NULL_DEVICE;
    command = platform_popen(spew.c_str(), "r");
    ASSERT_NE(command, nullptr);
    EXPECT_NE(std::fgets(line, 2, command), nullptr);
    EXPECT_STREQ(line, "o");
    EXPECT_NE(platform_pclose(command), -1);

    EXPECT_NE(platform_system("exit 3"), 0);
    EXPECT_EQ(platform_system("exit 0"), 0);
    FILE *input = platform_popen("exit 0", "w");
    ASSERT_NE(input, nullptr);
    EXPECT_EQ(platform_pclose(input), 0);
    EXPECT_EQ(platform_pclose(input), -1) << "closed once only";
#ifndef _WIN32
    command = platform_popen("cut -d' ' -f5 /proc/$$/stat; cut -d' ' -f5 /proc/$PPID/stat", "r");
    ASSERT_NE(command, nullptr);
    char own[32] = "", tools[32] = "";
    EXPECT_NE(std::fgets(own, sizeof own, command), nullptr);
    EXPECT_NE(std::fgets(tools, sizeof tools, command), nullptr);
    EXPECT_STRNE(own, tools) << "the command's process group is the tool's";
    platform_pclose(command);
#endif
}

// Either line end, one split across reads, a carriage return inside a line, an empty line, a line
// cut at the limit, and an unfinished last line, which never reaches the hook.
TEST(PipeLines, CutsTheOutputIntoLines)
{
    received_lines seen;
    pipe_lines lines = {receive_line, &seen, {}, 0};
    std::string long_line(SPAWN_LINE_MAX + 10, 'x');
    for (const std::string &chunk : {std::string("fir"), std::string("st\r"), std::string("\na\rb\n\n"),
                                     long_line + "\r\nafter\nunfinished"})
        pipe_lines_feed(&lines, chunk.data(), chunk.size());
    EXPECT_EQ(seen.lines,
              (std::vector<std::string>{"first", "a\rb", "", long_line.substr(0, SPAWN_LINE_MAX), "after"}));
}

// The program's lines reach the hook from the draining thread (with "\r\n" ends on Windows).
TEST(SpawnPiped, HandsEachLineToTheHook)
{
    test_files::scratch_dir dir;
    static received_lines seen;  // outlives the draining thread
    std::string line = std::string(SPEW_PROGRAM) + " 0 marker.txt 3";
    ASSERT_EQ(platform_spawn_piped(dir.path().c_str(), &line[0], receive_line, &seen, nullptr), 0);
    EXPECT_EQ(lines_after(seen, 3), (std::vector<std::string>{"line 1", "line 2", "line 3"}));
    EXPECT_TRUE(wait_for_file(dir.file("marker.txt")));
}

// A composed report parses back; every other line, however close, is no report.
TEST(DownloadReport, ComposedLinesParseBackAndNothingElseDoes)
{
    char line[DOWNLOAD_REPORT_SIZE];
    ASSERT_TRUE(format_download_report(line, sizeof line, "sub/a.img", 7400000, 15490649));
    EXPECT_STREQ(line, "Shttpd-progress sub/a.img 7400000 15490649");
    download_report report;
    ASSERT_TRUE(parse_download_report(line, &report));
    EXPECT_EQ(std::string(report.name, report.name_len), "sub/a.img");
    EXPECT_EQ(report.sent, 7400000);
    EXPECT_EQ(report.size, 15490649);
    ASSERT_TRUE(parse_download_report("Shttpd-progress a 999999999999999999 999999999999999999", &report));
    EXPECT_EQ(report.size, 999999999999999999);
    EXPECT_FALSE(format_download_report(line, sizeof line, std::string(DOWNLOAD_REPORT_SIZE, 'n').c_str(), 0, 1));

    for (const char *other : {"", "Shttpd: cannot listen on port 8234", "Shttpd-progress a 1", "Shttpd-progress  1 2",
                              "Shttpd-progress a 1 2 ", "Shttpd-progress a 1 2 3", "Shttpd-progress a -1 2",
                              "Shttpd-progress a +1 2", "Shttpd-progress a 3 2", "shttpd-progress a 1 2",
                              "Shttpd-progress a 1 1000000000000000000", "Shttpd-progress a\t1 2"})
        EXPECT_FALSE(parse_download_report(other, &report)) << other;
}

// Dotted addresses are exactly four numbers; /proc/net/arp's rows give their state by flags
// (complete, permanent, neither: unanswered with a zero address), and anything else is no row.
TEST(NeighbourTable, ReadsDottedAddressesAndArpRows)
{
    uint8_t ipv4[4];
    ASSERT_TRUE(ipv4_from_text("192.168.88.1", ipv4));
    EXPECT_EQ(std::vector<uint8_t>(ipv4, ipv4 + 4), (std::vector<uint8_t>{192, 168, 88, 1}));
    for (const char *other : {"", "192.168.88", "192.168.88.256", "1.2.3.4.5", "1..2.3", " 1.2.3.4", "1.2.3.4 ",
                              "0001.2.3.4", "a.b.c.d", "1.2.3.-4"})
        EXPECT_FALSE(ipv4_from_text(other, ipv4)) << other;

    const std::string too_long = "1.1.1.1 0x1 0x2 " + std::string(NEIGHBOUR_LINK_MAX * 3 + 2, 'a') + " * eth1";
    const struct {
        const char *line;
        neighbour_state state; // when read
        size_t link_len;       // 0: not a row
    } rows[] = {
        {"192.168.88.1     0x1         0x2         ca:7b:cc:57:30:1f     *        eth1\n", NEIGHBOUR_KNOWN, 6},
        {"10.0.0.1\t0x1\t0x6\tCA:7B:CC:57:30:1F\t*\twlan0", NEIGHBOUR_REACHABLE, 6},
        {"192.168.88.77    0x1         0x0         00:00:00:00:00:00     *        eth1\n", NEIGHBOUR_INCOMPLETE, 6},
        {"10.0.0.9 0x20 0x2 80:00:02:08:fe:80:00:00:00:00:00:00:00:02:c9:03:00:0a:7d:11 * ib0", NEIGHBOUR_KNOWN, 20},
        {"IP address       HW type     Flags       HW address            Mask     Device\n", NEIGHBOUR_KNOWN, 0},
        {"192.168.88.1 0x1 0x2 ca:7b:cc:57:30:1 * eth1", NEIGHBOUR_KNOWN, 0},
        {"192.168.88.1 0x1 0x2 ca:7b:cc:57:30:1fa * eth1", NEIGHBOUR_KNOWN, 0},
        {"192.168.88.1 0x1 0x2 ca-7b-cc-57-30-1f * eth1", NEIGHBOUR_KNOWN, 0},
        {"192.168.88.1 0x1 2 ca:7b:cc:57:30:1f * eth1", NEIGHBOUR_KNOWN, 0},
        {"192.168.88.1 0x1 0x2 ca:7b:cc:57:30:1f *", NEIGHBOUR_KNOWN, 0},
        {"192.168.88.1 0x1 0x2 ca:7b:cc:57:30:1f * eth1 more", NEIGHBOUR_KNOWN, 0},
        {too_long.c_str(), NEIGHBOUR_KNOWN, 0},
    };
    for (const auto &r : rows) {
        neighbour_entry entry;
        ASSERT_EQ(neighbour_parse_arp_line(r.line, &entry), r.link_len > 0) << r.line;
        if (r.link_len > 0) {
            EXPECT_EQ(entry.state, r.state) << r.line;
            EXPECT_EQ(entry.link_len, r.link_len) << r.line;
        }
    }
}

// The entry of an address: the best state of its rows, the first of equals; rows without an address
// (incomplete, empty as Wine lists multicast groups, all zero as it lists unanswered rows) leave it
// unknown; the longest address fills the text exactly.
TEST(NeighbourTable, ChoosesTheBestRowOfTheAddress)
{
    auto row = [](std::vector<uint8_t> ipv4, std::vector<uint8_t> link, neighbour_state state) {
        neighbour_entry e = {};
        std::copy(ipv4.begin(), ipv4.end(), e.ipv4);
        std::copy(link.begin(), link.end(), e.link);
        e.link_len = link.size();
        e.state = state;
        return e;
    };
    const std::vector<uint8_t> camera = {192, 168, 88, 1}, group = {224, 0, 0, 22}, silent = {192, 168, 88, 77};
    std::string longest = "ab";
    while (longest.size() < NEIGHBOUR_TEXT_SIZE - 1)
        longest += ":ab";
    std::vector<neighbour_entry> table = {
        row(silent, {0, 0, 0, 0, 0, 0}, NEIGHBOUR_KNOWN),
        row(camera, {0x02, 0, 0, 0, 0, 0x01}, NEIGHBOUR_INCOMPLETE),
        row(camera, {0x02, 0, 0, 0, 0, 0x02}, NEIGHBOUR_KNOWN),
        row(camera, {0xCA, 0x7B, 0xCC, 0x57, 0x30, 0x1F}, NEIGHBOUR_REACHABLE),
        row(camera, {0x02, 0, 0, 0, 0, 0x04}, NEIGHBOUR_REACHABLE),
        row(group, {}, NEIGHBOUR_REACHABLE),
        row({10, 0, 0, 1}, std::vector<uint8_t>(NEIGHBOUR_LINK_MAX, 0xAB), NEIGHBOUR_KNOWN),
    };
    const struct {
        std::vector<uint8_t> ipv4;
        size_t rows; // of the table, from its start
        neighbour_result result;
        std::string text;
    } cases[] = {
        {camera, table.size(), NEIGHBOUR_FOUND, "ca:7b:cc:57:30:1f"},
        {camera, 3, NEIGHBOUR_FOUND, "02:00:00:00:00:02"},
        {camera, 2, NEIGHBOUR_NO_ADDRESS, NEIGHBOUR_UNKNOWN},
        {silent, table.size(), NEIGHBOUR_NO_ADDRESS, NEIGHBOUR_UNKNOWN},
        {group, table.size(), NEIGHBOUR_NO_ADDRESS, NEIGHBOUR_UNKNOWN},
        {{192, 168, 88, 2}, table.size(), NEIGHBOUR_NO_ENTRY, NEIGHBOUR_UNKNOWN},
        {{10, 0, 0, 1}, table.size(), NEIGHBOUR_FOUND, longest},
    };
    for (const auto &c : cases) {
        char text[NEIGHBOUR_TEXT_SIZE];
        std::memset(text, '#', sizeof text);
        EXPECT_EQ(neighbour_choose(table.data(), c.rows, c.ipv4.data(), text), c.result) << c.text;
        EXPECT_EQ(std::string(text, strnlen(text, sizeof text)), c.text);
    }
    char text[NEIGHBOUR_TEXT_SIZE];
    EXPECT_EQ(neighbour_link_address("192.168.88", text), NEIGHBOUR_NO_TABLE);
    EXPECT_STREQ(text, NEIGHBOUR_UNKNOWN);
}

// Whole-text equality ignores the case of letters only, and a prefix is never equal; the directory
// part ends at the last separator of either kind.
TEST(TextUtil, WholeTextEqualityAndDirectoryPart)
{
    EXPECT_TRUE(text_equal_nocase("Content-LENGTH", "content-length"));
    EXPECT_TRUE(text_equal_nocase("", ""));
    for (const char *other : {"content-lengt", "content-lengthX", "content_length", ""})
        EXPECT_FALSE(text_equal_nocase("Content-Length", other)) << other;
    EXPECT_TRUE(text_equal_nocase("GET /a", 3, "get"));
    EXPECT_FALSE(text_equal_nocase("GET /a", 3, "GET /"));
    EXPECT_FALSE(text_equal_nocase("GE", 2, "GET"));

    const struct {
        const char *path;
        size_t length;
    } paths[] = {{"C:\\quorvane\\facup.exe", 12}, {"/usr/bin/facup", 9}, {"facup", 0}, {"", 0},
                 {"a/b\\c", 4}, {"a\\b/c", 4}, {"dir/", 4}};
    for (const auto &p : paths)
        EXPECT_EQ(path_directory_length(p.path), p.length) << p.path;
}

// The UTF-8 check at the edges of RFC 3629's table of well-formed sequences: each lead byte's
// second byte range, so that no overlong form, surrogate or code point past U+10FFFF passes, and a
// sequence cut short or with a stray byte inside does not either.
TEST(TextUtil, Utf8SequenceBoundaries)
{
    const struct {
        const char *bytes;
        size_t length; // of the sequence taken; 0: refused
    } cases[] = {
        {"\x7F", 1},             {"\x80", 0},             {"\xC0\xAF", 0},         {"\xC1\xBF", 0},
        {"\xC2\x80", 2},         {"\xDF\xBF", 2},         {"\xE0\x80\xAF", 0},     {"\xE0\x9F\xBF", 0},
        {"\xE0\xA0\x80", 3},     {"\xED\x9F\xBF", 3},     {"\xED\xA0\x80", 0},     {"\xEE\x80\x80", 3},
        {"\xEF\xBF\xBF", 3},     {"\xF0\x8F\xBF\xBF", 0}, {"\xF0\x90\x80\x80", 4}, {"\xF4\x8F\xBF\xBF", 4},
        {"\xF4\x90\x80\x80", 0}, {"\xF5\x80\x80\x80", 0}, {"\xE0\xA0", 0},         {"\xE0\xA0\xC0", 0},
        {"\xF0\x90\x80\x7F", 0},
    };
    for (const auto &c : cases) {
        size_t size = std::strlen(c.bytes);
        const auto *bytes = reinterpret_cast<const unsigned char *>(c.bytes);
        EXPECT_EQ(c.length, utf8_sequence_length(bytes, size)) << testing::PrintToString(c.bytes);
        EXPECT_EQ(c.length == size, is_utf8(c.bytes, size)) << testing::PrintToString(c.bytes);
    }
}

TEST(ErrorText, SystemMessages)
{
    EXPECT_STRNE(system_error_text(SOCK_ERR_REFUSED), "");
#ifndef _WIN32
    EXPECT_STREQ(system_error_text(EAI_NONAME), gai_strerror(EAI_NONAME));
#endif
}

#ifndef _WIN32
// The Linux port reads the UI language from the locale variables, the first one set.
TEST(UiLanguage, FromLocaleVariables)
{
    const struct {
        const char *lc_all, *lc_messages, *lang;
        bool chinese;
    } cases[] = {
        {"zh_CN.UTF-8", "", "", true}, {"", "zh_TW.UTF-8", "en_US.UTF-8", true},
        {"", "", "zh_HK.UTF-8", false}, {"", "", "zh_SG", false},
        {"", "", "en_GB.UTF-8", false}, {"en_US.UTF-8", "", "zh_CN.UTF-8", false},
        {"", "", "", false},
    };
    for (const auto &c : cases) {
        setenv("LC_ALL", c.lc_all, 1);
        setenv("LC_MESSAGES", c.lc_messages, 1);
        setenv("LANG", c.lang, 1);
        EXPECT_EQ(platform_ui_is_chinese(), c.chinese) << c.lc_all << "|" << c.lc_messages << "|" << c.lang;
    }
}
#endif
