#include "exchange_fakes.h"

#include "command_exchange.h"
#include "driver_seams.h"
#include "driver_state.h"
#include "outcomes.h"
#include "recording_commands.h"
#include "reply_mailbox.h"
#include "shared_values.h"

#include <cstring>

namespace exchange_fakes {

std::vector<int> raised;
int64_t fake_now;
std::function<void(int64_t now)> at_each_wait;
std::vector<int> slept;
std::function<int(int attempt)> download_result;
int downloads;
int download_status;
const rws_client *current = nullptr;

void fake_sleep_ms(int ms)
{
    slept.push_back(ms);
    fake_now += ms;
}

void text(const std::string &t) { on_ws_text(nullptr, t.data(), static_cast<uint32_t>(t.size())); }

namespace {

void record_outcome(outcome_id outcome) { raised.push_back(outcome); }

int64_t fake_now_ms() { return fake_now; }

void fake_wait(std::condition_variable &, std::unique_lock<std::mutex> &lock, int ms)
{
    lock.unlock();
    fake_now += ms < 1000 ? ms : 1000;
    if (at_each_wait)
        at_each_wait(fake_now);
    lock.lock();
}

int fake_download(const char *, int, int *status)
{
    downloads++;
    if (status != nullptr)
        *status = download_status;
    return download_result ? download_result(downloads) : 1;
}

const rws_client *current_channel() { return current; }

} // namespace

} // namespace exchange_fakes

using namespace exchange_fakes;

void exchange_test::SetUp()
{
    std::memset(&run, 0, sizeof run);
    std::strcpy(run.device_address, "192.168.88.1");
    reset_driver_state();
    recording_commands::install();
    raised.clear();
    g_workstation_seams.report_outcome = record_outcome;
    g_workstation_seams.now_ms = fake_now_ms;
    g_workstation_seams.sleep_ms = fake_sleep_ms;
    g_driver_seams.wait = fake_wait;
    g_driver_seams.download_device_info = fake_download;
    g_driver_seams.current_channel = current_channel;
    current = nullptr;
    fake_now = 0;
    at_each_wait = nullptr;
    slept.clear();
    download_result = nullptr;
    downloads = 0;
    download_status = 200;
}

void exchange_test::TearDown()
{
    recording_commands::restore();
    g_workstation_seams.report_outcome = nullptr;
    reset_driver_state();
}

int exchange_test::answer_with(const std::vector<std::string> &texts)
{
    raised.clear();
    set_flag(g_upgrade_ok, 0);
    reply_mailbox_open();
    for (const auto &t : texts)
        text(t);
    return await_reply(&run);
}
