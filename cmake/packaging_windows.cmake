# The Windows zip: k5ctl.exe and the README, as k5kit-<version>-win64.zip.
