#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/request.h"
#include "sim/sim_config.h"

namespace k5::sim {

enum class Power { Standby, SwitchingOn, On };

const char* Describe(Power power);

// What the amplifier is doing, as far as the programs can tell.
struct AmpState {
    Power power = Power::On;
    std::string source = "Analog1";
    std::string test = "Off";
    int volume = -30;
    bool mute = false;
    bool locked = true;  // the protection registers take writes only after the unlock code
    bool burnIn = false;
    uint32_t stmax = 0;
    uint32_t stpte = 0;
    uint32_t stclip = 0;

    // The 1 kHz test tone drives the load: the conductance registers carry readings.
    bool InTestState() const;
};

// What the amplifier sends back for one request.
struct Reply {
    std::vector<uint8_t> bytes;  // may be empty when the reply was lost but a switch-on is due
    std::chrono::milliseconds delay{0};  // how long after the request it goes out
    // Non-zero: the power comes on when this reply is due; pass it to CompleteSwitchOn.
    uint64_t switchOnTicket = 0;
};

// The amplifier without a clock or a line: requests in, replies out. Timing is expressed as
// a delay on the reply, which whoever drives the model turns into real time. Not thread-safe.
class K5Model {
public:
    static constexpr uint32_t kDefaultStmax = 0xD226D5DC;
    static constexpr uint32_t kDefaultStpte = 0x0054228A;
    static constexpr uint32_t kDefaultStclip = 0x0C000000;

    explicit K5Model(SimConfig config = {});

    // The reply to `request`, or nothing when the amplifier stays silent.
    std::optional<Reply> Handle(const Request& request);

    // Finishes the switch-on that `ticket` announced, unless the power was switched off in
    // between; returns whether the reply that carried the ticket should still go out.
    bool CompleteSwitchOn(uint64_t ticket);

    // Puts the amplifier straight into standby or on, cancelling a switch-on under way.
    void SetPower(bool on);

    const AmpState& State() const { return state_; }
    SimConfig& Config() { return config_; }
    const SimConfig& Config() const { return config_; }

private:
    std::optional<Reply> HandleText(std::string_view text);
    std::optional<Reply> HandleQuery(std::string_view path);
    std::optional<Reply> HandleAssignment(std::string_view path, std::string_view value);
    std::optional<Reply> HandleRead(uint16_t address);
    std::optional<Reply> HandleWrite(uint16_t address, uint32_t value);
    std::optional<Reply> HandleModeControl(const std::vector<uint8_t>& frame);

    uint32_t ReadRegister(uint16_t address);
    uint32_t Conductance(uint32_t reading);
    std::vector<uint8_t> ApplyFrameFaults(uint16_t address, std::vector<uint8_t> frame);
    std::optional<Reply> TextReply(std::string text, uint64_t switchOnTicket = 0);
    Reply Finish(Reply reply) const;
    uint64_t NextRandom();

    SimConfig config_;
    AmpState state_;
    uint64_t random_;
    uint64_t switchOnTicket_ = 0;  // the switch-on under way, 0 when none
    uint64_t lastTicket_ = 0;
};

}  // namespace k5::sim
