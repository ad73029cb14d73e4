// The station's settings file: its text decoded to UTF-8, cut into lines of bounded length, and each
// "key = value" line checked against the keys the tool knows.
#include "settings.h"

#include "driver_state.h"
#include "platform.h"
#include "settings_text.h"
#include "text_util.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using namespace settings_text;

const size_t WARNING_SIZE = SETTINGS_LINE_MAX + 96;  // a warning line quotes at most one line

// One value a key accepts, and what it sets.
struct choice {
    const char *text;
    int value;
};
const size_t CHOICES_MAX = 4;

// The range and default of a key whose value is a whole number.
struct number_range {
    int low, high, fallback;
};

// A key the tool knows: its values (the first is the default; a number has none), or for a number
// its range; as a warning lists them; and where the value goes.
struct known_key {
    const char *name;
    choice choices[CHOICES_MAX] = {};
    number_range range = {0, 0, 0};
    const char *listed;
    void (*set)(station_settings &settings, int value);
};

// One row per key: a new key needs its member in station_settings and its row here.
const known_key KNOWN_KEYS[] = {
    {.name = "firewall",
     .choices = {{"off", FIREWALL_SWITCH_OFF}, {"rule", FIREWALL_SCOPED_RULE}},
     .listed = "off or rule",
     .set = [](station_settings &settings, int value) { settings.firewall = firewall_mode(value); }},
    {.name = "language",
     .choices = {{"auto", LANGUAGE_AUTO}, {"en", LANGUAGE_ENGLISH}, {"zh", LANGUAGE_CHINESE}},
     .listed = "auto, en or zh",
     .set = [](station_settings &settings, int value) { settings.language = language_choice(value); }},
    {.name = "confirm",
     .choices = {{"off", CONFIRM_OFF}, {"record", CONFIRM_RECORD}, {"strict", CONFIRM_STRICT}},
     .listed = "off, record or strict",
     .set = [](station_settings &settings, int value) { settings.confirm = confirm_mode(value); }},
    {.name = "confirm_seconds",
     .range = {CONFIRM_SECONDS_MIN, CONFIRM_SECONDS_MAX, CONFIRM_SECONDS_DEFAULT},
     .listed = "a whole number from 10 to 900",
     .set = [](station_settings &settings, int value) { settings.confirm_seconds = value; }},
    {.name = "report_seconds",
     .range = {1, REPORT_SECONDS_MAX, REPORT_SECONDS_DEFAULT},
     .listed = "a whole number from 1 to 30",
     .set = [](station_settings &settings, int value) { settings.report.seconds = value; }},
    {.name = "report_batch",
     .range = {1, REPORT_BATCH_MAX, REPORT_BATCH_DEFAULT},
     .listed = "a whole number from 1 to 1000",
     .set = [](station_settings &settings, int value) { settings.report.batch = value; }},
};

// True for a key whose values are choices (not a number).
bool has_choices(const known_key &known) { return known.choices[0].text != nullptr; }

bool set_report_url(station_settings &settings, const char *value)
{
    bool ok = is_report_url(value);
    settings.report.url = ok ? value : "";
    return ok;
}

bool set_report_header(station_settings &settings, const char *value)
{
    bool ok = is_header_line(value);
    settings.report.header = ok ? value : "";
    return ok;
}

bool set_metrics_file(station_settings &settings, const char *value)
{
    bool ok = is_full_path(value);
    settings.report.metrics_file = ok ? value : "";
    return ok;
}

// A key whose value is a text of its own: how it is checked and set (false: refused, the default
// set), what a warning says after "key = 'value'", whether the value is taken whole, an inline
// comment never cut from it (a ";" or "#" belongs to a URL or a header value), and whether it may
// hold a secret (a token, or a URL's "user:password@"), which a warning never shows.
enum value_shown { SHOWN, NEVER_SHOWN, SHOWN_WITHOUT_AT };
struct text_key {
    const char *name;
    bool (*set)(station_settings &settings, const char *value);
    const char *refusal;
    bool whole;
    value_shown shown;
};
const text_key TEXT_KEYS[] = {
    {"report_url", set_report_url, "is not an http:// or https:// URL; records are not sent", true, SHOWN_WITHOUT_AT},
    {"report_header", set_report_header, "is not one 'Name: value' line; no header is sent", true, NEVER_SHOWN},
    {"metrics_file", set_metrics_file, "is not a full path; no metrics file is written", false, SHOWN},
};

// The text key a line sets, or nullptr: the key before its "=", trimmed.
const text_key *text_key_of(const char *line)
{
    const char *equals = std::strchr(line, '=');
    if (equals == nullptr)
        return nullptr;
    std::string key(line, static_cast<size_t>(equals - line));
    while (!key.empty() && is_blank(key.back()))
        key.pop_back();
    for (const text_key &known : TEXT_KEYS)
        if (text_equal_nocase(known.name, key.c_str()))
            return &known;
    return nullptr;
}

// The value as a key takes it: the choice's number, or the whole number itself within the key's
// range. False when the key does not take it.
bool value_of(const known_key &known, const char *text, int &value)
{
    for (const choice &c : known.choices) {
        if (c.text != nullptr && text_equal_nocase(c.text, text)) {
            value = c.value;
            return true;
        }
    }
    if (has_choices(known))
        return false;
    size_t digits = std::strspn(text, "0123456789");
    if (digits == 0 || digits > 6 || text[digits] != '\0')
        return false;
    value = std::atoi(text);
    return value >= known.range.low && value <= known.range.high;
}

