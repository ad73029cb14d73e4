// The run's diagnostics log and the logs directory it shares with the run records.
#include "diagnostics_log.h"

#include "commands.h"
#include "workstation.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

// What the log holds in memory while the working root does not exist yet: enough for every line
// of a run up to the working-directory stage, bounded against a run that logs without end.
const size_t PENDING_MAX = 256 * 1024;
const size_t LINE_TEXT_MAX = 4096;

const int64_t MS_PER_DAY = 86400000;

// The proleptic Gregorian date of a count of days since 1970-01-01.
void civil_from_days(int64_t days, int64_t *year, unsigned *month, unsigned *day)
{
    days += 719468;  // counted from 0000-03-01, so that the leap day ends each 400-year era's years
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned day_of_era = (unsigned)(days - era * 146097);
    const unsigned year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned shifted_month = (5 * day_of_year + 2) / 153;  // March is 0
    *day = day_of_year - (153 * shifted_month + 2) / 5 + 1;
    *month = shifted_month < 10 ? shifted_month + 3 : shifted_month - 9;
    *year = (int64_t)year_of_era + era * 400 + (*month <= 2 ? 1 : 0);
}

// The log of the run: its file once the run may keep one and the working root exists, the lines
// held until then.
struct log_writer {
    std::mutex lock;
    bool active = false;      // between diagnostics_begin and diagnostics_end
    bool kept = false;        // the run may keep a log (diagnostics_keep)
    bool prunes = false;      // the run prunes old logs when its own opens
    bool unwritable = false;  // the working root exists, but the log cannot be written there
    char name[64] = "";
    FILE *file = nullptr;
    std::string pending;
};
log_writer writer;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// True for the names the tool gives its logs, exactly: "run-YYYYMMDDTHHMMSSZ-<pid>.log". Any other
// file of the logs directory is never pruned.
bool is_run_log(const char *name)
{
    const char *p = name;
    if (std::strncmp(p, "run-", 4) != 0)
        return false;
    p += 4;
    for (int i = 0; i < 15; i++, p++)
        if (i == 8 ? *p != 'T' : !is_digit(*p))
            return false;
    if (std::strncmp(p, "Z-", 2) != 0)
        return false;
    p += 2;
    const char *pid = p;
    while (is_digit(*p))
        p++;
    return p > pid && std::strcmp(p, ".log") == 0;
}

void collect_run_log(const char *name, void *context)
{
    if (is_run_log(name) && std::strcmp(name, writer.name) != 0)
        static_cast<std::vector<std::string> *>(context)->push_back(name);
}

// Keeps the newest logs, this run's own always among them: the names begin with the run's start, so
// name order is age order.
void prune_old_logs()
{
    char dir[COMMAND_LINE_SIZE];
    format_text(dir, sizeof dir, PATH_LOGS_DIR_FMT, g_brand_word);
    std::vector<std::string> logs;
    platform_list_directory(dir, collect_run_log, &logs);
    const size_t others_kept = (size_t)DIAGNOSTICS_LOGS_KEPT - 1;
    if (logs.size() <= others_kept)
        return;
    std::sort(logs.begin(), logs.end());
    char path[COMMAND_LINE_SIZE];
    for (size_t i = 0; i + others_kept < logs.size(); i++)
        if (logs_entry_path(logs[i].c_str(), path, sizeof path))
            std::remove(path);
}

// Opens the run's log once the run may keep one and the working root exists, and hands it what
// memory holds (lock held). True while the file is open.
bool open_log()
{
    if (writer.file != nullptr)
        return true;
    if (writer.unwritable || !writer.kept)
        return false;
    logs_directory state = prepare_logs_directory();
    if (state == LOGS_NO_ROOT)
        return false;
    char path[COMMAND_LINE_SIZE];
    if (state == LOGS_READY && logs_entry_path(writer.name, path, sizeof path))
        writer.file = std::fopen(path, "ab");
    if (writer.file == nullptr) {
        writer.unwritable = true;
        writer.pending.clear();
        return false;
    }
    std::fwrite(writer.pending.data(), 1, writer.pending.size(), writer.file);
    std::fflush(writer.file);
    writer.pending.clear();
    if (writer.prunes)
        prune_old_logs();
    return true;
}

} // namespace

