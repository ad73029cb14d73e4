// The outcome catalogue and its reporting: every user-visible end of a run, in English and Chinese.
// The texts are written here in UTF-8; the Windows build compiles this file with the GBK execution
// character set, so the Chinese texts and the full-width "！" (A3 A1) reach the ANSI calls as GBK.
#include "outcomes.h"

#include "debug_log.h"
#include "driver.h"
#include "interrupt.h"
#include "run_record.h"
#include "workstation.h"

#include <cstdio>
#include <cstring>

shared_flag g_silent_mode{0};
shared_flag g_chinese_ui{0};
shared_flag g_upgrade_ok{0};

namespace {

constexpr outcome CATALOGUE[] = {
    {OUTCOME_ANOTHER_INSTANCE,
     "more than one instance!\nPlz wait last upgrader ok!",
     "本工具不允许多开！\n请等待上一次升级完成!\n人为中断可能导致设备损坏！",
     BOX_STYLE_ERROR, "err1"},
    {OUTCOME_NO_CAMERA_ADDRESS,
     "[1]No camera connected!\nPlz connect via usb and wait driver prepare ok then reopen software!",
     "[1]未检测到相机！\n请先连接到相机!\n通过usb或wifi皆可。",
     BOX_STYLE_ERROR, "err-4"},
    {OUTCOME_NO_DEVICE_INFO,
     "[1]No camera connected!\nPlz connect via usb and wait driver prepare ok then reopen software!",
     "[1]未检测到相机！\n请先连接到相机!\n通过usb或wifi皆可。",
     BOX_STYLE_ERROR, "err0"},
    {OUTCOME_FIRST_BURN_MODEL,
     "not accept first burn version, plz return camera to TOLV!",
     "此为第一烧片版本，无法进行升级！\n请返厂进行升级，谢谢!",
     BOX_STYLE_ERROR, "err-2"},
    {OUTCOME_MODEL_INVALID,
     "Upgrade fail, Camera model invalid!",
     "不支持的设备型号，无法升级！\n请更换设备!",
     BOX_STYLE_ERROR, "err-2"},
    {OUTCOME_SAME_VERSION,
     "No need upgrade!",
     "固件版本一致，无法升级！\n请更换新固件!",
     BOX_STYLE_ERROR, "err-2"},
    {OUTCOME_NO_FITS_DATABASE,
     "local fits database not exist, upgrade fail!\n",
     "缺少本地识别数据库，无法升级！请用带识别库的版本尝试！\n",
     BOX_STYLE_ERROR, "err-3"},
    {OUTCOME_NO_ADMIN_ROOT,
     "No administrator privileges!",
     "本程序没有管理员权限无法运行!",
     BOX_STYLE_ERROR, "err-1"},
    {OUTCOME_NO_ADMIN_UNITS,
     "No administrator privileges!",
     "本程序没有管理员权限无法运行!",
     BOX_STYLE_ERROR, "err-2"},
    {OUTCOME_NO_ADMIN_FIRMWARE,
     "No administrator privileges!",
     "本程序没有管理员权限无法运行!",
     BOX_STYLE_ERROR, "err-3"},
    {OUTCOME_SHTTPD_NOT_WRITTEN,
     "Upgrade fail！\nPlease allow to run Shttpd!",
     "插件不存在，无法升级！\n请允许在pc上运行一次Shttpd!",
     BOX_STYLE_ERROR, "err-4"},
    {OUTCOME_SHTTPD_MISSING,
     "No administrator privileges!",
     "本程序没有管理员权限无法运行!",
     BOX_STYLE_ERROR, "err-5"},
    {OUTCOME_UTILITIES_MISSING,
     "utilities not exist, upgrade fail!\n",
     "插件不存在，无法升级！\n",
     BOX_STYLE_ERROR, "err-8"},
    {OUTCOME_FIRMWARE_NOT_STAGED,
     "firmware not exist, upgrade fail！\n",
     "固件不存在，无法升级！\n",
     BOX_STYLE_ERROR, "err-3"},
    {OUTCOME_SHTTPD_LAUNCH_FAILED,
     "service start fail, upgrade fail!\nPlz not start this App twice in a short time!\nPlz turn off firewall during upgrading!\n",
     "服务启动失败，无法升级！\n请不要多开本程序!\n如果有防火墙，请关闭所有网络的防火墙!\n",
     BOX_STYLE_ERROR, "err-3"},
    {OUTCOME_NODE_LAUNCH_FAILED,
     "upgrade fail!\nError no: 355!",
     "本PC上尚未运行过Tetherly软件，无法升级！\n请先运行Tetherly程序!",
     BOX_STYLE_ERROR, "err-3"},
    {OUTCOME_CANNOT_CONNECT,
     "Can not connect to camera, do not disconnect during upgrading!",
     "相机无法连接，升级过程请勿断开相机!",
     BOX_STYLE_ERROR, "err-5"},
    {OUTCOME_SEND_FAILED,
     "Can not connect to camera, do not disconnect during upgrading!",
     "相机无法连接，升级过程请勿断开相机!\n如问题依旧，请运行ram检查工具检查相机DRAM是否正常！",
     BOX_STYLE_ERROR, "err-6"},
    {OUTCOME_UPGRADE_OK,
     "Upgrade ok, camera will reboot!\nPlz wait 1min to init device!",
     "升级成功，相机将自动重启!\n无其他操作，可直接拔掉设备！",
     BOX_STYLE_PLAIN, "ok0"},
    {OUTCOME_ALREADY_LATEST,
     "Already the latest version!",
     "已是最新版本!\n无其他操作，可直接拔掉设备！",
     BOX_STYLE_PLAIN, "err-11"},
    {OUTCOME_UPGRADE_FAILED,
     "Upgrade fail, Plz not start this App twice in a short time!\nPlz turn off firewall during upgrading!",
     "升级失败，请反馈给工程师!\n请不要多开本程序!\n如果有防火墙，请关闭所有网络的防火墙!\n",
     BOX_STYLE_ERROR, "err0"},
    {OUTCOME_NOT_CONFIRMED,
     "Upgrade not confirmed: the camera did not come back with the new firmware!",
     "升级未确认：相机重启后未检测到新固件！",
     BOX_STYLE_ERROR, "err-12"},
    {OUTCOME_CAN_BE_UPGRADED,
     "The camera can be upgraded to " TARGET_FIRMWARE_VERSION ".",
     "相机可以升级到 " TARGET_FIRMWARE_VERSION "。",
     BOX_STYLE_PLAIN, "chk0"},
};

// Every id from 1 to OUTCOME_COUNT has its row, in id order, so that an outcome's row is found by its
// id: a missing, extra or misplaced row stops the build.
constexpr bool rows_follow_ids()
{
    for (int i = 0; i < OUTCOME_COUNT; i++)
        if (CATALOGUE[i].id != i + 1)
            return false;
    return true;
}
static_assert(sizeof CATALOGUE / sizeof CATALOGUE[0] == OUTCOME_COUNT, "one catalogue row per outcome id");
static_assert(rows_follow_ids(), "catalogue rows in outcome id order");

const char CAPTION_ENGLISH[] = "Quorvane Camera Factory Upgrade Tool v2.91";
const char CAPTION_CHINESE[] = "类Quorvane相机出厂升级工具 v2.91";

const char WARNING_ENGLISH[] =
    "This tool only provided for tester, may cost more than 2mins!\n"
    "Plz do not disconnect the usb during the upgrade process, otherwise the device will be damaged!";
const char WARNING_CHINESE[] = "本程序仅供特定用户使用，升级可能耗时大于2分钟，升级过程中请勿断开usb！\n否则会造成设备损坏！";

const char RESULT_FILE[] = "flashret.txt";

} // namespace

