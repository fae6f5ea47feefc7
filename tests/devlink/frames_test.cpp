#include "devlink/frames.h"

#include <gtest/gtest.h>

#include <optional>
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

TEST(Frames, ChecksumIsThePublishedByte) {
    struct Example {
        Bytes frame;  // without its checksum
        uint8_t checksum;
    };
    const Example examples[] = {
        {{0xFF, 0x04, 0x01, 0x03, 0xA1, 0x10}, 0xB8},
        {{0xFF, 0x08, 0x01, 0x02, 0xA1, 0x0A, 0x00, 0x54, 0x22, 0x8A}, 0xB5},
        {{0xFF, 0x08, 0x01, 0x03, 0xA1, 0x10, 0x00, 0x00, 0x02, 0xBC}, 0x7A},
        {{0xFF, 0x04, 0x02, 0x02, 0xFF, 0x55}, 0x5B},
        {{0xFF, 0x04, 0x02, 0x02, 0xFF, 0xAA}, 0xB0},
    };
    for (const Example& e : examples) {
        EXPECT_EQ(FrameChecksum(e.frame), e.checksum) << testing::PrintToString(e.frame);
    }
}

TEST(Frames, ChecksumWrapsModulo256) {
    const Bytes bytes = {0xFF, 0xFF, 0x03};
    EXPECT_EQ(FrameChecksum(bytes), 0x01);
    EXPECT_EQ(FrameChecksum({}), 0x00);
}

TEST(Frames, KeyRegisterWriteCarriesTheCodeBigEndian) {
    // The checksum worked out by hand: 0x0A + 0xFF + 0xFF + 0x6B + 0x2E + 0x91 + 0xC4.
    EXPECT_EQ(AsBytes(BuildWriteRequest(kRegKey, kKeyWriteUnlock)),
              (Bytes{0xFF, 0x08, 0x01, 0x02, 0xFF, 0xFF, 0x6B, 0x2E, 0x91, 0xC4, 0xF6}));
}

// Corrupts one byte of a good reply and names the check that must reject it.
struct Corruption {
    const char* what;
    size_t offset;
    uint8_t value;
    // The corrupted frame's own checksum, worked out by hand, so that a later check is
    // reached; none: the published reply's checksum stays.
    std::optional<uint8_t> checksum;
    ReplyCheck expected;
};

class ReplyValidation : public testing::TestWithParam<Corruption> {};

TEST_P(ReplyValidation, RejectsWithTheFirstFailingCheck) {
    const Corruption& c = GetParam();
    auto reply = BuildRegisterReply(kOpRead, 0xA110, 700);
    reply[c.offset] = c.value;
    if (c.checksum) {
        reply[10] = *c.checksum;
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
        Corruption{"sync before checksum", 0, 0xFE, std::nullopt, ReplyCheck::BadSync},
        Corruption{"length before checksum", 1, 0x04, std::nullopt, ReplyCheck::BadLength},
        Corruption{"group before checksum", 2, 0x02, std::nullopt, ReplyCheck::BadGroup},
        Corruption{"write reply to a read", 3, kOpWrite, 0x79, ReplyCheck::WrongOperation},
        Corruption{"operation before checksum", 3, kOpWrite, std::nullopt,
                   ReplyCheck::WrongOperation},
        Corruption{"checksum off by one", 10, 0x7B, std::nullopt, ReplyCheck::BadChecksum},
        Corruption{"checksum before address", 5, 0x11, std::nullopt, ReplyCheck::BadChecksum},
        Corruption{"another register", 5, 0x11, 0x7B, ReplyCheck::WrongAddress},
        Corruption{"value bytes are not checked", 6, 0x12, 0x8C, ReplyCheck::Ok}));

TEST(ReplyValidationLength, EmptyAndShortRepliesAreRejected) {
    uint32_t value = 7;
    EXPECT_EQ(ValidateRegisterReply({}, kOpRead, 0xA110, value), ReplyCheck::Empty);

    // Ten bytes whose last byte happens to be the checksum of the nine before it: every
    // field check passes, but the value never arrived.
    const Bytes shortReply = {0xFF, 0x08, 0x01, 0x03, 0xA1, 0x10, 0x00, 0x00, 0x02, 0xBE};
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
