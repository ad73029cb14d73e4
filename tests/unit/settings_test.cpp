// The station's settings file: its encodings, its line and size bounds, and its warnings.
#include "settings.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using warnings = std::vector<std::string>;

station_settings parse(const std::string &bytes) { return parse_settings(bytes.data(), bytes.size()); }

// text (ASCII, or UTF-8 up to U+FFFF and one pair for a higher code point) as UTF-16 with its mark.
std::string utf16(const std::u16string &text, bool big_endian)
{
    std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t unit : text) {
        char high = (char)(unit >> 8), low = (char)(unit & 0xFF);
        out += big_endian ? high : low;
        out += big_endian ? low : high;
    }
    return out;
}

} // namespace

TEST(settings, CommentsCaseBlanksAndLineEnds)
{
    station_settings s = parse("; station 4\r\n# line B\n\n  FireWall\t=  RULE  \r\nLanguage=Zh\n"
                               "Confirm = Strict\nconfirm_seconds = \"10\"");
    EXPECT_EQ(s.firewall, FIREWALL_SCOPED_RULE);
    EXPECT_EQ(s.language, LANGUAGE_CHINESE);
    EXPECT_EQ(s.confirm, CONFIRM_STRICT);
    EXPECT_EQ(s.confirm_seconds, 10);
    EXPECT_EQ(s.warnings, warnings{});
    EXPECT_EQ(parse("confirm = record\nconfirm_seconds = 900").confirm_seconds, 900);
    EXPECT_EQ(parse("").confirm, CONFIRM_OFF);
    EXPECT_EQ(parse("").confirm_seconds, 180);

    s = parse("language = en\nlanguage = auto\n");  // the last line of a key wins
    EXPECT_EQ(s.language, LANGUAGE_AUTO);
    EXPECT_EQ(parse("").warnings, warnings{});
    EXPECT_EQ(read_settings_file("no such facup.ini").warnings, warnings{});
}

// Every bad line is one warning and the key's default; nothing else changes.
TEST(settings, WarningsKeepTheDefaults)
{
    station_settings s = parse("firewall = rule\nFirewall = Off!\nlanguage = zh\nlanguage = fr\ncolour = red\n"
                               "firewall\n= x\nconfirm = strict\nconfirm = yes\nconfirm_seconds = 30\n"
                               "confirm_seconds = 9\nconfirm_seconds = 901\nconfirm_seconds = 60s\n"
                               "confirm_seconds = -20\nconfirm_seconds = 99999999999\n");
    EXPECT_EQ(s.firewall, FIREWALL_SWITCH_OFF);
    EXPECT_EQ(s.language, LANGUAGE_AUTO);
    EXPECT_EQ(s.confirm, CONFIRM_OFF);
    EXPECT_EQ(s.confirm_seconds, 180);
    const std::string seconds = "' is not a whole number from 10 to 900; using 180";
    EXPECT_EQ(s.warnings, (warnings{"facup.ini: firewall = 'Off!' is not off or rule; using off",
                                    "facup.ini: language = 'fr' is not auto, en or zh; using auto",
                                    "facup.ini: unknown key 'colour', ignored",
                                    "facup.ini: firewall = '' is not off or rule; using off",
                                    "facup.ini: unknown key '', ignored",
                                    "facup.ini: confirm = 'yes' is not off, record or strict; using off",
                                    "facup.ini: confirm_seconds = '9" + seconds,
                                    "facup.ini: confirm_seconds = '901" + seconds,
                                    "facup.ini: confirm_seconds = '60s" + seconds,
                                    "facup.ini: confirm_seconds = '-20" + seconds,
                                    "facup.ini: confirm_seconds = '99999999999" + seconds}));
}

