// The outbox's files: records named by run id, whose id begins with the run's start in fixed-width
// hex, so that name order is age order; the folder of refused records; leftovers of cut writes.
#include "outbox.h"

#include "debug_log.h"
#include "diagnostics_log.h"
#include "platform.h"
#include "run_id.h"
#include "utc_time.h"
#include "workstation.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

const char OUTBOX_DIR[] = "outbox";
const char RECORD_SUFFIX[] = ".json";
// What replace_file_content writes a record to before its rename, and the age past which such a
// leftover is removed.
const char TEMPORARY_SUFFIX[] = ".tmp";
const int64_t TEMPORARY_MAX_AGE_MS = 24LL * 3600 * 1000;

// True for the names the outbox gives records, exactly: a run id and ".json".
bool is_record_name(const char *name)
{
    for (size_t i = 0; i < RUN_ID_LENGTH; i++) {
        char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return std::strcmp(name + RUN_ID_LENGTH, RECORD_SUFFIX) == 0;
}

void collect_record(const char *name, void *context)
{
    if (is_record_name(name))
        static_cast<std::vector<std::string> *>(context)->push_back(name);
}

// The outbox, or its folder of that name, made when missing (the logs directory must exist). False
// when it cannot be.
bool prepare_outbox(const std::string &folder = "")
{
    std::string dir = outbox_path(folder);
    if (prepare_logs_directory() != LOGS_READY || dir.empty())
        return false;
    std::string outbox = outbox_path();
    if (!platform_is_directory(outbox.c_str()))
        platform_mkdir(outbox.c_str());
    if (!platform_is_directory(dir.c_str()))
        platform_mkdir(dir.c_str());
    return platform_is_directory(dir.c_str());
}

// Drops the oldest records of the outbox (or of its folder) until at most keep of them are there
// (the bound being max_records).
void drop_oldest(size_t keep, size_t max_records, const std::string &folder = "")
{
    std::vector<std::string> names = outbox_records(folder);
    std::string prefix = folder.empty() ? "" : folder + "/";
    for (size_t i = 0; i + keep < names.size(); i++) {
        std::remove(outbox_path(prefix + names[i]).c_str());
        DEBUG_LOG("warning: the outbox%s%s holds more than %u records: the oldest, %s, is dropped\n",
                  folder.empty() ? "" : "/", folder.c_str(), static_cast<unsigned>(max_records), names[i].c_str());
    }
}



// A record file whose writer ended before its rename (a power loss, a process killed): named as a
// record with ".tmp" behind.
bool is_temporary_name(const char *name)
{
    return std::strlen(name) == RUN_ID_LENGTH + sizeof RECORD_SUFFIX - 1 + sizeof TEMPORARY_SUFFIX - 1 &&
           std::strcmp(name + RUN_ID_LENGTH + sizeof RECORD_SUFFIX - 1, TEMPORARY_SUFFIX) == 0 &&
           is_record_name(std::string(name, RUN_ID_LENGTH + sizeof RECORD_SUFFIX - 1).c_str());
}

void collect_temporary(const char *name, void *context)
{
    if (is_temporary_name(name))
        static_cast<std::vector<std::string> *>(context)->push_back(name);
}

} // namespace

std::string outbox_path(const std::string &name)
{
    char path[COMMAND_LINE_SIZE];
    std::string entry = name.empty() ? OUTBOX_DIR : std::string(OUTBOX_DIR) + "/" + name;
    return logs_entry_path(entry.c_str(), path, sizeof path) ? path : "";
}

std::vector<std::string> outbox_records(const std::string &folder)
{
    std::vector<std::string> names;
    std::string dir = outbox_path(folder);
    if (!dir.empty())
        platform_list_directory(dir.c_str(), collect_record, &names);
    std::sort(names.begin(), names.end());
    return names;
}

bool refuses_for_good(int status) { return status == 400 || status == 413 || status == 422; }

void set_aside(const std::string &name, int status)
{
    std::string target = std::string(OUTBOX_REFUSED_DIR) + "/" + name;
    bool ready = prepare_outbox(OUTBOX_REFUSED_DIR);
    if (ready)
        drop_oldest(OUTBOX_MAX_RECORDS - 1, OUTBOX_MAX_RECORDS, OUTBOX_REFUSED_DIR);
    if (!ready || platform_replace_file(outbox_path(name).c_str(), outbox_path(target).c_str()) != 0) {
        DEBUG_LOG("delivery: %s, refused with status %d, cannot be set aside: it will be sent again\n", name.c_str(),
                  status);
        return;
    }
    DEBUG_LOG("delivery: the collector refuses %s for good (status %d): set aside in %s, never sent again\n",
              name.c_str(), status, outbox_path(OUTBOX_REFUSED_DIR).c_str());
}

void remove_stale_temporaries()
{
    std::vector<std::string> names;
    std::string dir = outbox_path();
    if (dir.empty() || platform_list_directory(dir.c_str(), collect_temporary, &names) != 0)
        return;
    for (const std::string &name : names) {
        std::string path = outbox_path(name);
        int64_t modified = file_modified_utc_ms(path.c_str());
        if (modified >= 0 && utc_now_ms() - modified > TEMPORARY_MAX_AGE_MS && std::remove(path.c_str()) == 0)
            DEBUG_LOG("delivery: %s, a record never written whole, was more than a day old: removed\n", name.c_str());
    }
}

size_t outbox_record_count() { return outbox_records().size(); }

size_t outbox_refused_count() { return outbox_records(OUTBOX_REFUSED_DIR).size(); }

int outbox_keep(const std::string &run_id, const std::string &line, size_t max_records)
{
    if (!prepare_outbox()) {
        DEBUG_LOG("delivery: the outbox cannot be made in the logs directory: the record is not kept\n");
        return -1;
    }
    drop_oldest(max_records > 0 ? max_records - 1 : 0, max_records);
    std::string whole = line + "\n";
    std::string final_path = outbox_path(run_id + RECORD_SUFFIX);
    if (replace_file_content(final_path.c_str(), whole.data(), static_cast<uint32_t>(whole.size())) != 0) {
        DEBUG_LOG("delivery: the record cannot be written to %s\n", final_path.c_str());
        return -1;
    }
    return 0;
}
