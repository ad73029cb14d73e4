// The station's counters in the exposition format: read back from the previous file, counted on,
// and written to a temporary file that replaces the old one, so that a reader never sees half.
#include "metrics_file.h"

#include "platform.h"
#include "text_util.h"
#include "tool_version.h"
#include "workstation.h"

#include <map>

namespace {

const char COUNTER_PREFIX[] = "facup_runs_total{result=\"";
const size_t RESULT_LABEL_MAX = 16;
// A previous file larger than this is no file of ours.
const size_t METRICS_PREVIOUS_MAX = 1u << 20;

// A result label as the tool writes them: letters, digits and "-", 1 to 16 of them.
bool is_result_label(const std::string &label)
{
    if (label.empty() || label.size() > RESULT_LABEL_MAX)
        return false;
    for (char c : label)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'))
            return false;
    return true;
}

// The counter of one complete line `facup_runs_total{result="ok0"} 12`; false for anything else.
bool parse_counter_line(const std::string &line, std::string &label, uint64_t &count)
{
    size_t prefix = sizeof COUNTER_PREFIX - 1;
    if (line.compare(0, prefix, COUNTER_PREFIX) != 0)
        return false;
    size_t close = line.find("\"} ", prefix);
    if (close == std::string::npos)
        return false;
    label = line.substr(prefix, close - prefix);
    std::string digits = line.substr(close + 3);
    if (!is_result_label(label) || digits.empty() || digits.size() > 19)
        return false;
    count = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        count = count * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

// The counters of the previous text, from its complete lines only: a line cut short by a torn
// write has no line end and is not read.
std::map<std::string, uint64_t> read_counters(const std::string &previous)
{
    std::map<std::string, uint64_t> counters;
    size_t start = 0;
    for (size_t end; (end = previous.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string label;
        uint64_t count;
        if (parse_counter_line(previous.substr(start, end - start), label, count) &&
            (counters.count(label) > 0 || counters.size() < METRICS_MAX_RESULTS))
            counters[label] = count;
    }
    return counters;
}

void add_metric(std::string &out, const char *name, const char *type, const char *help)
{
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

} // namespace

std::string metrics_text(const std::string &previous, const run_metrics &run)
{
    std::map<std::string, uint64_t> counters = read_counters(previous);
    counters.emplace("ok0", 0);  // the series a dashboard divides by is always there
    std::string result = run.result != nullptr && is_result_label(run.result) ? run.result : METRICS_NO_RESULT;
    counters[result]++;

    std::string out;
    char line[160];
    add_metric(out, "facup_runs_total", "counter", "Runs of the upgrade tool on this station, by result code.");
    for (const auto &counter : counters) {
        format_text(line, sizeof line, "facup_runs_total{result=\"%s\"} %llu\n", counter.first.c_str(),
                    static_cast<unsigned long long>(counter.second));
        out += line;
    }
    add_metric(out, "facup_last_run_timestamp_seconds", "gauge", "When the last run ended, in seconds since 1970.");
    format_text(line, sizeof line, "facup_last_run_timestamp_seconds %.3f\n",
                static_cast<double>(run.ended_utc_ms) / 1000.0);
    out += line;
    add_metric(out, "facup_last_run_duration_seconds", "gauge", "How long the last run took.");
    format_text(line, sizeof line, "facup_last_run_duration_seconds %.3f\n", run.seconds);
    out += line;
    add_metric(out, "facup_last_run_exit_code", "gauge", "The process exit code of the last run.");
    format_text(line, sizeof line, "facup_last_run_exit_code %d\n", run.exit_status);
    out += line;
    add_metric(out, "facup_outbox_records", "gauge", "Run records waiting on this station for delivery.");
    format_text(line, sizeof line, "facup_outbox_records %llu\n", static_cast<unsigned long long>(run.outbox_records));
    out += line;
    add_metric(out, "facup_outbox_refused", "gauge",
               "Run records the collector refused as malformed, set aside on this station.");
    format_text(line, sizeof line, "facup_outbox_refused %llu\n", static_cast<unsigned long long>(run.outbox_refused));
    out += line;
    add_metric(out, "facup_info", "gauge", "The tool's version and the firmware it carries.");
    out += "facup_info{version=\"" FACUP_TOOL_VERSION "\",firmware=\"" TARGET_FIRMWARE_VERSION "\"} 1\n";
    return out;
}

int metrics_file_update(const char *path, const run_metrics &run)
{
    std::string previous;
    if (!read_file_bounded(path, METRICS_PREVIOUS_MAX, previous))
        previous.clear();  // missing, unreadable or no file of ours: the counters start at 0
    std::string text = metrics_text(previous, run);
    return replace_file_content(path, text.data(), static_cast<uint32_t>(text.size()));
}
