#pragma once

#include <functional>
#include <string>

namespace k5 {

// Problems the port layer meets that fail nothing but that the user should hear of (a port
// table that is ignored and never rewritten). The layer prints nothing itself: a program that
// wants them (on standard error, say) sets a sink at its start; without one they are dropped.
using NoticeSink = std::function<void(const std::string& notice)>;

// Replaces the sink; an empty one drops notices.
void SetNoticeSink(NoticeSink sink);

// The programs' sink: each notice on a line of its own on standard error.
void SendNoticesToStandardError();

// Hands `notice` to the sink the first time this process reports `key`; every later report
// of the same key is dropped. Safe from any thread; calls of the sink never overlap.
void NoticeOnce(const std::string& key, const std::string& notice);

}  // namespace k5
