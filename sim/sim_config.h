#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace k5::sim {

// Everything the simulated amplifier can be told: its readings, its timing and the faults it
// injects. An aggregate, so a test starts a simulator in one line:
//     auto sim = k5::sim::Simulator::Start({.left = 700, .right = 720});
// Designated initialisers must follow the declaration order below.
struct SimConfig {
    // --- The amplifier ---------------------------------------------------------------------
    std::string model = "K5";  // answered to "Main.Model?"; another name is the wrong-model fault
    uint32_t left = 760;       // conductance reading of the left channel (low 12 bits are used)
    uint32_t right = 760;      // conductance reading of the right channel
    bool standby = false;      // start in standby; changing it at run time switches the power
    std::chrono::milliseconds switchOnDelay{20};  // from standby to on; the echo comes then
    bool junk = true;     // bits 12-31 of the conductance registers carry changing junk
    uint32_t jitter = 0;  // readings vary by up to +-jitter around left/right (0: exact)
    uint64_t seed = 0x4B35'5349'4D00'0001;  // for junk, jitter and noise bytes

    // --- Faults on the text commands --------------------------------------------------------
    bool silent = false;        // answers nothing at all
    std::string powerAnswer{};  // non-empty: the power query is answered "Main.Power=<this>"
    std::vector<std::string> ignorePaths{};     // commands on these paths ("Dsp.Test") go unheard
    std::vector<std::string> ignoreCommands{};  // these whole commands ("Main.Power=On") too
    int dropTextReplies = 0;  // the next N text replies are lost (the command still acts)

    // --- Faults on register replies ---------------------------------------------------------
    bool corruptChecksum = false;  // the checksum byte is off by one
    bool wrongAddress = false;     // the reply names the next register
    bool wrongOperation = false;   // a read is answered as a write and the other way round
    size_t shortReply = 0;         // non-zero: only this many bytes of the reply are sent
    size_t noiseBytes = 0;         // junk bytes (never FF) sent before each register reply
    bool noiseOnly = false;        // ... or instead of it
    std::optional<uint16_t> faultAddress{};  // the frame faults above hit only this register
    size_t faultSkip = 0;                    // ... and spare the first N replies they would hit
    bool refuseWrites = false;               // writes of STMAX, STPTE and STCLIP get no reply
    bool readbackMismatch = false;           // reads of those three come back with bit 0 flipped

    // --- Faults on the line -----------------------------------------------------------------
    std::chrono::milliseconds slowReplies{0};  // every reply is delayed by this much
    size_t hangUpAfter = 0;  // non-zero: the line hangs up as the Nth request arrives

    // --- The program around it --------------------------------------------------------------
    bool trace = false;         // print every byte both ways to std::clog
    std::string linkPath{};     // non-empty: a symlink to the terminal, removed on stop
    std::string tracePrefix{};  // put before every trace line, e.g. "[3] " for unit 3 of a line
};

// The most units one k5sim serves.
inline constexpr unsigned kMaxUnits = 64;

// A line of simulated units served by one program: each is a Simulator of its own, with the
// same configuration but a seed of its own, and is optionally mapped to a COM number.
struct LineOptions {
    unsigned units = 1;
    std::string linkDir{};       // non-empty: a symlink <dir>/COM<n> to each unit's terminal
    std::string portTableDir{};  // non-empty: <dir>/k5kit/ports.conf maps COM<n> to each unit
    unsigned firstCom = 1;       // the first unit's COM number; the others follow in order
};

}  // namespace k5::sim
