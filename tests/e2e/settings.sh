# The station's settings file beside a copy of the real tool: the firewall as a scoped rule and a
# bad value, and the warning about a station folder that others may change; on Windows (under Wine
# with its recording netsh) also the language forced either way, with an X server for the boxes
# (their caption and text as Wine sets them, a screenshot of each).
# usage (inside sandbox): settings.sh <linux|windows> <tool> <scratch dir> <artefact dir>
. "$(dirname "$0")/lib.sh"
artefacts=$4
mkdir -p "$artefacts"
e2e_init "$1" "$2" "$3" "$([ "$1" = windows ] && echo display)"
station_copy
start_camera '"version_after":"2.0.15"'

# silent_run <name>: one silent run with the command log emptied first.
silent_run() {
  : >"$E2E_COMMAND_LOG"
  run_silent "$1"
  check "$1: result" "$result" ok0
  check_nothing_left "$1"
}
# firewall_commands: the netsh commands of the run, one a line (Windows).
firewall_commands() { grep advfirewall "$E2E_COMMAND_LOG" 2>/dev/null | tr -d '\r'; }
windows() { [ "$E2E_TARGET" = windows ]; }

today="advfirewall set currentprofile state off
advfirewall set currentprofile state on"
# netsh receives the rule's name without its quotes, as its command line splits it.
delete_rule="advfirewall firewall delete rule name=quorvane_facup Shttpd"
add_rule="advfirewall firewall add rule name=quorvane_facup Shttpd dir=in action=allow protocol=TCP localport=8234 remoteip=192.168.88.0/24,10.0.0.0/24"

echo "== no settings file =="
silent_run no-file
windows && check "no file: today's firewall commands" "$(firewall_commands)" "$today"
check "no file: no warning in the record" "$(last_record warnings)" "[]"

echo "== firewall = rule, saved as UTF-16 with its mark (as Notepad saves) =="
printf '\xff\xfe' >"$ini"
printf '; line 4, station B\r\nFirewall = Rule\r\n' | iconv -f UTF-8 -t UTF-16LE >>"$ini"
silent_run rule
windows && check "rule: delete, add, then delete at the clean-up" "$(firewall_commands)" \
  "$delete_rule
$add_rule
$delete_rule"
check "rule: no warning" "$(last_record warnings)" "[]"

echo "== a bad value: a warning, and the default =="
printf '\xef\xbb\xbffirewall = sometimes\n' >"$ini"
silent_run bad-value
warning="facup.ini: firewall = 'sometimes' is not off or rule; using off"
windows && check "bad value: today's firewall commands" "$(firewall_commands)" "$today"
check "bad value: the warning line on the console" "$(tr -d '\r' <"$E2E_SCRATCH/bad-value.out" | grep -a -c -x -F "$warning")" 1
check "bad value: the warning in the record" "$(last_record warnings)" "[\"$warning\"]"

echo "== a value in the system's code page, saved without a mark =="
printf 'firewall = \xba\xec\xc9\xab\r\n' >"$ini"  # "红色" in code page 936
silent_run code-page
# Linux texts are UTF-8: bytes that begin no character become U+FFFD (the last two make one); under
# an English Wine the code page is 1252.
expected="facup.ini: firewall = '��ɫ' is not off or rule; using off"
windows && expected="facup.ini: firewall = 'ºìÉ«' is not off or rule; using off"
check "code page: the warning in the record, as UTF-8" "$(last_record_text warnings)" "$expected"

echo "== a station folder that others may change: one warning in the record and the log, none on the console =="
rm -f "$ini"
chmod 0777 "$E2E_SCRATCH/station"  # under Wine: what it keeps of an entry that lets Everyone write
silent_run open-folder
chmod 0755 "$E2E_SCRATCH/station"
warning="$(basename "$E2E_TOOL")'s folder can be changed by users who are not administrators"
check "open folder: the warning in the record" "$(last_record_text warnings)" "$warning"
check "open folder: in the diagnostics log" "$(grep -c -F "warning: $warning" "$(newest_log)")" 1
check "open folder: not on the console" "$(grep -a -c 'can be changed' "$E2E_SCRATCH/open-folder.out")" 0

