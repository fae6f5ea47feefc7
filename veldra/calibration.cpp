#include "veldra/calibration.h"

#include "devlink/commands.h"
#include "devlink/registers.h"
#include "veldra/calibration_math.h"
#include "veldra/event_codes.h"

namespace k5::veldra {

namespace {

constexpr uint32_t kMeasureSettleMs = 2000;
constexpr uint32_t kStepPauseMs = 1000;

class CalibrationRun {
public:
    CalibrationRun(DeviceLink& link, ConfigSettings& settings, WorkerObserver& observer,
                   CalibrationFigures& figures)
        : link_(link), settings_(settings), observer_(observer), figures_(figures) {}

    uint32_t Run();

private:
    // Each step returns 0 to go on, or the final code it ended with (already sent).
    uint32_t Initialize();
    uint32_t Measure(uint32_t& coeff0);
    uint32_t Calculate(uint32_t coeff0, CalibrationValues& values);
    uint32_t Configure(const CalibrationValues& values);
    uint32_t Verify(const CalibrationValues& values);
    uint32_t PowerOff();

    void Send(uint32_t code) { observer_.OnWorkerEvent({kMsgCalibProgress, code, 0}); }
    void Tick() { Send(kCalibTick); }
    uint32_t Fail(uint32_t code) {
        Send(code);
        return code;
    }
    void StepDone(uint32_t next) {
        Send(kCalibStepOk);
        Send(next);
    }
    bool Command(std::string_view command) { return link_.SendCommand(command, command, 5) == 1; }
    bool Paused(uint32_t ms) { return link_.WaitOrCancel(ms) == WaitResult::Elapsed; }
    void Lock() { (void)link_.WriteRegister(kRegKey, kKeyWriteLock); }

    DeviceLink& link_;
    ConfigSettings& settings_;
    WorkerObserver& observer_;
    CalibrationFigures& figures_;
};

uint32_t CalibrationRun::Run() {
    uint32_t coeff0 = 0;
    CalibrationValues values;
    if (uint32_t code = Initialize()) {
        return code;
    }
    if (uint32_t code = Measure(coeff0)) {
        return code;
    }
    if (uint32_t code = Calculate(coeff0, values)) {
        return code;
    }
    if (uint32_t code = Configure(values)) {
        return code;
    }
    if (uint32_t code = Verify(values)) {
        return code;
    }
    return PowerOff();
}

uint32_t CalibrationRun::Initialize() {
    Send(kCalibInitializing);
    Tick();
    if (!Command(cmd::kSourceCoax1)) {
        return Fail(kCalibFailed);
    }
    Tick();
    if (!Command(cmd::kMuteOff)) {
        return Fail(kCalibFailed);
    }
    Tick();
    if (!Command(cmd::kTestTone1k)) {
        return Fail(kCalibFailed);
    }
    Tick();
    if (!Command(cmd::kVolumeMinus8)) {
        return Fail(kCalibFailed);
    }
    StepDone(kCalibMeasuring);
    return 0;
}

uint32_t CalibrationRun::Measure(uint32_t& coeff0) {
    if (!Paused(kMeasureSettleMs)) {
        return Fail(kCalibCancelled);
    }
    const UserSettings user = settings_.TakeUserSettings();
    MeasureStatus status[2] = {kMeasureInRange, kMeasureInRange};
    uint32_t reading[2] = {0, 0};
    for (int entry : {kEntryLeftConductance, kEntryRightConductance}) {
        uint16_t address = 0;
        uint32_t previous = 0;
        settings_.GetRegisterEntry(entry, address, previous);
        status[entry] = link_.MeasureRegister(address, user.conductanceMin, user.conductanceMax,
                                              reading[entry]);
        Tick();
        if (status[entry] == kMeasureCancelled) {
            return Fail(kCalibCancelled);
        }
        if (status[entry] == kMeasureReadFailure) {
            return Fail(kCalibFailed);
        }
        if (status[entry] == kMeasureInRange) {
            settings_.SetRegisterValue(entry, reading[entry]);
            (entry == kEntryLeftConductance ? figures_.left : figures_.right) = reading[entry];
        }
    }
    Tick();
    if (status[0] == kMeasureOutOfRange || status[1] == kMeasureOutOfRange ||
        ChannelsUnbalanced(reading[0], reading[1])) {
        return Fail(kCalibBadLoad);
    }
    coeff0 = Coeff0(reading[0], reading[1]);
    StepDone(kCalibCalculating);
    return 0;
}

uint32_t CalibrationRun::Calculate(uint32_t coeff0, CalibrationValues& values) {
    if (!Paused(kStepPauseMs)) {
        return Fail(kCalibCancelled);
    }
    Tick();
    values = CalculateCalibration(coeff0, settings_.TakeUserSettings());
    settings_.StoreCalculatedValues(values.calcPmax, values.calcPc, values.calcIp);
    figures_.coeff0 = coeff0;
    figures_.calculated = values;
    Tick();
    Tick();  // STMAX and STPTE formed
    StepDone(kCalibConfiguring);
    return 0;
}

uint32_t CalibrationRun::Configure(const CalibrationValues& values) {
    if (!Paused(kStepPauseMs)) {
        return Fail(kCalibCancelled);
    }
    Tick();
    // A failed write leaves the registers unlocked: nothing more reaches the amplifier.
    if (!link_.WriteRegister(kRegKey, kKeyWriteUnlock)) {
        return Fail(kCalibFailed);
    }
    Tick();
    if (!link_.WriteRegister(kRegStmax, values.stmax)) {
        return Fail(kCalibFailed);
    }
    Tick();
    if (!link_.WriteRegister(kRegStpte, values.stpte)) {
        return Fail(kCalibFailed);
    }
    Tick();
    if (!link_.WriteRegister(kRegStclip, values.stclip)) {
        return Fail(kCalibFailed);
    }
    StepDone(kCalibVerifying);
    return 0;
}

uint32_t CalibrationRun::Verify(const CalibrationValues& values) {
    if (!Paused(kStepPauseMs)) {
        return Fail(kCalibCancelled);
    }
    Tick();
    const struct {
        uint16_t address;
        uint32_t written;
    } registers[] = {
        {kRegStmax, values.stmax}, {kRegStpte, values.stpte}, {kRegStclip, values.stclip}};
    for (const auto& reg : registers) {
        uint32_t value = 0;
        if (!link_.ReadRegister(reg.address, value)) {
            Lock();
            return Fail(kCalibFailed);
        }
        Tick();
        if (value != reg.written) {
            Lock();
            return Fail(kCalibReadBackMismatch);
        }
        Tick();
    }
    if (!link_.WriteRegister(kRegKey, kKeyWriteLock)) {
        return Fail(kCalibFailed);
    }
    StepDone(kCalibPoweringOff);
    return 0;
}

uint32_t CalibrationRun::PowerOff() {
    if (!Command(cmd::kPowerOff)) {
        return Fail(kCalibPowerOffFailed);
    }
    StepDone(kCalibComplete);
    return kCalibComplete;
}

}  // namespace

uint32_t RunCalibration(DeviceLink& link, ConfigSettings& settings, WorkerObserver& observer,
                        CalibrationFigures& figures) {
    return CalibrationRun(link, settings, observer, figures).Run();
}

uint32_t RunCalibration(DeviceLink& link, ConfigSettings& settings, WorkerObserver& observer) {
    CalibrationFigures figures;
    return RunCalibration(link, settings, observer, figures);
}

}  // namespace k5::veldra
