#include "torvik/configuration_report.h"

#include <cstdio>
#include <ctime>
#include <memory>

#include "platform/local_time.h"
#include "platform/locked_append_file.h"

namespace k5::torvik {

LocalDateTime CurrentLocalDateTime() {
    const LocalTime now = LocalTimeAt(std::time(nullptr));
    return LocalDateTime{now.year, now.month, now.day, now.hour, now.minute, now.second};
}

std::string_view ReportResultText(ReportResult result) {
    switch (result) {
        case ReportResult::Failed:
            return "Failed";
        case ReportResult::SaveDataFailed:
            return "Save data failed";
        case ReportResult::SaveDataOk:
            return "Save data OK";
    }
    return "Failed";
}

std::string BuildConfigurationReport(std::string_view logText, const LocalDateTime& when) {
    char header[128];
    const int length =
        std::snprintf(header, sizeof header, "\nConfiguration Process log - %d.%d.%d %d:%d:%d:\r\n",
                      when.year, when.month, when.day, when.hour, when.minute, when.second);
    std::string report(header, length > 0 ? static_cast<size_t>(length) : 0);
    report.append(logText);
    return report;
}

ReportResult SaveConfigurationReport(const std::filesystem::path& path, std::string_view logText,
                                     const std::function<LocalDateTime()>& clock) {
    // The report goes to whatever stands under its name (a link is followed, a device written
    // to), and a write that fails leaves in the file what reached it.
    std::string reason;
    const std::unique_ptr<LockedAppendFile> file = LockedAppendFile::Open(
        path, reason, {.regularFileOnly = false, .cutBackShortWrite = false});
    if (!file) {
        return ReportResult::Failed;
    }
    const std::string report = BuildConfigurationReport(logText, clock());
    // The report begins with a line feed of its own.
    return file->Append(report, false) ? ReportResult::SaveDataFailed : ReportResult::SaveDataOk;
}

}  // namespace k5::torvik
