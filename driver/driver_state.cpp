// The driver's state record and the one reset of the driver's and the workstation's state.
#include "driver_state.h"

#include "driver.h"
#include "driver_seams.h"
#include "eligibility.h"
#include "outcomes.h"
#include "platform.h"
#include "reply_mailbox.h"
#include "workstation.h"

#include <cstring>
#include <mutex>

driver_state &g_driver = *new driver_state;

void reset_driver_state()
{
    set_flag(g_silent_mode, 0);
    set_flag(g_chinese_ui, 0);
    set_flag(g_upgrade_ok, 0);
    set_flag(g_upgrade_quit, 0);
    set_flag(g_ws_connected, 0);
    set_flag(g_ws_reply_ready, 0);
    std::memset(g_ws_reply, 0, sizeof g_ws_reply);
    g_ws_reply_len = 0;
    std::memset(g_device_model, 0, sizeof g_device_model);
    g_device_model_found = 0;
    std::memset(g_staged_image_path, 0, sizeof g_staged_image_path);
    {
        std::lock_guard<std::mutex> hold(reply_mailbox_lock());
        g_driver = driver_state{};
    }
    reset_workstation_state();
    g_stage_functions = REAL_STAGE_FUNCTIONS;
    g_driver_seams = REAL_DRIVER_SEAMS;
    g_workstation_seams = TOOL_WORKSTATION_SEAMS;
    platform_set_text_route(TEXT_ANSI);
}
