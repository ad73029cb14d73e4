// The reply mailbox between the channel's worker (on_ws_text, on_ws_connected, on_ws_disconnected)
// and the driver, and the driver's wait on it for a deciding answer. Whether the current channel has
// connected and whether it has ended are noted from the moment it is opened, whenever the callback
// comes: a camera may take the connection and drop it again before the command is sent.
#include "reply_mailbox.h"

#include "debug_log.h"
#include "driver_seams.h"
#include "driver_state.h"
#include "rws.h"
#include "workstation.h"

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <utility>

char g_ws_reply[8192];
int32_t g_ws_reply_len;
shared_flag g_ws_connected{0};
shared_flag g_ws_reply_ready{0};

namespace {

// Texts from the camera reach the diagnostics log cut to this many bytes.
const size_t CAMERA_TEXT_SHOWN = 200;

// The condition the driver waits on for the mailbox. Made once and never destroyed, as its lock.
std::condition_variable &mailbox_changed()
{
    static std::condition_variable *changed = new std::condition_variable;
    return *changed;
}

// g_ws_reply_ready tells whether the mailbox holds a text: set here only (its lock held).
void note_reply_ready() { set_flag(g_ws_reply_ready, g_driver.mailbox.texts.empty() ? 0 : 1); }

// Bounded substring search in bytes that carry no terminator.
bool contains(const char *data, size_t length, const char *needle)
{
    size_t n = std::strlen(needle);
    for (size_t i = 0; n <= length && i <= length - n; i++)
        if (std::memcmp(data + i, needle, n) == 0)
            return true;
    return false;
}

// Takes the oldest text of the mailbox (its lock held) into g_ws_reply.
void take_reply()
{
    reply_mailbox_state &mailbox = g_driver.mailbox;
    const std::string &text = mailbox.texts.front();
    std::memcpy(g_ws_reply, text.data(), text.size());
    g_ws_reply[text.size()] = '\0';
    g_ws_reply_len = static_cast<int32_t>(text.size());
    mailbox.texts.pop_front();
    note_reply_ready();
}

// The camera's verdict in the text just taken, if it holds one.
reply_result judge_reply()
{
    if (std::strstr(g_ws_reply, "ok") != nullptr) {
        DEBUG_LOG("recv upgrade ws cli from device ok!\n");
        return REPLY_SUCCESS;
    }
    if (const char *fail = std::strstr(g_ws_reply, "fail")) {
        if (std::strstr(fail + 4, "\"8\"") != nullptr) {
            DEBUG_LOG("already newest version!\n");
            return REPLY_ALREADY_LATEST;
        }
        DEBUG_LOG("recv upgrade ws response from device: fail!\n");
        return REPLY_FAILURE;
    }
    DEBUG_LOG("recv upgrade res:%.*s.\n", camera_text_shown(static_cast<size_t>(g_ws_reply_len)), g_ws_reply);
    return REPLY_UNDECIDED;
}

// Only the current channel's callbacks count: an earlier attempt's may still come late.
bool is_current_channel(const rws_client *client)
{
    return client != nullptr && client == g_driver_seams.current_channel();
}

} // namespace

std::mutex &reply_mailbox_lock()
{
    static std::mutex *lock = new std::mutex;
    return *lock;
}

int camera_text_shown(size_t length)
{
    return static_cast<int>(length < CAMERA_TEXT_SHOWN ? length : CAMERA_TEXT_SHOWN);
}

void watch_new_channel()
{
    std::lock_guard<std::mutex> hold(reply_mailbox_lock());
    g_driver.mailbox.channel_ended = false;
    g_driver.mailbox.ended_before_command = false;
    set_flag(g_ws_connected, 0);
}

void reply_mailbox_open()
{
    std::lock_guard<std::mutex> hold(reply_mailbox_lock());
    g_driver.mailbox.open = true;
    g_driver.mailbox.texts.clear();
    note_reply_ready();
}

void reply_mailbox_close()
{
    std::lock_guard<std::mutex> hold(reply_mailbox_lock());
    g_driver.mailbox = reply_mailbox_state{};
    note_reply_ready();
}

