#!/usr/bin/env bash
# TORVIK under Wine, driven as a technician would against k5sim on COM5: the port typed into
# the list, Open, Test Link, User Settings with a refused CP, Status, Start, Yes to the
# report, Status again, Alt+D, closing. CfgLog.txt beside torvik.exe must then hold the dated
# header and exactly the log k5ctl.exe prints for the same amplifier, and k5sim's trace the
# registers written and locked.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=tests/gui/scenario.sh
source "$here/scenario.sh"

report="$K5_GUI_BUILD/torvik/CfgLog.txt"
rm -f "$report" "$K5_GUI_SHOTS"/torvik-*

gui_start_sim
gui_launch "$K5_GUI_BUILD/torvik/torvik.exe"
main=$(gui_window torvik 60)
gui_shoot "$main" torvik-1-idle
# The port list has the focus: a technician types the port's name, then presses Open.
gui_keys "$main" C O M "$gui_port"
gui_click "$main" torvik open
gui_click "$main" torvik test_link
gui_trace_shows '<- 0D 4D 61 69 6E 2E 4D 6F 64 65 6C 3D' 20 # Main.Model= answered
gui_shoot "$main" torvik-2-port-open-link-ok "$(gui_last_shot "$main")"

gui_click "$main" torvik user_settings
dialog=$(gui_window user_settings 10)
gui_shoot "$dialog" torvik-3-user-settings
# CP above its bound: the prompt, and the dialog stays.
gui_click "$dialog" user_settings cp
gui_keys "$dialog" ctrl+a 0 period 9 5 Return
gui_answer validation_box torvik-3-user-settings-prompt Return
gui_shoot "$dialog" torvik-3-user-settings-refused
gui_keys "$dialog" Escape
gui_gone "$dialog" "User Settings"

gui_click "$main" torvik status
dialog=$(gui_window status 10)
gui_shoot "$dialog" torvik-4-status-before-run
gui_keys "$dialog" Escape
gui_gone "$dialog" Status

gui_click "$main" torvik start
gui_trace_shows 'Dsp.Test=1k' 30 # the test tone of the measurement
gui_shoot "$main" torvik-5-running
gui_answer note_box torvik-6-save-question y
gui_answer note_box torvik-7-save-data-ok Return
gui_shoot "$main" torvik-8-success

gui_click "$main" torvik status
dialog=$(gui_window status 10)
gui_shoot "$dialog" torvik-9-status-after-run
gui_keys "$dialog" Escape
gui_gone "$dialog" Status

# Alt+D reaches the tool through the hot key registered with Windows.
gui_keys "$main" alt+d
gui_answer note_box torvik-10-register-reset Return
gui_keys "$main" alt+F4
gui_await_app_end
gui_stop_sim
cp "$gui_trace" "$K5_GUI_SHOTS/torvik-k5sim-trace.txt"
gui_registers_written_and_locked

# The saved report: a line feed, the dated header, CR LF, then the log exactly as k5ctl.exe
# prints it for a fresh simulated K5 with the same readings.
[ -f "$report" ] || gui_fail "no CfgLog.txt beside torvik.exe"
cp "$report" "$K5_GUI_SHOTS/CfgLog.txt"
gui_start_sim
"$K5_SOURCE_DIR/scripts/wine-run.sh" "$K5_GUI_BUILD/cli/k5ctl.exe" --port "$gui_port" configure \
  </dev/null 2>/dev/null | tr -d '\r' >"$gui_work/expected-log"
gui_stop_sim
[ "$(head -c 1 "$report" | od -An -tx1 | tr -d ' ')" = 0a ] ||
  gui_fail "CfgLog.txt does not start with a line feed"
sed -n 2p "$report" |
  grep -Eq '^Configuration Process log - [0-9]+\.[0-9]+\.[0-9]+ [0-9]+:[0-9]+:[0-9]+:'$'\r''$' ||
  gui_fail "CfgLog.txt has no dated header: $(sed -n 2p "$report")"
tail -n +3 "$report" | diff - "$gui_work/expected-log" >&2 ||
  gui_fail "CfgLog.txt does not hold the log k5ctl.exe prints"
echo "TORVIK ran, saved the exact log and wrote and locked the registers"