# The language's boxes: Windows only (the Linux port's texts are UTF-8 either way).
windows || { e2e_finish; exit; }

caption_en="Quorvane Camera Factory Upgrade Tool v2.91"
caption_zh="类Quorvane相机出厂升级工具 v2.91"
warning_en="This tool only provided for tester, may cost more than 2mins!
Plz do not disconnect the usb during the upgrade process, otherwise the device will be damaged!"
warning_zh="本程序仅供特定用户使用，升级可能耗时大于2分钟，升级过程中请勿断开usb！
否则会造成设备损坏！"

# wine_text <text>: a text as Wine's window trace writes it (L"...", each character beyond ASCII as \xxxx).
wine_text() {
  python3 -c '
import sys
out = ""
for c in sys.argv[1]:
    if c == "\n": out += "\\n"
    elif c in "\"\\": out += "\\" + c
    elif " " <= c <= "~": out += c
    else: out += "\\%04x" % ord(c)
print("L\"%s\"" % out)' "$1"
}
# shown <name> <text>: yes when Wine set the text on a window during the run.
shown() { grep -a -q -F "set_window_text $(wine_text "$2")" "$E2E_SCRATCH/$1.out" && echo yes; }

# box_run <name> [locale]: starts the tool (in that locale) with Wine's window trace, waits for the
# start-up warning, keeps its screenshot and title, and cancels it. The locale reaches the tool
# alone: the record's check is left out, as the scripts it runs would complain of the locale.
# Right after a Wine restart on a loaded machine, Wine's desktop may still lack its display driver
# when the first box comes, and the box never reaches the X server: a run whose box has not shown
# in 45 s is ended (it has changed nothing: the warning comes first) and started once more, once
# Wine has ended, so that the tool starts the desktop itself and waits for it.
box_run() {
  local tool wid= attempt
  mkdir -p "$E2E_SCRATCH/$1"
  for attempt in 1 2; do
    LC_ALL=${2:-$LC_ALL} WINEDEBUG=-all,trace+win run_tool_once "$E2E_SCRATCH/$1" >"$E2E_SCRATCH/$1.out" 2>&1 &
    tool=$!
    wid=$(wait_for_box $((attempt == 1 ? 45 : 90))) && break
    wid=
    end_wine
    wait $tool 2>/dev/null
    [ $attempt = 1 ] && e2e_note "$1: the start-up warning did not show in 45 s; the run started again"
  done
  if [ -z "$wid" ]; then
    check "$1: the start-up warning appeared" no yes
    return
  fi
  sleep 0.5
  import -window root "$artefacts/settings-warning-$1.png"
  xdotool getwindowname "$wid" >"$E2E_SCRATCH/$1.title"
  press "$wid" Escape
  wait $tool
  check "$1: Cancel ends the run" $? 0
}

echo "== language = zh on an English system: the wide calls =="
printf 'language = zh\r\n' >"$ini"
box_run forced-zh
check "zh: the caption" "$(cat "$E2E_SCRATCH/forced-zh.title")" "$caption_zh"
check "zh: the box's caption as set" "$(shown forced-zh "$caption_zh")" yes
check "zh: the box's text as set" "$(shown forced-zh "$warning_zh")" yes

echo "== language = en on a Chinese system =="
restart_wine LC_ALL=zh_CN.UTF-8
rm "$ini"
box_run auto-zh zh_CN.UTF-8
check "the system's language is Chinese (no settings file)" "$(cat "$E2E_SCRATCH/auto-zh.title")" "$caption_zh"
printf 'language = en\r\n' >"$ini"
box_run forced-en zh_CN.UTF-8
check "en: the caption" "$(cat "$E2E_SCRATCH/forced-en.title")" "$caption_en"
check "en: the box's text as set" "$(shown forced-en "$warning_en")" yes

echo "== a value in code page 936 on a Chinese system =="
printf 'firewall = \xba\xec\xc9\xab\r\n' >"$ini"
LC_ALL=zh_CN.UTF-8 silent_run code-page-936
check "936: the warning in the record, as UTF-8" "$(last_record_text warnings)" \
  "facup.ini: firewall = '红色' is not off or rule; using off"

e2e_finish
