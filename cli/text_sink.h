#pragma once

#include <chrono>
#include <cstdio>
#include <string_view>

namespace k5::cli {

// Where a command's texts go: its standard output or its standard error, or, on a line of
// several units, that unit's share of them. A text is written whole, in the order given.
class TextSink {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~TextSink() = default;
    virtual void Write(std::string_view text) = 0;

    // A countdown of `total` that ends at `end` has begun (the warm-up's), and has ended: a
    // live view shows the time left; elsewhere nothing changes.
    virtual void CountdownBegins(Clock::time_point /*end*/, std::chrono::seconds /*total*/) {}
    virtual void CountdownEnds() {}
};

// A standard stream, flushed after every text. It may be a pipe that its reader has closed:
// SIGPIPE is ignored and a failed write is dropped, so the procedure still runs to its end.
class FileSink final : public TextSink {
public:
    explicit FileSink(std::FILE* stream) : stream_(stream) {}
    void Write(std::string_view text) override {
        std::fwrite(text.data(), 1, text.size(), stream_);
        std::fflush(stream_);
    }

private:
    std::FILE* stream_;
};

inline void Print(TextSink& sink, std::string_view text) {
    sink.Write(text);
}

}  // namespace k5::cli
