// k5ctl.exe and names the ANSI code page cannot write: its command line is read as UTF-16,
// and the report goes to the file of exactly the name given. Run through wine-sim-test.sh,
// which maps a simulated K5 and names its port in K5_TEST_COM; the program is the first
// argument after the test's own.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace k5 {
namespace {

std::wstring g_k5ctl;

// The files of `folder`, without "." and "..".
std::vector<std::wstring> FilesIn(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

TEST(K5ctlWideNames, TheReportGoesToTheFileOfExactlyTheNameGiven) {
    const char* port = std::getenv("K5_TEST_COM");
    ASSERT_NE(port, nullptr) << "run through wine-sim-test.sh, which maps a simulated K5";
    ASSERT_FALSE(g_k5ctl.empty()) << "give k5ctl.exe as the first argument";

    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring folder =
        std::wstring(temp) + L"k5-wide-names-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring name = L"\u0141\u00FC\u20AC.txt";  // "Łü€.txt"
    const std::wstring report = folder + L"\\" + name;

    std::wstring command = L"\"" + g_k5ctl + L"\" --port " + std::to_wstring(std::atoi(port)) +
                           L" configure --time-scale 0.01 --report \"" + report + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &process))
        << GetLastError();
    WaitForSingleObject(process.hProcess, 60000);
    DWORD status = 1;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(status, 0u);

    const std::vector<std::wstring> files = FilesIn(folder);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(files[0] == name);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ASSERT_TRUE(GetFileAttributesExW(report.c_str(), GetFileExInfoStandard, &data));
    EXPECT_GT(data.nFileSizeLow, 0u) << "the report is in it";

    for (const std::wstring& file : files) {
        DeleteFileW((folder + L"\\" + file).c_str());
    }
    RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace k5

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc > 1) {
        const std::string program = argv[1];
        k5::g_k5ctl.assign(program.begin(), program.end());  // a build path: plain ASCII
    }
    return RUN_ALL_TESTS();
}
