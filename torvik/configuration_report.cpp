#include "torvik/configuration_report.h"

#include <cstdio>
#include <ctime>
#include <memory>

namespace k5::torvik {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::FILE* OpenForAppend(const std::filesystem::path& path) {
#ifdef _WIN32
    return _wfopen(path.c_str(), L"ab");
#else
    return std::fopen(path.c_str(), "ab");
#endif
}

}  // namespace

LocalDateTime CurrentLocalDateTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return LocalDateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                         local.tm_hour,        local.tm_min,     local.tm_sec};
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
    std::unique_ptr<std::FILE, FileCloser> file(OpenForAppend(path));
    if (!file) {
        return ReportResult::Failed;
    }
    // Unbuffered, so the report reaches the file in the one write below and a full disk is
    // noticed there rather than at some later flush.
    std::setvbuf(file.get(), nullptr, _IONBF, 0);
    const std::string report = BuildConfigurationReport(logText, clock());
    const size_t written = std::fwrite(report.data(), 1, report.size(), file.get());
    const bool complete = written == report.size() && std::fflush(file.get()) == 0;
    const bool closed = std::fclose(file.release()) == 0;
    return complete && closed ? ReportResult::SaveDataOk : ReportResult::SaveDataFailed;
}

}  // namespace k5::torvik
