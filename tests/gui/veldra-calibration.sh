#!/usr/bin/env bash
# VELDRA under Wine with the warmed-up box ticked: COM5 chosen, the K5 detected on it and the
# whole calibration run, after which k5sim's trace must show the registers written and
# locked; Exit and its question end the wizard.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=tests/gui/scenario.sh
source "$here/scenario.sh"

rm -f "$K5_GUI_SHOTS"/veldra-[1-4]-* "$K5_GUI_SHOTS"/veldra-[67]-* "$K5_GUI_SHOTS"/veldra-k5sim-trace.txt

gui_start_sim
gui_launch "$K5_GUI_BUILD/veldra/veldra.exe"
wizard=$(gui_window veldra 60)
gui_shoot "$wizard" veldra-1-welcome
gui_click "$wizard" veldra next
gui_shoot "$wizard" veldra-2-preparation "$(gui_last_shot "$wizard")"
gui_click "$wizard" veldra warmed_up
gui_shoot "$wizard" veldra-2-preparation-warmed-up "$(gui_last_shot "$wizard")"
gui_click "$wizard" veldra next
gui_shoot "$wizard" veldra-3-port-selection "$(gui_last_shot "$wizard")"
# The port list opens; typing the name picks the port.
gui_click "$wizard" veldra port_list
xdotool key --delay 120 C O M "$gui_port" Return
gui_shoot "$wizard" veldra-3-port-chosen "$(gui_last_shot "$wizard")"
gui_click "$wizard" veldra next
gui_trace_shows '<- 0D 4D 61 69 6E 2E 50 6F 77 65 72 3D' 20 # Main.Power= answered
gui_shoot "$wizard" veldra-4-detected "$(gui_last_shot "$wizard")"
gui_click "$wizard" veldra next # warmed up: the calibration starts at once
gui_trace_shows 'Dsp.Test=1k' 30
gui_shoot "$wizard" veldra-6-calibrating
gui_trace_shows 'Main.Power=Off' 180
gui_shoot "$wizard" veldra-6-calibration-done "$(gui_last_shot "$wizard")"
gui_click "$wizard" veldra exit
gui_answer confirm_exit_box veldra-7-confirm-exit Return
gui_await_app_end
gui_stop_sim
cp "$gui_trace" "$K5_GUI_SHOTS/veldra-k5sim-trace.txt"
gui_registers_written_and_locked
echo "VELDRA detected the K5, calibrated it and wrote and locked the registers"
