#include "cli/run_record.h"

#include <charconv>
#include <ctime>
#include <utility>

#include "cli/k5ctl_options.h"
#include "k5/version.h"
#include "platform/local_time.h"
#include "platform/utf8_path.h"

namespace k5::cli {

namespace {

template <typename T>
Json OrNull(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

// A float setting as the user wrote it: the shortest text that reads back as the same float
// (0.8, not 0.800000011920929).
double AsWritten(float value) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    double widened = value;
    if (ec == std::errc()) {
        std::from_chars(text, end, widened);
    }
    return widened;
}

// What became of the run, from the status the run itself ended with: a reader need not know
// each command's codes to tell a pass from a fail.
std::string_view OutcomeOf(int runStatus) {
    switch (runStatus) {
        case kExitOk:
            return "success";
        case kExitCancelled:
            return "stopped";
        case kExitPortError:
            return "port-error";
        default:
            return "failed";
    }
}

}  // namespace

std::string IsoLocalTime(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    const LocalTime local = LocalTimeAt(seconds);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(
                            when - std::chrono::system_clock::from_time_t(seconds))
                            .count();
    const int offset = local.utcOffsetMinutes;
    const int offsetAbs = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", local.year,
                  local.month, local.day, local.hour, local.minute, local.second,
                  static_cast<int>(millis), offset < 0 ? '-' : '+', offsetAbs / 60, offsetAbs % 60);
    return text;
}

std::unique_ptr<LockedAppendFile> OpenRecordFile(const std::filesystem::path& path, TextSink& err) {
    std::string reason;
    std::unique_ptr<LockedAppendFile> file = LockedAppendFile::Open(path, reason);
    if (!file) {
        Print(err, "k5ctl: --json " + Utf8FromPath(path) + ": " + reason + "\n");
    }
    return file;
}

RunRecord::RunRecord(std::string_view command, const RunIdentity& identity) {
    json_["command"] = command;
    json_["unit"] = OrNull(identity.unit);
    json_["operator"] = OrNull(identity.operatorName);
    json_["station"] = OrNull(identity.station);
    json_["device"] = nullptr;
    json_["port"] = nullptr;
    json_["started"] = IsoLocalTime(std::chrono::system_clock::now());
    json_["finished"] = nullptr;
    json_["status"] = nullptr;
    json_["result"] = nullptr;
    json_["outcome"] = nullptr;
    json_["version"] = kKitVersion;
}

void RunRecord::SetLine(std::optional<std::string> device, std::optional<unsigned> port) {
    json_["device"] = OrNull(device);
    json_["port"] = OrNull(port);
}

void RunRecord::SetResult(std::optional<int> result) {
    json_["result"] = OrNull(result);
}

void RunRecord::SetSettings(const UserSettings& settings) {
    Json& out = json_["settings"];
    out["pmax"] = settings.pmax;
    out["pc"] = settings.pc;
    out["ip"] = settings.ip;
    out["pref"] = settings.pref;
    out["cp"] = AsWritten(settings.cp);
    out["ep"] = settings.ep;
    out["red"] = settings.red;
    out["rec"] = settings.rec;
    out["conductance-min"] = settings.conductanceMin;
    out["conductance-max"] = settings.conductanceMax;
}

void RunRecord::Set(std::string_view key, Json value) {
    json_[std::string(key)] = std::move(value);
}

void RunRecord::SetMeasured(const MeasuredValues& values, bool figures) {
    json_["left"] = OrNull(values.left);
    json_["right"] = OrNull(values.right);
    json_["coeff0"] = OrNull(values.coeff0);
    json_["coeff1"] = OrNull(values.coeff1);
    json_["coeff2"] = OrNull(values.coeff2);
    json_["calc_pmax"] = OrNull(values.calcPmax);
    json_["calc_pc"] = OrNull(values.calcPc);
    json_["calc_ip"] = OrNull(values.calcIp);
    json_["stmax"] = OrNull(values.stmax);
    json_["stpte"] = OrNull(values.stpte);
    json_["stclip"] = OrNull(values.stclip);
    if (figures) {
        json_["p2"] = OrNull(values.p2);
        json_["p2i"] = OrNull(values.p2i);
        json_["p4"] = OrNull(values.p4);
    }
}

int RunRecord::Finish(LockedAppendFile& file, int status, int runStatus, TextSink& err) {
    json_["finished"] = IsoLocalTime(std::chrono::system_clock::now());
    json_["status"] = status;
    json_["outcome"] = OutcomeOf(runStatus);
    // A device path need not be valid UTF-8; such bytes become U+FFFD rather than no record.
    const std::string line = json_.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
    if (const std::optional<std::string> failure = file.Append(line, true)) {
        Print(err, "k5ctl: --json " + Utf8FromPath(file.Path()) + ": " + *failure +
                       " (the run itself ended with exit status " + std::to_string(runStatus) +
                       ")\n");
        return kExitRecordFailed;
    }
    return status;
}

}  // namespace k5::cli
