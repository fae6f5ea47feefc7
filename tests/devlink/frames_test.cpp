#include "devlink/frames.h"

#include <gtest/gtest.h>

#include <vector>

#include "devlink/registers.h"

namespace k5 {
namespace {

using Bytes = std::vector<uint8_t>;

template <size_t N>
Bytes AsBytes(const std::array<uint8_t, N>& a) {
    return Bytes(a.begin(), a.end());
}

TEST(Frames, MatchThePublishedByteExamples) {
    EXPECT_EQ(AsBytes(BuildReadRequest(0xA110)), (Bytes{0xFF, 0x04, 0x01, 0x03, 0xA1, 0x10, 0xB8}));
    EXPECT_EQ(AsBytes(BuildWriteRequest(0xA10A, 0x0054228A)),
              (Bytes{0xFF, 0x08, 0x01, 0x02, 0xA1, 0x0A, 0x00, 0x54, 0x22, 0x8A, 0xB5}));
    EXPECT_EQ(AsBytes(BuildRegisterReply(kOpRead, 0xA110, 700)),
              (Bytes{0xFF, 0x08, 0x01, 0x03, 0xA1, 0x10, 0x00, 0x00, 0x02, 0xBC, 0x7A}));
    EXPECT_EQ(AsBytes(BuildBurnInFrame(true)), (Bytes{0xFF, 0x04, 0x02, 0x02, 0xFF, 0x55, 0x5B}));
    EXPECT_EQ(AsBytes(BuildBurnInFrame(false)), (Bytes{0xFF, 0x04, 0x02, 0x02, 0xFF, 0xAA, 0xB0}));
}

TEST(Frames, ChecksumWrapsModulo256) {
    const Bytes bytes = {0xFF, 0xFF, 0x03};
    EXPECT_EQ(FrameChecksum(bytes), 0x01);
    EXPECT_EQ(FrameChecksum({}), 0x00);
}

TEST(Frames, KeyRegisterWriteCarriesTheCodeBigEndian) {
    const auto frame = BuildWriteRequest(kRegKey, kKeyWriteUnlock);
    EXPECT_EQ(frame[4], 0xFF);
    EXPECT_EQ(frame[5], 0xFF);
    EXPECT_EQ(frame[6], 0x6B);
    EXPECT_EQ(frame[9], 0xC4);
    EXPECT_EQ(frame[10], FrameChecksum(std::span<const uint8_t>(frame.data(), 10)));
}

// Corrupts one byte of a good reply and names the check that must reject it.
struct Corruption {
    const char* what;
    size_t offset;
    uint8_t value;
    bool fixChecksum;  // recompute the checksum so that a later check is reached
    ReplyCheck expected;
};

class ReplyValidation : public testing::TestWithParam<Corruption> {};

TEST_P(ReplyValidation, RejectsWithTheFirstFailingCheck) {
    const Corruption& c = GetParam();
    auto reply = BuildRegisterReply(kOpRead, 0xA110, 700);
    reply[c.offset] = c.value;
    if (c.fixChecksum) {
        reply[10] = FrameChecksum(std::span<const uint8_t>(reply.data(), 10));
    }
    uint32_t value = 12345;
    EXPECT_EQ(ValidateRegisterReply(reply, kOpRead, 0xA110, value), c.expected) << c.what;
    if (c.expected != ReplyCheck::Ok) {
        EXPECT_EQ(value, 12345u) << "a rejected reply must not deliver a value";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Checks, ReplyValidation,
    testing::Values(
        Corruption{"sync before checksum", 0, 0xFE, false, ReplyCheck::BadSync},
        Corruption{"length before checksum", 1, 0x04, false, ReplyCheck::BadLength},
        Corruption{"group before checksum", 2, 0x02, false, ReplyCheck::BadGroup},
        Corruption{"write reply to a read", 3, kOpWrite, true, ReplyCheck::WrongOperation},
        Corruption{"operation before checksum", 3, kOpWrite, false, ReplyCheck::WrongOperation},
        Corruption{"checksum off by one", 10, 0x7B, false, ReplyCheck::BadChecksum},
        Corruption{"checksum before address", 5, 0x11, false, ReplyCheck::BadChecksum},
        Corruption{"another register", 5, 0x11, true, ReplyCheck::WrongAddress},
        Corruption{"value bytes are not checked", 6, 0x12, true, ReplyCheck::Ok}));

TEST(ReplyValidationLength, EmptyAndShortRepliesAreRejected) {
    uint32_t value = 7;
    EXPECT_EQ(ValidateRegisterReply({}, kOpRead, 0xA110, value), ReplyCheck::Empty);

    // Ten bytes whose last byte happens to be the checksum of the nine before it: every
    // field check passes, but the value never arrived.
    Bytes shortReply = {0xFF, 0x08, 0x01, 0x03, 0xA1, 0x10, 0x00, 0x00, 0x02};
    shortReply.push_back(FrameChecksum(shortReply));
    EXPECT_EQ(ValidateRegisterReply(shortReply, kOpRead, 0xA110, value), ReplyCheck::TooShort);

    const Bytes justSync = {0xFF};
    EXPECT_EQ(ValidateRegisterReply(justSync, kOpRead, 0xA110, value), ReplyCheck::TooShort);
    EXPECT_EQ(value, 7u);
}

TEST(ReplyValidationValue, ValueIsBigEndianBytesSixToNine) {
    uint32_t value = 0;
    const auto reply = BuildRegisterReply(kOpWrite, kRegStmax, 0xD347D5F0);
    ASSERT_EQ(ValidateRegisterReply(reply, kOpWrite, kRegStmax, value), ReplyCheck::Ok);
    EXPECT_EQ(value, 0xD347D5F0u);
}

}  // namespace
}  // namespace k5
