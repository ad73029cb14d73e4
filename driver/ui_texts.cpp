// The console's texts of a run in English and Chinese. Like the outcome catalogue, they are written
// here in UTF-8 and reach the ANSI calls as GBK: the Windows build compiles this file with that
// execution character set.
#include "ui_texts.h"

#include "outcomes.h"
#include "text_util.h"
#include "workstation.h"

namespace {

const char NOTE_ENGLISH[] = "Note:     \n    This application was only provided for tester!\n"
                            "    Upgrading, plz wait about 2 minutes！\n"
                            "    Do not close this window until msgbox appear!\r";
const char NOTE_CHINESE[] = "警告:     \n    本工具仅供测试用户使用！\n"
                            "    正在升级，由于有大数据需要更新，请等待约2分钟！\n"
                            "    请保证连接稳定，否则可能需要更长时间!\n"
                            "    期间请不要关闭窗口或断开设备!\r";

const char INTERRUPT_ENGLISH[] = "Upgrade interrupted: cleaning up the PC...";
const char INTERRUPT_CHINESE[] = "升级已中断：正在清理电脑……";

// count units (bytes of a megabyte, milliseconds of a second; unit a multiple of 20) as text with
// one decimal, rounded half up, in out (of size bytes).
void in_tenths(char *out, size_t size, int64_t count, int64_t unit)
{
    int64_t tenths = (count + unit / 20) / (unit / 10);
    format_text(out, size, "%lld.%lld", static_cast<long long>(tenths / 10), static_cast<long long>(tenths % 10));
}
const size_t TENTHS_SIZE = 24;
const int64_t MEGABYTE = 1000000;
const int64_t SECOND_MS = 1000;

} // namespace

const char *progress_note() { return flag_is_set(g_chinese_ui) ? NOTE_CHINESE : NOTE_ENGLISH; }

const char *interrupt_note() { return flag_is_set(g_chinese_ui) ? INTERRUPT_CHINESE : INTERRUPT_ENGLISH; }

void download_progress_text(char *out, size_t size, int64_t sent, int64_t total)
{
    sent = sent < 0 ? 0 : sent > total ? total : sent;
    int percent = total > 0 ? static_cast<int>(sent * 100 / total) : 100;
    char done[TENTHS_SIZE], whole[TENTHS_SIZE];
    in_tenths(done, sizeof done, sent, MEGABYTE);
    in_tenths(whole, sizeof whole, total, MEGABYTE);
    if (flag_is_set(g_chinese_ui))
        format_text(out, size, "相机正在下载固件：%s / %s MB (%d %%)", done, whole, percent);
    else
        format_text(out, size, "Camera downloading firmware: %s / %s MB (%d %%)", done, whole, percent);
}

void download_again_text(char *out, size_t size)
{
    if (flag_is_set(g_chinese_ui))
        format_text(out, size, "相机重新开始下载固件。");
    else
        format_text(out, size, "Camera is downloading the firmware again.");
}

void download_done_text(char *out, size_t size, int64_t total, int64_t elapsed_ms)
{
    char whole[TENTHS_SIZE], seconds[TENTHS_SIZE];
    in_tenths(whole, sizeof whole, total, MEGABYTE);
    in_tenths(seconds, sizeof seconds, elapsed_ms < 0 ? 0 : elapsed_ms, SECOND_MS);
    if (flag_is_set(g_chinese_ui))
        format_text(out, size, "固件已发送给相机：%s MB，用时 %s 秒。相机正在安装，请稍候……", whole, seconds);
    else
        format_text(out, size, "Firmware sent to camera: %s MB in %s s. Camera is installing it, plz wait...",
                    whole, seconds);
}

void confirm_begin_text(char *out, size_t size, int limit_seconds)
{
    if (flag_is_set(g_chinese_ui))
        format_text(out, size, "正在确认新固件：最多等待 %d 秒，等待相机重启后显示 %s……", limit_seconds,
                    TARGET_FIRMWARE_VERSION);
    else
        format_text(out, size,
                    "Confirming the new firmware: waiting up to %d s for the camera to come back with %s...",
                    limit_seconds, TARGET_FIRMWARE_VERSION);
}

void confirm_progress_text(char *out, size_t size, int seconds, bool answers, const char *version)
{
    bool chinese = flag_is_set(g_chinese_ui);
    if (!answers)
        format_text(out, size,
                    chinese ? "正在确认：已等待 %d 秒，相机无响应" : "Confirming: %d s waited, the camera does not answer",
                    seconds);
    else if (version[0] == '\0')
        format_text(out, size,
                    chinese ? "正在确认：已等待 %d 秒，相机有响应，未读到版本"
                            : "Confirming: %d s waited, the camera answers, no version read",
                    seconds);
    else
        format_text(out, size,
                    chinese ? "正在确认：已等待 %d 秒，相机有响应，版本 %s"
                            : "Confirming: %d s waited, the camera answers, version %s",
                    seconds, version);
}

void confirm_end_text(char *out, size_t size, bool confirmed, int seconds, const char *version)
{
    bool chinese = flag_is_set(g_chinese_ui);
    if (confirmed)
        format_text(out, size,
                    chinese ? "新固件已确认：相机运行 %s（用时 %d 秒）。"
                            : "New firmware confirmed: the camera runs %s (after %d s).",
                    version, seconds);
    else if (version[0] == '\0')
        format_text(out, size,
                    chinese ? "新固件未确认：相机在 %d 秒内未显示版本。"
                            : "New firmware not confirmed: the camera showed no version within %d s.",
                    seconds);
    else
        format_text(out, size,
                    chinese ? "新固件未确认：相机最后显示 %s（已等待 %d 秒）。"
                            : "New firmware not confirmed: the camera last showed %s (waited %d s).",
                    version, seconds);
}
