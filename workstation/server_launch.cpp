// The local HTTP file server: started on a detached launcher thread over the firmware directory,
// stopped by the clean-up, which also makes sure that no launch still pending can start a server
// after it, while a launch begun after the clean-up proceeds.
#include "server_launch.h"

#include "commands.h"
#include "shared_values.h"
#include "text_util.h"
#include "waits.h"
#include "workstation.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>

namespace {

// A usable server program is larger than this.
const uint32_t SERVER_PROGRAM_MIN = 1024;

// The file-server launches of the process. Each launch records the generation current when it was
// begun; each clean-up starts a new one. A launcher acts only while its generation is current, so a
// launch pending at a clean-up never starts a server, and one begun after it does.
struct launch_state {
    std::mutex lock;
    unsigned generation = 0;                     // guarded by lock
    std::atomic<int> node_launchers_waiting{0};  // node launchers blocked in their command
    std::atomic<unsigned> servers_started{0};    // launches that have started their server
};
launch_state g_launches;

// The commands that find and stop one kind of file server, by the image name it runs under.
struct server_commands {
    const char *image;
    const char *list;  // its first output line is longer than one character while one runs
    const char *kill;
};

const server_commands SERVERS[] = {
    {"node.exe", CMD_LIST_NODE, CMD_KILL_NODE},
    {"Shttpd.exe", CMD_LIST_SHTTPD, CMD_KILL_SHTTPD},
};

// The commands for an image name; any name but "node.exe" means Shttpd.
const server_commands &server_named(const char *image)
{
    for (const server_commands &server : SERVERS)
        if (std::strcmp(server.image, image) == 0)
            return server;
    return SERVERS[1];
}

// How long the start waits for its launcher's server to listen: a second for the launcher to start
// it, and ten more.
const int LISTEN_WAIT_MS = 11000;

// How long a launcher gives a server it stopped to free the port.
const int PORT_FREE_WAIT_MS = 1000;

bool port_is_free(const void *) { return !g_workstation_seams.port_accepts(FILE_SERVER_PORT); }

// A server started by a launch after the count given listens on the port. Only such a server
// counts: a leftover server that the launcher is about to kill must never end the wait.
bool own_server_listens(const void *started_before)
{
    return g_launches.servers_started.load() != *static_cast<const unsigned *>(started_before) &&
           g_workstation_seams.port_accepts(FILE_SERVER_PORT);
}

// The wait for the server also ends once an interrupt is pending: the interrupt waits for this stage.
bool own_server_listens_or_interrupted(const void *started_before)
{
    return flag_is_set(g_workstation.interrupt_pending) || own_server_listens(started_before);
}

// The launcher starts the server after it has stopped any server left over: wait, within a limit,
// until the server of this run's launch listens, so that the camera is never told to fetch the
// image before it can. A server that never listens is left for the camera's download to report.
void wait_until_listening(unsigned started_before)
{
    wait_until(own_server_listens_or_interrupted, &started_before, LISTEN_WAIT_MS);
}

// The generation travels to the launcher thread as its argument.
void *as_argument(unsigned generation) { return reinterpret_cast<void *>(static_cast<uintptr_t>(generation)); }
unsigned as_generation(void *argument) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(argument)); }

void shttpd_body(void *argument) { shttpd_launcher(as_generation(argument)); }
void node_body(void *argument) { node_launcher(as_generation(argument)); }

unsigned current_generation()
{
    std::lock_guard<std::mutex> lock(g_launches.lock);
    return g_launches.generation;
}

// Stops any server left over, unless the launch is no longer current: then a server of a later
// launch may be running, and it is not this launcher's to kill. Under the lock, so that a clean-up
// cannot begin a new generation in between. Returns how many kinds of server it stopped, or -1
// when the launch is no longer current.
int kill_leftover_servers(unsigned generation)
{
    std::lock_guard<std::mutex> lock(g_launches.lock);
    if (generation != g_launches.generation)
        return -1;
    int stopped = kill_if_listed("node.exe") ? 1 : 0;
    return kill_if_listed("Shttpd.exe") ? stopped + 1 : stopped;
}

