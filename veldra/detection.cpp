#include "veldra/detection.h"

#include <cstdint>

#include "devlink/commands.h"
#include "serialport/com_port.h"

namespace k5::veldra {

uint32_t FindAmplifier(DeviceLink& link, unsigned port, bool warmedUp) {
    CSerialComm& serial = link.Port();
    // Open() on an open record keeps the old device; the answer must come from this port.
    serial.Close();
    // The record holds an 8-bit port number; a larger one must not wrap to another port.
    if (port > UINT8_MAX) {
        return kDetectOpenFailed;
    }
    serial.SetPortNumber(static_cast<uint8_t>(port));
    if (!serial.Open()) {
        return kDetectOpenFailed;
    }
    if (!link.SendCommand(cmd::kModelQuery, cmd::kModelIsK5, 5)) {
        serial.Close();
        return kDetectNoK5;
    }
    if (warmedUp && !link.SendCommand(cmd::kPowerQuery, cmd::kPowerOn, 5)) {
        serial.Close();
        return kDetectNotPoweredOn;
    }
    return kDetectFound;
}

DetectionResult RunDetection(DeviceLink& link, const DetectionRequest& request,
                             WorkerObserver& observer) {
    DetectionResult result;
    if (request.port != 0) {
        result.code = FindAmplifier(link, request.port, request.warmedUp);
        result.port = static_cast<int32_t>(request.port);
    } else {
        const PortProbe exists = request.portExists ? request.portExists : PortProbe(PortExists);
        for (unsigned n = kFirstAutoPort; n <= kLastAutoPort; ++n) {
            if (observer.StopRequested()) {
                link.Port().Close();
                return result;
            }
            if (!exists(n)) {
                continue;
            }
            const uint32_t code = FindAmplifier(link, n, request.warmedUp);
            if (code == kDetectNotPoweredOn || code == kDetectFound) {
                result = {code, static_cast<int32_t>(n)};
                break;
            }
        }
    }
    observer.OnWorkerEvent({kMsgDetectDone, result.code, result.port});
    return result;
}

}  // namespace k5::veldra
