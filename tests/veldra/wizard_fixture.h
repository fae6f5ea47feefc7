#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/simulator.h"
#include "tests/support/scoped_env.h"
#include "veldra/wizard_link.h"
#include "veldra/worker_observer.h"

namespace k5::veldra::test {

using namespace std::chrono_literals;

// Records what a worker reports. `onEvent` runs on the worker's thread after the event is
// recorded, so a test can act at a chosen point of a run.
class RecordingObserver : public WorkerObserver {
public:
    std::function<void(const WorkerEvent&)> onEvent;

    void OnWorkerEvent(const WorkerEvent& event) override {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(event);
        }
        changed_.notify_all();
        if (onEvent) {
            onEvent(event);
        }
    }

    std::vector<WorkerEvent> Events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    std::vector<uint32_t> Codes() const {
        std::vector<uint32_t> codes;
        for (const WorkerEvent& e : Events()) {
            codes.push_back(e.code);
        }
        return codes;
    }
    size_t CountOf(uint32_t code) const {
        const std::vector<uint32_t> codes = Codes();
        return static_cast<size_t>(std::count(codes.begin(), codes.end(), code));
    }
    // Waits until an event with `code` has been recorded.
    bool WaitForCode(uint32_t code, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            return std::any_of(events_.begin(), events_.end(),
                               [&](const WorkerEvent& e) { return e.code == code; });
        });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<WorkerEvent> events_;
};

// A simulated K5 with the wizard's link already open on it, as after a successful detection.
class SimOnLink {
public:
    explicit SimOnLink(sim::SimConfig config, double timeScale = 0.01) {
        std::string error;
        sim_ = sim::Simulator::Start(std::move(config), error);
        if (!sim_) {
            ADD_FAILURE() << "simulator: " << error;
            return;
        }
        wizard_.Port().SetDevicePathOverride(sim_->DevicePath());
        opened_ = wizard_.Port().Open() == 1;
        wizard_.Link().SetTimeScale(timeScale);
    }
    ~SimOnLink() { wizard_.Port().Close(); }

    bool Ready() const { return sim_ != nullptr && opened_; }
    sim::Simulator& Sim() { return *sim_; }
    WizardLink& Wizard() { return wizard_; }
    DeviceLink& Link() { return wizard_.Link(); }

private:
    std::unique_ptr<sim::Simulator> sim_;
    WizardLink wizard_;
    bool opened_ = false;
};

// Maps COM1 to COM15 for the life of the object: the ports given a path lead there, every
// other port to a path that does not exist, so the machine's own serial ports never take
// part. Set before a worker starts and restored after it has been joined: the worker reads
// the mapping.
class ComPortMap {
public:
    explicit ComPortMap(const std::vector<std::pair<unsigned, std::string>>& ports) {
        for (unsigned n = 1; n <= 15; ++n) {
            std::string path = "/nonexistent/k5-veldra-test/COM" + std::to_string(n);
            for (const auto& [port, mapped] : ports) {
                if (port == n) {
                    path = mapped;
                }
            }
            env_[n - 1] = std::make_unique<k5::test::ScopedEnv>("K5_COM" + std::to_string(n), path);
        }
    }

private:
    std::array<std::unique_ptr<k5::test::ScopedEnv>, 15> env_;
};

// Text commands the amplifier received, in order, without their carriage returns.
inline std::vector<std::string> TextRequests(const sim::Simulator& sim) {
    std::vector<std::string> texts;
    for (const sim::Request& r : sim.Requests()) {
        if (r.kind == sim::RequestKind::Text) {
            texts.push_back(r.text);
        }
    }
    return texts;
}

inline size_t CountText(const sim::Simulator& sim, std::string_view text) {
    const std::vector<std::string> texts = TextRequests(sim);
    return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
}

// When the amplifier first received `text` at or after `from`.
inline std::optional<std::chrono::steady_clock::time_point> FirstRequest(
    const sim::Simulator& sim, std::string_view text,
    std::chrono::steady_clock::time_point from = {}) {
    for (const sim::Request& r : sim.Requests()) {
        if (r.kind == sim::RequestKind::Text && r.text == text && r.received >= from) {
            return r.received;
        }
    }
    return std::nullopt;
}

// When the amplifier first sent a reply holding `text` (carriage returns included).
inline std::optional<std::chrono::steady_clock::time_point> FirstReply(const sim::Simulator& sim,
                                                                       std::string_view text) {
    for (const sim::SentReply& r : sim.Replies()) {
        if (std::string_view(reinterpret_cast<const char*>(r.bytes.data()), r.bytes.size())
                .find(text) != std::string_view::npos) {
            return r.sent;
        }
    }
    return std::nullopt;
}

}  // namespace k5::veldra::test
