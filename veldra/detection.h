#pragma once

#include <functional>

#include "devlink/device_link.h"
#include "veldra/event_codes.h"
#include "worker/worker_observer.h"

namespace k5::veldra {

// Tells whether COM port n exists without opening it; k5::PortExists unless a caller
// supplies its own.
using PortProbe = std::function<int(unsigned port)>;

struct DetectionRequest {
    unsigned port = 0;       // the chosen COM port; 0 searches COM1 to COM15
    bool warmedUp = false;   // the K5 must also be powered on (the warm-up will be skipped)
    PortProbe portExists{};  // empty: k5::PortExists
};

// What detection reported.
struct DetectionResult {
    uint32_t code = kDetectNoneFound;
    int32_t port = kNoPortFound;
};

// Opens COM port n on the link's port record and asks for a K5 (and, when `warmedUp`, for
// its power state). Returns a DetectCode 0..3; the port is left open only on kDetectFound.
// A port still open from an earlier run is closed first, so the answer always comes from
// port n; a port number the record cannot hold (above 255) cannot be opened.
uint32_t FindAmplifier(DeviceLink& link, unsigned port, bool warmedUp);

// The detection worker: probes the chosen port, or every existing port from COM1 to COM15
// until one answers as a K5, and reports the result with kMsgDetectDone as its last act.
// In a search, ports that fail to open or give no K5 are passed over; the search stops at
// the first K5, powered on or not. When the observer says stop between two ports, the worker
// ends without a report and with the port closed.
DetectionResult RunDetection(DeviceLink& link, const DetectionRequest& request,
                             WorkerObserver& observer);

}  // namespace k5::veldra