reply_result wait_for_answer(bool stop_at_channel_end)
{
    const int64_t start = g_workstation_seams.now_ms();
    const int64_t limit_ms = static_cast<int64_t>(g_driver_seams.reply_limit_seconds) * 1000;
    std::unique_lock<std::mutex> lock(reply_mailbox_lock());
    for (;;) {
        if (!g_driver.mailbox.texts.empty()) {
            take_reply();
            reply_result verdict = judge_reply();
            if (verdict != REPLY_UNDECIDED)
                return verdict;
            continue;
        }
        if (g_driver.mailbox.ended_before_command)
            return REPLY_ENDED_BEFORE_COMMAND;
        if (stop_at_channel_end && g_driver.mailbox.channel_ended)
            return REPLY_CHANNEL_ENDED;
        int64_t waited = g_workstation_seams.now_ms() - start;
        if (waited > limit_ms)
            return REPLY_TIMEOUT;
        int64_t left = limit_ms - waited + 1;  // the limit counts as passed once exceeded
        g_driver_seams.wait(mailbox_changed(), lock, left < INT32_MAX ? static_cast<int>(left) : INT32_MAX);
    }
}

void on_ws_text(rws_client *, const char *text, uint32_t length)
{
    if (length > CAMERA_TEXT_SHOWN)
        DEBUG_LOG("\nSocket text: %.*s. (%u bytes; the log shows the first %u)\n", camera_text_shown(length), text,
                  length, static_cast<unsigned>(CAMERA_TEXT_SHOWN));
    else
        DEBUG_LOG("\nSocket text: %.*s.\n", camera_text_shown(length), text);
    if (contains(text, length, "auth"))
        return;
    std::string kept(text, length < sizeof g_ws_reply - 1 ? length : sizeof g_ws_reply - 1);
    std::lock_guard<std::mutex> hold(reply_mailbox_lock());
    reply_mailbox_state &mailbox = g_driver.mailbox;
    if (!mailbox.open) {
        DEBUG_LOG("text before the command, dropped: %.*s\n", camera_text_shown(kept.size()), kept.c_str());
        return;
    }
    if (mailbox.texts.size() == REPLY_MAILBOX_SIZE) {
        const std::string &oldest = mailbox.texts.front();
        DEBUG_LOG("reply mailbox full, oldest text dropped: %.*s\n", camera_text_shown(oldest.size()), oldest.c_str());
        mailbox.texts.pop_front();
    }
    mailbox.texts.push_back(std::move(kept));
    note_reply_ready();
    mailbox_changed().notify_one();
}

void on_ws_binary(rws_client *, const char *data, uint32_t length)
{
    char copy[8200];
    size_t n = length < sizeof copy - 1 ? length : sizeof copy - 1;
    std::memcpy(copy, data, n);
    copy[n] = '\0';
    DEBUG_LOG("\nSocket bin: <%.*s>", camera_text_shown(n), copy);
}

void on_ws_connected(rws_client *client)
{
    std::lock_guard<std::mutex> hold(reply_mailbox_lock());
    if (!is_current_channel(client)) {
        DEBUG_LOG("a connection of an earlier attempt at the command channel came late; ignored\n");
        return;
    }
    set_flag(g_ws_connected, 1);
    DEBUG_LOG("\nSocket connected.\n");
}

void on_ws_disconnected(rws_client *client)
{
    if (rws_fault *fault = rws_client_get_error(client)) {
        rws_fault_kind code = rws_fault_code(fault);
        DEBUG_LOG("\nSocket disconnect with code, error: %i, %s (the command channel ended: %s)\n", code,
                  rws_fault_text(fault), rws_fault_meaning(code));
    }
    std::lock_guard<std::mutex> hold(reply_mailbox_lock());
    if (!is_current_channel(client))
        return;
    if (!g_driver.mailbox.open) {
        DEBUG_LOG("the command channel ended before the command was sent\n");
        g_driver.mailbox.ended_before_command = true;
    }
    g_driver.mailbox.channel_ended = true;
    mailbox_changed().notify_one();
}
