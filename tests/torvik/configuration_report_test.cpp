#include "torvik/configuration_report.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "torvik/result_texts.h"

namespace k5::torvik {
namespace {

namespace fs = std::filesystem;

class ReportFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ =
            fs::temp_directory_path() /
            ("torvik_report_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    static std::string Contents(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path dir_;
};

constexpr LocalDateTime kJuly3 = {2009, 7, 3, 9, 5, 12};

TEST_F(ReportFile, HeaderAndLogWrittenAsIs) {
    const fs::path path = dir_ / kReportFileName;
    const std::string log = "Start K5 Power AMP Configuration processing\n\ntyped by hand\r\n";
    EXPECT_EQ(SaveConfigurationReport(path, log, [] { return kJuly3; }), ReportResult::SaveDataOk);
    EXPECT_EQ(Contents(path), "\nConfiguration Process log - 2009.7.3 9:5:12:\r\n" + log);
}

TEST_F(ReportFile, LaterReportsAreAddedAfterEarlierOnes) {
    const fs::path path = dir_ / kReportFileName;
    // An older, longer file: the new report must not overwrite only its beginning.
    {
        std::ofstream old(path, std::ios::binary);
        old << std::string(500, 'x');
    }
    ASSERT_EQ(SaveConfigurationReport(path, "short\n", [] { return kJuly3; }),
              ReportResult::SaveDataOk);
    const LocalDateTime later = {2026, 12, 31, 23, 59, 0};
    ASSERT_EQ(SaveConfigurationReport(path, "second\n", [&] { return later; }),
              ReportResult::SaveDataOk);
    EXPECT_EQ(Contents(path), std::string(500, 'x') +
                                  "\nConfiguration Process log - 2009.7.3 9:5:12:\r\nshort\n"
                                  "\nConfiguration Process log - 2026.12.31 23:59:0:\r\nsecond\n");
}

TEST_F(ReportFile, UnopenableFileFails) {
    // A folder where the file should be, and a folder that does not exist.
    fs::create_directory(dir_ / kReportFileName);
    bool clockRead = false;
    EXPECT_EQ(SaveConfigurationReport(dir_ / kReportFileName, "log\n",
                                      [&] {
                                          clockRead = true;
                                          return kJuly3;
                                      }),
              ReportResult::Failed);
    EXPECT_FALSE(clockRead);
    EXPECT_EQ(SaveConfigurationReport(dir_ / "missing" / kReportFileName, "log\n"),
              ReportResult::Failed);
    EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

TEST_F(ReportFile, FailedWriteIsReported) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full on this system to make the write fail";
    }
    EXPECT_EQ(SaveConfigurationReport("/dev/full", "log\n", [] { return kJuly3; }),
              ReportResult::SaveDataFailed);
}

TEST(ReportTexts, ResultAndCompletionTexts) {
    EXPECT_EQ(ReportResultText(ReportResult::Failed), "Failed");
    EXPECT_EQ(ReportResultText(ReportResult::SaveDataFailed), "Save data failed");
    EXPECT_EQ(ReportResultText(ReportResult::SaveDataOk), "Save data OK");
    EXPECT_EQ(CompletionText(0), "");
    EXPECT_EQ(CompletionText(6), "");
    EXPECT_EQ(CompletionText(-1), "");
    for (int code = 1; code <= 5; ++code) {
        const std::string_view text = CompletionText(code);
        ASSERT_GE(text.size(), 2u);
        EXPECT_EQ(text.front(), '\n');
        EXPECT_EQ(text.back(), '\n');
    }
    EXPECT_EQ(CompletionText(3),
              "\nGet wrong cofficient value,please check whether the 4ohms load is connected\n");
}

}  // namespace
}  // namespace k5::torvik
