#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "cli/k5ctl_options.h"
#include "cli/text_sink.h"
#include "devlink/config_settings.h"
#include "platform/locked_append_file.h"

namespace k5::cli {

// Keys stay in the order they were first set, so every line of a record file reads alike.
using Json = nlohmann::ordered_json;

// Local time as ISO 8601 with milliseconds and the offset from UTC:
// "2026-12-07T13:05:09.042+01:00".
std::string IsoLocalTime(std::chrono::system_clock::time_point when);

// Opens the --json file before the run; null after printing the path and the reason to `err`.
std::unique_ptr<LockedAppendFile> OpenRecordFile(const std::filesystem::path& path, TextSink& err);

// What a configuration or calibration run measured and calculated; empty where the run
// did not get that far.
struct MeasuredValues {
    std::optional<uint32_t> left;
    std::optional<uint32_t> right;
    std::optional<uint32_t> coeff0;
    std::optional<double> coeff1;
    std::optional<double> coeff2;
    std::optional<uint32_t> calcPmax;
    std::optional<uint32_t> calcPc;
    std::optional<uint32_t> calcIp;
    std::optional<uint32_t> stmax;
    std::optional<uint32_t> stpte;
    std::optional<uint32_t> stclip;
    std::optional<int32_t> p2;
    std::optional<int32_t> p2i;
    std::optional<int32_t> p4;
};

// The production record of one k5ctl run, begun when the run starts.
class RunRecord {
public:
    RunRecord(std::string_view command, const RunIdentity& identity);

    // The device that was opened (its path) and its COM number, where there are any.
    void SetLine(std::optional<std::string> device, std::optional<unsigned> port);
    void SetResult(std::optional<int> result);
    // The ten user settings, by their option names.
    void SetSettings(const UserSettings& settings);
    // A key of the command's own, after those above.
    void Set(std::string_view key, Json value);
    // The readings, coefficients, fields and registers; the output figures with `figures`.
    void SetMeasured(const MeasuredValues& values, bool figures);

    // Stamps the end of the run, its exit status and its outcome (read from `runStatus`) and
    // appends the record to `file` as one line. Returns `status`, or kExitRecordFailed after
    // printing the path and the reason to `err`, naming `runStatus`, the status the run itself
    // ended with (which differs from `status` when the report could not be written).
    int Finish(LockedAppendFile& file, int status, int runStatus, TextSink& err);
    int Finish(LockedAppendFile& file, int status, TextSink& err) {
        return Finish(file, status, status, err);
    }

    const Json& Value() const { return json_; }

private:
    Json json_;
};

}  // namespace k5::cli
