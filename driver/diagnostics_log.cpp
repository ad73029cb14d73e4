// The run's diagnostics log and the logs directory it shares with the run records; the stamps of
// its lines and its name come from utc_time.h.
#include "diagnostics_log.h"

#include "commands.h"
#include "platform.h"
#include "text_util.h"
#include "utc_time.h"
#include "workstation.h"

#include <algorithm>
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
    const size_t others_kept = static_cast<size_t>(DIAGNOSTICS_LOGS_KEPT) - 1;
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
        unsigned char c = static_cast<unsigned char>(start[i]);
        char piece[5] = {static_cast<char>(c), '\0'};
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
