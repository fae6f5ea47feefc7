#include "platform/locked_append_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace k5 {
namespace {

namespace fs = std::filesystem;

constexpr LockedAppendRules kStrict{};
constexpr LockedAppendRules kLenient{.regularFileOnly = false, .cutBackShortWrite = false};

class LockedAppend : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("k5_locked_append_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    static std::string Contents(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void Write(const fs::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }

    fs::path dir_;
};

// Files grow no further than `bytes` while it lives; a write past that falls short instead
// of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = SIG_DFL;
};

TEST_F(LockedAppend, WhatEachRuleOpens) {
    Write(dir_ / "target", "");
    fs::create_symlink(dir_ / "target", dir_ / "link");
    struct Case {
        const char* name;
        fs::path path;
        LockedAppendRules rules;
        const char* refusal;  // null: opened, and the text reaches `written`
        fs::path written;
    };
    const std::vector<Case> cases = {
        {"new file", dir_ / "new", kStrict, nullptr, dir_ / "new"},
        {"link, strict", dir_ / "link", kStrict, "it is a symbolic link", {}},
        {"link, lenient", dir_ / "link", kLenient, nullptr, dir_ / "target"},
        {"device, strict", "/dev/null", kStrict, "not a regular file", {}},
        {"device, lenient", "/dev/null", kLenient, nullptr, {}},
        {"folder", dir_, kLenient, "Is a directory", {}},
    };
    for (const Case& c : cases) {
        std::string error;
        const std::unique_ptr<LockedAppendFile> file =
            LockedAppendFile::Open(c.path, error, c.rules);
        if (c.refusal != nullptr) {
            EXPECT_EQ(file, nullptr) << c.name;
            EXPECT_EQ(error, c.refusal) << c.name;
            continue;
        }
        ASSERT_NE(file, nullptr) << c.name << ": " << error;
        EXPECT_EQ(file->Append("text\n", true), std::nullopt) << c.name;
        if (!c.written.empty()) {
            EXPECT_EQ(Contents(c.written), "text\n") << c.name;
            fs::remove(c.written);
        }
    }
    EXPECT_TRUE(fs::is_symlink(dir_ / "link"));
}

TEST_F(LockedAppend, ShortWriteIsCutBackOnlyWhereTheRulesSaySo) {
    struct Case {
        const char* name;
        LockedAppendRules rules;
        const char* left;  // the file after the failed append
    };
    const std::vector<Case> cases = {
        {"cut back", kStrict, "old\n"},
        {"kept", kLenient, "old\n012345"},
    };
    for (const Case& c : cases) {
        const fs::path path = dir_ / "file";
        Write(path, "old\n");
        std::string error;
        const std::unique_ptr<LockedAppendFile> file = LockedAppendFile::Open(path, error, c.rules);
        ASSERT_NE(file, nullptr) << c.name << ": " << error;
        std::optional<std::string> failure;
        {
            const FileSizeLimit limit(10);
            failure = file->Append("0123456789", false);
        }
        EXPECT_EQ(failure, "short write (6 of 10 bytes)") << c.name;
        EXPECT_EQ(Contents(path), c.left) << c.name;
    }
}

}  // namespace
}  // namespace k5