// Settings as people write them: comments behind values, quotes, stray carriage returns. A value
// still not understood is a warning and the default.
TEST(settings, AsPeopleWriteThem)
{
    for (const char *line : {"firewall = rule ; scoped rule", "firewall = rule\t# scoped", "firewall = \"rule\"",
                             "firewall = \"rule\" ; quoted", "firewall = rule\r\r\n", "firewall = rule\r  \n"}) {
        station_settings s = parse(line);
        EXPECT_EQ(s.firewall, FIREWALL_SCOPED_RULE) << line;
        EXPECT_EQ(s.warnings, warnings{}) << line;
    }
    EXPECT_EQ(parse("firewall = rule;x").warnings,
              warnings{"facup.ini: firewall = 'rule;x' is not off or rule; using off"});
    EXPECT_EQ(parse("firewall = \"rule ; x\"").warnings,
              warnings{"facup.ini: firewall = 'rule ; x' is not off or rule; using off"});
    EXPECT_EQ(parse("firewall = \"rule").warnings,
              warnings{"facup.ini: firewall = '\"rule' is not off or rule; using off"});
    // Control characters (an escape, a tab, a DEL, C1's CSI) never reach the console as they are.
    EXPECT_EQ(parse("colour\x1b[2J\tgrey = 1\nlanguage = \x1b]0;x\x07\x7f\xC2\x9B" "2J\xC2\xA0\xC3\x9F\n").warnings,
              (warnings{"facup.ini: unknown key 'colour?[2J?grey', ignored",
                        "facup.ini: language = '?]0;x???2J\xC2\xA0\xC3\x9F' is not auto, en or zh; using auto"}));
}

// Twenty warnings are kept; the rest are counted in one more line.
TEST(settings, WarningsAreBounded)
{
    std::string text;
    for (int i = 0; i < 1000; i++)
        text += "colour" + std::to_string(i) + " = red\n";
    station_settings s = parse(text);
    ASSERT_EQ(s.warnings.size(), SETTINGS_WARNINGS_SHOWN + 1);
    EXPECT_EQ(s.warnings[19], "facup.ini: unknown key 'colour19', ignored");
    EXPECT_EQ(s.warnings[20], "facup.ini: 980 more warnings not shown");
    EXPECT_EQ(parse(text.substr(0, text.find("colour20"))).warnings.size(), SETTINGS_WARNINGS_SHOWN);
}

// UTF-8 with or without its mark and UTF-16 either way read alike, characters beyond ASCII too.
TEST(settings, EncodingsReadAlike)
{
    const std::string utf8 = "firewall = rule\r\nlanguage = zh\r\nschl\xC3\xBCssel = \xE6\xB5\x8B\r\n"
                             "\xF0\x9F\x93\xB7 = 1\r\n";
    const std::u16string text = u"firewall = rule\r\nlanguage = zh\r\nschl\u00FCssel = \u6D4B\r\n\U0001F4F7 = 1\r\n";
    const warnings expected = {"facup.ini: unknown key 'schl\xC3\xBCssel', ignored",
                               "facup.ini: unknown key '\xF0\x9F\x93\xB7', ignored"};
    for (const std::string &bytes : {utf8, "\xEF\xBB\xBF" + utf8, utf16(text, false), utf16(text, true)}) {
        station_settings s = parse(bytes);
        EXPECT_EQ(s.firewall, FIREWALL_SCOPED_RULE);
        EXPECT_EQ(s.language, LANGUAGE_CHINESE);
        EXPECT_EQ(s.warnings, expected);
    }
    // A lone surrogate reads as U+FFFD.
    EXPECT_EQ(parse(utf16(u"\xD800=1", false)).warnings, warnings{"facup.ini: unknown key '\xEF\xBF\xBD', ignored"});
}

// A line of SETTINGS_LINE_MAX bytes (its line end not counted) is read; one byte more is not.
TEST(settings, LongestLine)
{
    std::string fits = "language = zh" + std::string(SETTINGS_LINE_MAX - 13, ' ');
    ASSERT_EQ(fits.size(), SETTINGS_LINE_MAX);
    EXPECT_EQ(parse(fits + "\r\n").language, LANGUAGE_CHINESE);
    EXPECT_EQ(parse(fits).language, LANGUAGE_CHINESE);

    station_settings s = parse("firewall = rule\n" + fits + " \nlanguage = en");
    EXPECT_EQ(s.language, LANGUAGE_ENGLISH);
    EXPECT_EQ(s.firewall, FIREWALL_SCOPED_RULE);
    EXPECT_EQ(s.warnings, warnings{"facup.ini: line 2 is longer than 255 bytes, ignored"});
}

// A file of SETTINGS_FILE_MAX bytes is read; one byte more is not read at all.
TEST(settings, LargestFile)
{
    test_files::scratch_dir dir;
    std::string text = "firewall = rule\n";
    while (text.size() < SETTINGS_FILE_MAX)
        text += "; " + std::string(std::min<size_t>(SETTINGS_FILE_MAX - text.size(), 200), '-') + "\n";
    text.resize(SETTINGS_FILE_MAX);
    ASSERT_TRUE(test_files::write_file(dir.file("fits.ini"), text));
    ASSERT_TRUE(test_files::write_file(dir.file("larger.ini"), text + "\n"));

    station_settings s = read_settings_file(dir.file("fits.ini").c_str());
    EXPECT_EQ(s.firewall, FIREWALL_SCOPED_RULE);
    EXPECT_EQ(s.warnings, warnings{});
    s = read_settings_file(dir.file("larger.ini").c_str());
    EXPECT_EQ(s.firewall, FIREWALL_SWITCH_OFF);
    EXPECT_EQ(s.warnings, warnings{"facup.ini: larger than 65536 bytes, ignored; using the defaults"});
}