void format_utc(int64_t ms, utc_form form, char *out, size_t size)
{
    int64_t days = ms >= 0 ? ms / MS_PER_DAY : -((-ms + MS_PER_DAY - 1) / MS_PER_DAY);
    int64_t of_day = ms - days * MS_PER_DAY;
    int64_t year;
    unsigned month, day;
    civil_from_days(days, &year, &month, &day);
    int hour = (int)(of_day / 3600000), minute = (int)(of_day / 60000 % 60), second = (int)(of_day / 1000 % 60);
    int milli = (int)(of_day % 1000);
    if (form == UTC_COMPACT)
        format_text(out, size, "%04lld%02u%02uT%02d%02d%02dZ", (long long)year, month, day, hour, minute, second);
    else if (form == UTC_SECONDS)
        format_text(out, size, "%04lld-%02u-%02uT%02d:%02d:%02dZ", (long long)year, month, day, hour, minute, second);
    else
        format_text(out, size, "%04lld-%02u-%02uT%02d:%02d:%02d.%03dZ", (long long)year, month, day, hour, minute,
                    second, milli);
}

int64_t utc_now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

logs_directory prepare_logs_directory()
{
    char root[COMMAND_LINE_SIZE], dir[COMMAND_LINE_SIZE];
    format_text(root, sizeof root, PATH_WORKING_ROOT_FMT, g_brand_word);
    format_text(dir, sizeof dir, PATH_LOGS_DIR_FMT, g_brand_word);
    if (!platform_exists(root))
        return LOGS_NO_ROOT;
    if (!platform_is_directory(dir))
        platform_mkdir(dir);
    return platform_is_directory(dir) ? LOGS_READY : LOGS_UNUSABLE;
}

bool logs_entry_path(const char *name, char *out, size_t size)
{
    return format_text(out, size, PATH_LOGS_ENTRY_FMT, g_brand_word, name);
}

void escape_log_text(const char *text, char *out, size_t size)
{
    if (size == 0)
        return;
    const char *start = text;
    while (*start == '\n' || *start == '\r')
        start++;
    size_t length = std::strlen(start);
    while (length > 0 && (start[length - 1] == '\n' || start[length - 1] == '\r'))
        length--;
    size_t used = 0;
    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)start[i];
        char piece[5] = {(char)c, '\0'};
        if (c == '\n')
            std::memcpy(piece, "\\n", 3);
        else if (c == '\r')
            std::memcpy(piece, "\\r", 3);
        else if (c == '\t')
            std::memcpy(piece, "\\t", 3);
        else if (c < 0x20 || c == 0x7f)
            format_text(piece, sizeof piece, "\\x%02x", c);
        size_t n = std::strlen(piece);
        if (used + n >= size)
            break;  // an escape is never cut in half
        std::memcpy(out + used, piece, n);
        used += n;
    }
    out[used] = '\0';
}

void diagnostics_begin(int64_t started_ms)
{
    std::lock_guard<std::mutex> hold(writer.lock);
    if (writer.file != nullptr)
        std::fclose(writer.file);
    writer.file = nullptr;
    writer.kept = writer.prunes = false;
    writer.unwritable = false;
    writer.pending.clear();
    char stamp[32];
    format_utc(started_ms, UTC_COMPACT, stamp, sizeof stamp);
    format_text(writer.name, sizeof writer.name, "run-%s-%lu.log", stamp, platform_process_id());
    writer.active = true;
}

void diagnostics_keep(bool prune_old)
{
    std::lock_guard<std::mutex> hold(writer.lock);
    if (!writer.active)
        return;
    writer.kept = true;
    writer.prunes = prune_old;
    open_log();
}

void diagnostics_line(const char *file, int line, const char *text)
{
    char stamp[32];
    format_utc(utc_now_ms(), UTC_MILLISECONDS, stamp, sizeof stamp);
    char escaped[LINE_TEXT_MAX];
    escape_log_text(text, escaped, sizeof escaped);
    std::string entry = std::string(stamp) + " " + path_base_name(file) + ":" + std::to_string(line) + " " + escaped + "\n";

    std::lock_guard<std::mutex> hold(writer.lock);
    if (!writer.active)
        return;
    if (open_log()) {
        std::fwrite(entry.data(), 1, entry.size(), writer.file);
        std::fflush(writer.file);
    } else if (!writer.unwritable && writer.pending.size() + entry.size() <= PENDING_MAX) {
        writer.pending += entry;
    }
}

void diagnostics_end()
{
    std::lock_guard<std::mutex> hold(writer.lock);
    if (!writer.active)
        return;
    open_log();
    if (writer.file != nullptr)
        std::fclose(writer.file);
    writer.file = nullptr;
    writer.pending.clear();
    writer.active = false;
}
