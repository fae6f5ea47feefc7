#!/usr/bin/env bash
# VELDRA under Wine without the warmed-up box: after the detection the ten-minute warm-up
# counts down; Exit asks whether to cancel it, Return cancels, and a second Exit ends the
# wizard.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=tests/gui/scenario.sh
source "$here/scenario.sh"

rm -f "$K5_GUI_SHOTS"/veldra-5-* "$K5_GUI_SHOTS"/veldra-7-confirm-exit-after-warm-up.png

gui_start_sim
gui_launch "$K5_GUI_BUILD/veldra/veldra.exe"
wizard=$(gui_window veldra 60)
gui_click "$wizard" veldra next
gui_click "$wizard" veldra next
gui_click "$wizard" veldra port_list
xdotool key --delay 120 C O M "$gui_port" Return
gui_click "$wizard" veldra next
gui_trace_shows '<- 0D 4D 61 69 6E 2E 4D 6F 64 65 6C 3D' 20 # Main.Model= answered
gui_shoot "$wizard" -
gui_click "$wizard" veldra next # the ten-minute warm-up and its countdown
gui_trace_shows 'Main.Volume=-8' 30 # the warm-up's test state set
gui_shoot "$wizard" -                   # its countdown, still at 10 : 00
gui_shoot "$wizard" veldra-5-warm-up-countdown "$(gui_last_shot "$wizard")" # once it counts
gui_click "$wizard" veldra exit # during the warm-up: cancel it?
gui_answer confirm_cancel_box veldra-5-confirm-cancel Return
gui_shoot "$wizard" veldra-5-warm-up-cancelled "$(gui_last_shot "$wizard")"
gui_click "$wizard" veldra exit
gui_answer confirm_exit_box veldra-7-confirm-exit-after-warm-up Return
gui_await_app_end
echo "VELDRA counted the warm-up down and cancelled it"
