#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace k5::torvik {

// Local calendar time to the second, as the report header prints it.
struct LocalDateTime {
    int year = 0;
    int month = 0;  // 1..12
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

LocalDateTime CurrentLocalDateTime();

enum class ReportResult {
    Failed,          // the file could not be opened or created
    SaveDataFailed,  // the write failed or was short
    SaveDataOk,
};

// The message shown for each result: "Failed", "Save data failed", "Save data OK".
std::string_view ReportResultText(ReportResult result);

// The report as it is written: a line feed, the dated header, "\r\n", then the log text as
// it stands.
std::string BuildConfigurationReport(std::string_view logText, const LocalDateTime& when);

// The file name the window saves under, beside the program.
inline constexpr std::string_view kReportFileName = "CfgLog.txt";

// Adds one report at the end of `path`, creating the file when it does not exist; earlier
// reports stay in front of it, so the file is a history of saved runs. The whole report goes
// out in one write under a lock on the whole file, so that it never interleaves with a report
// that k5ctl adds to the same file. The clock is read after the file has been opened.
ReportResult SaveConfigurationReport(
    const std::filesystem::path& path, std::string_view logText,
    const std::function<LocalDateTime()>& clock = CurrentLocalDateTime);

}  // namespace k5::torvik
