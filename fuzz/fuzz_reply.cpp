// Register reply validation against arbitrary bytes: never reads past what arrived, and
// accepts only what a well-formed reply to the request would be.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "devlink/frames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    const uint8_t operation = (data[0] & 1) ? k5::kOpRead : k5::kOpWrite;
    const uint16_t address = static_cast<uint16_t>((data[1] << 8) | data[2]);
    // Exactly the received bytes, in a buffer of their own size, so that the address
    // sanitizer catches any read beyond them.
    const size_t n = std::min<size_t>(size - 3, k5::kRegisterReplySize);
    std::vector<uint8_t> received(data + 3, data + 3 + n);

    uint32_t value = 0xA5A5A5A5;
    const k5::ReplyCheck check = k5::ValidateRegisterReply(received, operation, address, value);
    if (check == k5::ReplyCheck::Ok) {
        const auto expected = k5::BuildRegisterReply(operation, address, value);
        if (received.size() != expected.size() ||
            !std::equal(received.begin(), received.end(), expected.begin())) {
            std::abort();  // accepted something that is not the reply it claims to be
        }
    } else if (value != 0xA5A5A5A5) {
        std::abort();  // a rejected reply delivered a value
    }
    return 0;
}