// The default a warning names and the key takes.
void apply_default(station_settings &settings, const known_key &known, char *text, size_t size)
{
    int value = has_choices(known) ? known.choices[0].value : known.range.fallback;
    if (has_choices(known))
        format_text(text, size, "%s", known.choices[0].text);
    else
        format_text(text, size, "%d", value);
    known.set(settings, value);
}

// Keeps the first SETTINGS_WARNINGS_SHOWN warnings; the rest are only counted.
void add_warning(station_settings &settings, const char *line)
{
    if (settings.warnings.size() < SETTINGS_WARNINGS_SHOWN)
        settings.warnings.emplace_back(line);
    else
        settings.warnings_not_shown++;
}

// One setting: a known key takes one of its values; anything else is a warning, and the default.
void apply_setting(station_settings &settings, const char *key, const char *value)
{
    char warning[WARNING_SIZE];
    for (const text_key &known : TEXT_KEYS) {
        if (!text_equal_nocase(known.name, key))
            continue;
        if (!known.set(settings, value)) {
            if (known.shown == NEVER_SHOWN || (known.shown == SHOWN_WITHOUT_AT && std::strchr(value, '@')))
                format_text(warning, sizeof warning, "facup.ini: %s (its value not shown) %s", known.name,
                            known.refusal);
            else
                format_text(warning, sizeof warning, "facup.ini: %s = '%s' %s", known.name,
                            shown_text(value).c_str(), known.refusal);
            add_warning(settings, warning);
        }
        return;
    }
    for (const known_key &known : KNOWN_KEYS) {
        if (!text_equal_nocase(known.name, key))
            continue;
        int taken = 0;
        if (value_of(known, value, taken)) {
            known.set(settings, taken);
            return;
        }
        char fallback[32];
        apply_default(settings, known, fallback, sizeof fallback);
        format_text(warning, sizeof warning, "facup.ini: %s = '%s' is not %s; using %s", known.name,
                    shown_text(value).c_str(), known.listed, fallback);
        add_warning(settings, warning);
        return;
    }
    format_text(warning, sizeof warning, "facup.ini: unknown key '%s', ignored", shown_text(key).c_str());
    add_warning(settings, warning);
}

// One line, without its line end, of at most SETTINGS_LINE_MAX bytes: blank, a comment, or a
// setting (a line without "=" is a key without a value), perhaps with a comment behind it.
void parse_line(station_settings &settings, char *line)
{
    char *text = trim(line);
    if (text[0] == '\0' || text[0] == ';' || text[0] == '#')
        return;
    const text_key *key = text_key_of(text);
    if (key == nullptr || !key->whole)
        cut_inline_comment(text);
    char *equals = std::strchr(text, '=');
    const char *value = "";
    if (equals != nullptr) {
        *equals = '\0';
        value = unquote(trim(equals + 1));
    }
    apply_setting(settings, trim(text), value);
}

} // namespace

station_settings parse_settings(const char *bytes, size_t size)
{
    station_settings settings;
    std::string text = utf8_text(bytes, size);
    size_t start = 0;
    for (unsigned number = 1; start < text.size(); number++) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        size_t length = end - start;
        while (length > 0 && text[start + length - 1] == '\r')
            length--;
        if (length > SETTINGS_LINE_MAX) {
            char warning[WARNING_SIZE];
            format_text(warning, sizeof warning, "facup.ini: line %u is longer than %u bytes, ignored", number,
                        static_cast<unsigned>(SETTINGS_LINE_MAX));
            add_warning(settings, warning);
        } else {
            char line[SETTINGS_LINE_MAX + 1];
            std::memcpy(line, text.data() + start, length);
            line[length] = '\0';
            parse_line(settings, line);
        }
        start = end + 1;
    }
    if (settings.warnings_not_shown > 0) {
        char warning[WARNING_SIZE];
        format_text(warning, sizeof warning, "facup.ini: %u more warnings not shown",
                    static_cast<unsigned>(settings.warnings_not_shown));
        settings.warnings.emplace_back(warning);
    }
    return settings;
}

station_settings read_settings_file(const char *path)
{
    std::unique_ptr<FILE, int (*)(FILE *)> file(std::fopen(path, "rb"), std::fclose);
    if (file == nullptr)
        return station_settings{};
    std::vector<char> bytes(SETTINGS_FILE_MAX + 1);
    size_t size = std::fread(bytes.data(), 1, bytes.size(), file.get());
    if (std::ferror(file.get()))
        return station_settings{};
    if (size > SETTINGS_FILE_MAX) {
        station_settings settings;
        char warning[WARNING_SIZE];
        format_text(warning, sizeof warning, "facup.ini: larger than %u bytes, ignored; using the defaults",
                    static_cast<unsigned>(SETTINGS_FILE_MAX));
        settings.warnings.emplace_back(warning);
        return settings;
    }
    return parse_settings(bytes.data(), size);
}

void load_station_settings()
{
    char path[COMMAND_LINE_SIZE];
    const size_t name_size = sizeof SETTINGS_FILE_NAME;  // with its terminator
    if (!platform_executable_path(path, sizeof path - name_size))
        return;
    std::memcpy(path + path_directory_length(path), SETTINGS_FILE_NAME, name_size);
    station_settings settings = read_settings_file(path);
    for (const std::string &warning : settings.warnings)
        std::puts(warning.c_str());
    g_workstation.firewall = settings.firewall;
    g_driver.settings = settings;
}