// The delivery keys: the URL and the header line are taken whole (a ";" or "#" is no comment
// there), the seconds as the other keys' values; without them, no delivery.
TEST(settings, ReportKeys)
{
    station_settings s = parse("REPORT_URL = HTTPS://collector:8443/in?q=INSERT%20INTO%20t;b#c\r\n"
                               "report_header = X-Key:\ta ;b #c\nreport_seconds = 30 ; the most\n"
                               "metrics_file = C:\\textfile\\facup.prom ; for the exporter\nreport_batch = 1000");
    EXPECT_EQ(s.report.url, "HTTPS://collector:8443/in?q=INSERT%20INTO%20t;b#c");
    EXPECT_EQ(s.report.header, "X-Key:\ta ;b #c");
    EXPECT_EQ(s.report.seconds, 30);
    EXPECT_EQ(s.report.batch, 1000);
    EXPECT_EQ(s.report.metrics_file, "C:\\textfile\\facup.prom");
    EXPECT_EQ(s.warnings, warnings{});
    s = parse("report_url = \"http://10.0.0.9/\"\nreport_seconds=1\nmetrics_file = /var/lib/textfile/facup.prom");
    EXPECT_EQ(s.report.url, "http://10.0.0.9/");
    EXPECT_EQ(s.report.metrics_file, "/var/lib/textfile/facup.prom");
    EXPECT_EQ(s.report.seconds, 1);
    s = parse("");
    EXPECT_EQ(s.report.url, "");
    EXPECT_EQ(s.report.header, "");
    EXPECT_EQ(s.report.seconds, REPORT_SECONDS_DEFAULT);
    EXPECT_EQ(s.report.batch, 1);
}

// A refused value is a warning and the default (a later bad line undoes an earlier good one); a
// control character is shown as "?", and a header line, which may hold a token, not at all.
TEST(settings, ReportKeysRefused)
{
    station_settings s = parse("report_url = http://h/\nreport_url = ftp://h/\nreport_url = http://\n"
                               "report_url = http://h/ ; note\nreport_url = htp://u:pw@h/\nreport_header = X-Key: v\nreport_header = X-Key a\n"
                               "report_header = : v\nreport_header = X\tKey: v\nreport_header = X-Key: a\x01"
                               "b\nreport_header = X-Key: a\rb\nreport_seconds = 0\nreport_seconds = 31\n"
                               "report_seconds = 2s\nmetrics_file = facup.prom\nreport_batch = 500\nreport_batch = 0\n"
                               "report_batch = 1001\n");
    EXPECT_EQ(s.report.url, "");
    EXPECT_EQ(s.report.header, "");
    EXPECT_EQ(s.report.seconds, REPORT_SECONDS_DEFAULT);
    EXPECT_EQ(s.report.batch, REPORT_BATCH_DEFAULT);
    const std::string url = "' is not an http:// or https:// URL; records are not sent";
    const std::string header = "facup.ini: report_header (its value not shown) is not one 'Name: value' line; no "
                               "header is sent";
    EXPECT_EQ(s.warnings, (warnings{"facup.ini: report_url = 'ftp://h/" + url, "facup.ini: report_url = 'http://" + url,
                                    "facup.ini: report_url = 'http://h/ ; note" + url,
                                    "facup.ini: report_url (its value not shown) is not an http:// or https:// URL; "
                                    "records are not sent",
                                    header, header, header, header,
                                    header,
                                    "facup.ini: report_seconds = '0' is not a whole number from 1 to 30; using 3",
                                    "facup.ini: report_seconds = '31' is not a whole number from 1 to 30; using 3",
                                    "facup.ini: report_seconds = '2s' is not a whole number from 1 to 30; using 3",
                                    "facup.ini: metrics_file = 'facup.prom' is not a full path; no metrics file is "
                                    "written",
                                    "facup.ini: report_batch = '0' is not a whole number from 1 to 1000; using 1",
                                    "facup.ini: report_batch = '1001' is not a whole number from 1 to 1000; using 1"}));
}