// With the lock held: true when the launch is current, and then counts its server as started, for
// the start's listen check.
bool begin_own_server(unsigned generation)
{
    if (generation != g_launches.generation)
        return false;
    g_launches.servers_started++;
    return true;
}

} // namespace

bool kill_if_listed(const char *image)
{
    const server_commands &server = server_named(image);
    char line[COMMAND_LINE_SIZE];
    line[0] = '\0';
    run_command_first_line(server.list, line);
    if (std::strlen(line) <= 1)
        return false;
    run_command_quiet(server.kill);
    return true;
}

int shttpd_launcher(unsigned generation)
{
    int stopped = kill_leftover_servers(generation);
    if (stopped < 0)
        return 0;
    if (stopped > 0)  // a killed server frees the port only as it ends
        wait_until(port_is_free, nullptr, PORT_FREE_WAIT_MS);
    char command[COMMAND_LINE_SIZE];
    format_text(command, sizeof command, CMD_SHTTPD_FMT, g_brand_word, g_brand_word);
    // Under the lock the clean-up either comes first (no server starts) or finds the server
    // already started and kills it.
    std::lock_guard<std::mutex> lock(g_launches.lock);
    if (begin_own_server(generation))
        spawn_reporting_server(command);
    return 0;
}

int node_launcher(unsigned generation)
{
    if (kill_leftover_servers(generation) < 0)
        return 0;
    char command[COMMAND_LINE_SIZE];
    format_text(command, sizeof command, CMD_NODE_FMT, g_brand_word, g_brand_word, g_brand_word);
    {
        std::lock_guard<std::mutex> lock(g_launches.lock);
        if (!begin_own_server(generation))
            return 0;
        g_launches.node_launchers_waiting++;
    }
    g_workstation_seams.commands.system(command);  // blocks while the server runs
    g_launches.node_launchers_waiting--;
    return 0;
}

unsigned long start_shttpd_launcher()
{
    return g_workstation_seams.commands.start_thread(shttpd_body, as_argument(current_generation()));
}

unsigned long start_node_launcher()
{
    return g_workstation_seams.commands.start_thread(node_body, as_argument(current_generation()));
}

int start_file_server()
{
    char shttpd[COMMAND_LINE_SIZE], script[COMMAND_LINE_SIZE];
    format_text(shttpd, sizeof shttpd, PATH_SHTTPD_FMT, g_brand_word);
    format_text(script, sizeof script, PATH_HTTPD_JS_FMT, g_brand_word);
    unsigned long (*start_launcher)();
    outcome_id failure;
    if (file_size_of(shttpd) > SERVER_PROGRAM_MIN) {
        start_launcher = start_shttpd_launcher;
        failure = OUTCOME_SHTTPD_LAUNCH_FAILED;
    } else if (file_size_of(script) > SERVER_PROGRAM_MIN) {
        start_launcher = start_node_launcher;
        failure = OUTCOME_NODE_LAUNCH_FAILED;
    } else {
        return 0;  // no usable server: the camera's download fails later and says so
    }
    unsigned started_before = g_launches.servers_started.load();
    if (start_launcher() != 0) {
        wait_until_listening(started_before);
        return 0;
    }
    raise_outcome(failure);
    cleanup_workstation();
    return -3;
}

void stop_server_launches()
{
    std::lock_guard<std::mutex> lock(g_launches.lock);
    g_launches.generation++;
}

void await_node_launcher()
{
    // A node launcher may have passed its check just before the clean-up and start the server
    // after the first kill: kill again until every such command has returned (bounded: about 5 s).
    // A count, not a flag: a launcher that outlives this wait must not hide a later one.
    for (int i = 0; i < 50 && g_launches.node_launchers_waiting.load() > 0; i++) {
        g_workstation_seams.sleep_ms(100);
        run_command_quiet(CMD_KILL_NODE);
    }
}