const outcome *outcome_entry(outcome_id id)
{
    if (id < 1 || id > OUTCOME_COUNT)
        return nullptr;
    return &CATALOGUE[id - 1];
}

const char *ui_caption() { return flag_is_set(g_chinese_ui) ? CAPTION_CHINESE : CAPTION_ENGLISH; }

void write_result_code(const char *code)
{
    FILE *file = std::fopen(RESULT_FILE, "w+");
    if (file == nullptr)
        return;
    std::fwrite(code, 1, std::strlen(code), file);
    std::fflush(file);
    std::fclose(file);
}

void report_outcome(outcome_id id)
{
    const outcome *entry = outcome_entry(id);
    if (entry == nullptr)
        return;
    // An interrupted run reports nothing: a calling station sees it as a process that was stopped.
    if (flag_is_set(g_workstation.interrupt_pending)) {
        DEBUG_LOG("outcome %d not reported: the run is interrupted\n", id);
        return;
    }
    run_record_note_outcome(id);
    if (flag_is_set(g_silent_mode)) {
        write_result_code(entry->code);
        return;
    }
    const char *text = flag_is_set(g_chinese_ui) ? entry->chinese : entry->english;
    show_box(entry->style, ui_caption(), text);
}

int stop_run(outcome_id outcome, int code)
{
    raise_outcome(outcome);
    cleanup_workstation();
    return code;
}

bool show_startup_warning()
{
    if (flag_is_set(g_silent_mode) || g_workstation.check_only)
        return false;  // silent, or a check that will change nothing
    const char *text = flag_is_set(g_chinese_ui) ? WARNING_CHINESE : WARNING_ENGLISH;
    return show_box(BOX_STYLE_WARNING, ui_caption(), text) == BOX_ANSWER_CANCEL;
}
