#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/simulator.h"
#include "tests/support/scoped_env.h"
#include "tests/worker/recording_observer.h"
#include "veldra/wizard_link.h"

namespace k5::veldra::test {

using k5::test::RecordingObserver;

// A simulated K5 with the wizard's link open on it, as after a successful detection.
class SimOnLink {
public:
    explicit SimOnLink(sim::SimConfig config, double timeScale = 0.01)
        : sim_(sim::Simulator::Start(std::move(config), error_)) {
        if (!sim_) {
            ADD_FAILURE() << "simulator: " << error_;
        } else {
            wizard_.Port().SetDevicePathOverride(sim_->DevicePath());
            opened_ = wizard_.Port().Open() == 1;
        }
        wizard_.Link().SetTimeScale(timeScale);
    }
    ~SimOnLink() { wizard_.Port().Close(); }

    bool Ready() const { return sim_ && opened_; }
    sim::Simulator& Sim() { return *sim_; }
    WizardLink& Wizard() { return wizard_; }
    DeviceLink& Link() { return wizard_.Link(); }

private:
    std::string error_;  // before sim_: the simulator's start writes it
    std::unique_ptr<sim::Simulator> sim_;
    WizardLink wizard_;
    bool opened_ = false;
};

// Maps COM1 to COM15 while it lives: the listed ports to their paths, every other port to a
// path that does not exist, so the machine's own serial ports never take part. Create it
// before a worker starts and let it go after the worker has been joined.
class ComPortMap {
public:
    explicit ComPortMap(const std::vector<std::pair<unsigned, std::string>>& ports) {
        for (unsigned n = 1; n <= 15; ++n) {
            std::string path = "/nonexistent/k5-veldra-test/COM" + std::to_string(n);
            for (const auto& [port, mapped] : ports) {
                path = port == n ? mapped : path;
            }
            env_[n - 1] = std::make_unique<k5::test::ScopedEnv>("K5_COM" + std::to_string(n), path);
        }
    }

private:
    std::array<std::unique_ptr<k5::test::ScopedEnv>, 15> env_;
};

// The text commands the amplifier received, in order, without their carriage returns.
inline std::vector<std::string> Texts(const sim::Simulator& sim) {
    std::vector<std::string> texts;
    for (const sim::Request& r : sim.Requests()) {
        if (r.kind == sim::RequestKind::Text) {
            texts.push_back(r.text);
        }
    }
    return texts;
}

inline size_t Count(const sim::Simulator& sim, std::string_view text) {
    const std::vector<std::string> texts = Texts(sim);
    return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
}

// When `text` first arrived at the amplifier, and when its reply holding `reply` went out.
inline std::optional<std::chrono::steady_clock::time_point> Received(const sim::Simulator& sim,
                                                                     std::string_view text) {
    for (const sim::Request& r : sim.Requests()) {
        if (r.kind == sim::RequestKind::Text && r.text == text) {
            return r.received;
        }
    }
    return std::nullopt;
}
inline std::optional<std::chrono::steady_clock::time_point> Answered(const sim::Simulator& sim,
                                                                     std::string_view reply) {
    for (const sim::SentReply& r : sim.Replies()) {
        if (std::string(r.bytes.begin(), r.bytes.end()).find(reply) != std::string::npos) {
            return r.sent;
        }
    }
    return std::nullopt;
}

}  // namespace k5::veldra::test
