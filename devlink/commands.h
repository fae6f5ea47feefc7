#pragma once

#include <string_view>

namespace k5::cmd {

// Text commands: a carriage return, a setting path, "?" or "=value", a carriage return. The
// amplifier answers a query with "\rPath=value\r" and echoes every assignment it accepts, so
// an assignment's expected reply is the command itself.
inline constexpr std::string_view kModelQuery = "\rMain.Model?\r";
inline constexpr std::string_view kModelIsK5 = "\rMain.Model=K5\r";
inline constexpr std::string_view kPowerQuery = "\rMain.Power?\r";
// The configuration tool's power query has no leading carriage return.
inline constexpr std::string_view kPowerQueryBare = "Main.Power?\r";
inline constexpr std::string_view kPowerOn = "\rMain.Power=On\r";
inline constexpr std::string_view kPowerOff = "\rMain.Power=Off\r";
inline constexpr std::string_view kSourceCoax1 = "\rMain.Source=Coax1\r";
inline constexpr std::string_view kTestTone1k = "\rDsp.Test=1k\r";
inline constexpr std::string_view kVolumeMinus8 = "\rMain.Volume=-8\r";
inline constexpr std::string_view kVolumeMinus20 = "\rMain.Volume=-20\r";
inline constexpr std::string_view kMuteOn = "\rMain.Mute=On\r";
inline constexpr std::string_view kMuteOff = "\rMain.Mute=Off\r";

}  // namespace k5::cmd
