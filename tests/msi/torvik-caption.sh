#!/usr/bin/env bash
# TORVIK started from the folder the package installed it into opens its window with its own
# caption.
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# The prefix first: the scenario's display then stays set.
# shellcheck source=tests/msi/msi.sh
source "$here/msi.sh"
# Wine's desktop process lives as long as the prefix's server and keeps the display it first
# started with: after the scenarios without a display it would have none. A new server,
# then, whose desktop starts on the virtual display.
k5_wine_server_start "$K5_MSI_HOME"
# shellcheck source=tests/gui/scenario.sh
source "$K5_SOURCE_DIR/tests/gui/scenario.sh"

msi_install "$K5_MSI"
gui_launch "$msi_folder/torvik.exe"
window=$(gui_window torvik 60)
[ "$(xdotool getwindowname "$window")" = "K5 Post-AMP Config V1.3.0" ] ||
  msi_fail "TORVIK's caption is \"$(xdotool getwindowname "$window")\""
gui_end_app
# Leave the display as it was found: this prefix's desktop, and any TORVIK of it still
# holding Alt+D there, must not outlive the scenario beside the GUI scenarios' programs.
(unset DISPLAY; k5_wine_server_start "$K5_MSI_HOME")
echo "installed torvik.exe: \"K5 Post-AMP Config V1.3.0\""
