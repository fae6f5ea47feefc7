#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "pty_client.h"
#include "sim/pty_endpoint_posix.h"

namespace k5::sim {
namespace {

using test::PtyClient;

// Whether `fd` has something to read within two seconds.
bool Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 2000) == 1;
}

TEST(PtyEndpoint, LastClientLeftOnlyOnceNoClientHoldsTheTerminal) {
    std::string error;
    const auto endpoint = PtyEndpoint::Open("", error);
    ASSERT_TRUE(endpoint) << error;
    if (endpoint->CloseWatchFd() < 0) {
        GTEST_SKIP() << "this system cannot watch the terminal for a client's close";
    }
    PtyClient first(endpoint->Path());
    PtyClient second(endpoint->Path());
    ASSERT_TRUE(first.IsOpen() && second.IsOpen());

    first.Close();
    ASSERT_TRUE(Readable(endpoint->CloseWatchFd()));
    EXPECT_FALSE(endpoint->LastClientLeft());
    second.Close();
    ASSERT_TRUE(Readable(endpoint->CloseWatchFd()));
    EXPECT_TRUE(endpoint->LastClientLeft());
}

TEST(PtyEndpoint, RemovesItsOwnLinkButNotOneThatTookTheName) {
    char dir[] = "/tmp/k5pty_test_XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::filesystem::path link = std::filesystem::path(dir) / "ttyK5";
    std::string error;

    auto endpoint = PtyEndpoint::Open(link.string(), error);
    ASSERT_TRUE(endpoint) << error;
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), endpoint->Path());
    endpoint.reset();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));

    endpoint = PtyEndpoint::Open(link.string(), error);
    ASSERT_TRUE(endpoint) << error;
    std::filesystem::remove(link);
    std::filesystem::create_symlink("/dev/null", link);
    endpoint.reset();
    EXPECT_EQ(std::filesystem::read_symlink(link), "/dev/null");

    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace k5::sim
