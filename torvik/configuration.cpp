#include "torvik/configuration.h"

#include <optional>
#include <string>

#include "devlink/commands.h"
#include "devlink/registers.h"
#include "torvik/protection_math.h"
#include "torvik/result_texts.h"

namespace k5::torvik {

namespace {

// Every stage of the run is followed by this pause, which the user's Stop may cut short.
constexpr uint32_t kStagePauseMs = 1000;
constexpr uint32_t kCommandPauseMs = 5;
// A K5 in standby needs this long before it echoes the power-on command.
constexpr uint32_t kPowerOnPauseMs = 18000;

// nullopt: the run was cancelled and ends silently.
using Outcome = std::optional<int>;

class ConfigurationRun {
public:
    ConfigurationRun(DeviceLink& link, ConfigSettings& settings, ConfigurationObserver& observer)
        : link_(link), settings_(settings), observer_(observer) {}

    Outcome Run();

private:
    void Log(std::string_view text) { observer_.AppendLog(text); }
    // False when the user stopped the run during the pause.
    bool Pause() { return link_.WaitOrCancel(kStagePauseMs) == WaitResult::Elapsed; }
    bool Command(std::string_view command, std::string_view expected,
                 uint32_t pauseMs = kCommandPauseMs) {
        return link_.SendCommand(command, expected, pauseMs) == 1;
    }
    // An assignment is acknowledged by its own echo.
    bool Assign(std::string_view command) { return Command(command, command); }
    bool Write(uint16_t address, uint32_t value) {
        return link_.WriteRegister(address, value) == 1;
    }

    Outcome Identify();
    Outcome Measure(uint32_t& avg);
    Outcome WriteAndVerify(uint32_t stmax, uint32_t stpte, uint32_t stclip);
    // Reads a written register back and compares it with what was written.
    int Verify(uint16_t address, uint32_t written, std::string_view verifiedText);

    DeviceLink& link_;
    ConfigSettings& settings_;
    ConfigurationObserver& observer_;
    UserSettings user_;
};

Outcome ConfigurationRun::Identify() {
    Log("Start K5 Power AMP Configuration processing\n");
    if (!Pause()) {
        return std::nullopt;
    }
    if (!Command(cmd::kModelQuery, cmd::kModelIsK5)) {
        return kResultNoK5;
    }
    Log("\nInitializing K5...");
    if (!Pause()) {
        return std::nullopt;
    }
    if (Command(cmd::kPowerQueryBare, cmd::kPowerOff)) {
        if (!Command(cmd::kPowerOn, cmd::kPowerOn, kPowerOnPauseMs)) {
            return kResultConnectionError;
        }
    } else if (!Command(cmd::kPowerQueryBare, cmd::kPowerOn)) {
        return kResultConnectionError;
    }
    Log("OK\n");
    Log("\nConfiguring K5...\n");
    if (!Pause()) {
        return std::nullopt;
    }
    Log("1) Select input to COAX1...");
    if (!Assign(cmd::kSourceCoax1)) {
        return kResultConnectionError;
    }
    Log("OK\n");
    Log("2) DSP oscillator mode,generate 1KHz signal with 96K sample rate...");
    if (!Assign(cmd::kTestTone1k)) {
        return kResultConnectionError;
    }
    Log("OK\n");
    Log("3) Volume = -8dB...");
    if (!Assign(cmd::kVolumeMinus8)) {
        return kResultConnectionError;
    }
    Log("OK\n");
    if (!Pause()) {
        return std::nullopt;
    }
    return kResultSuccess;
}

Outcome ConfigurationRun::Measure(uint32_t& avg) {
    Log("\nGet high signal conductance value...\n");
    user_ = settings_.TakeUserSettings();

    struct Channel {
        int entry;
        const char* line;
        MeasureStatus status = kMeasureReadFailure;
        uint32_t reading = 0;
    };
    Channel channels[] = {
        {kEntryLeftConductance, "Left High signal conductance value is: %d(0x%x)\n"},
        {kEntryRightConductance, "Right High signal conductance value is: %d(0x%x)\n"},
    };
    for (Channel& channel : channels) {
        uint16_t address = 0;
        uint32_t previous = 0;
        settings_.GetRegisterEntry(channel.entry, address, previous);
        channel.status = link_.MeasureRegister(address, user_.conductanceMin, user_.conductanceMax,
                                               channel.reading);
        if (channel.status == kMeasureCancelled) {
            return std::nullopt;
        }
        if (channel.status == kMeasureReadFailure) {
            return kResultConnectionError;
        }
        if (channel.status == kMeasureInRange) {
            settings_.SetRegisterValue(channel.entry, channel.reading);
        }
        Log(FormatValueLine(channel.line, channel.reading));
    }
    const uint32_t left = channels[0].reading;
    const uint32_t right = channels[1].reading;
    if (channels[0].status == kMeasureOutOfRange || channels[1].status == kMeasureOutOfRange) {
        return kResultConductanceRange;
    }
    if (ConductanceImbalanced(left, right)) {
        return kResultConductanceBalance;
    }
    avg = AverageConductance(left, right);
    Log(FormatValueLine("High signal conductance value is: %d(0x%x)\n", avg));
    return kResultSuccess;
}

int ConfigurationRun::Verify(uint16_t address, uint32_t written, std::string_view verifiedText) {
    uint32_t readBack = 0;
    if (link_.ReadRegister(address, readBack) != 1) {
        // Lock again before giving up; whether the lock is taken is not looked at.
        link_.WriteRegister(kRegKey, kKeyWriteLock);
        return kResultConnectionError;
    }
    if (readBack != written) {
        link_.WriteRegister(kRegKey, kKeyWriteLock);
        return kResultRegisterError;
    }
    Log(verifiedText);
    return kResultSuccess;
}

Outcome ConfigurationRun::WriteAndVerify(uint32_t stmax, uint32_t stpte, uint32_t stclip) {
    Log("\nSend new register values to K5...\n");
    if (!Pause()) {
        return std::nullopt;
    }
    if (!Write(kRegKey, kKeyWriteUnlock)) {
        return kResultConnectionError;
    }
    // A failed write leaves the registers unlocked: the lock code is only sent once all
    // three have been verified.
    if (!Write(kRegStmax, stmax)) {
        return kResultRegisterError;
    }
    Log("Reg STMAX is sent.\n");
    if (!Write(kRegStpte, stpte)) {
        return kResultRegisterError;
    }
    Log("Reg STPTE is sent.\n");
    if (!Write(kRegStclip, stclip)) {
        return kResultRegisterError;
    }
    Log("Reg STCLIP is sent.\n");

    Log("\nVerify the modified register values...\n");
    if (!Pause()) {
        return std::nullopt;
    }
    if (const int code = Verify(kRegStmax, stmax, "Reg STMAX is verified.\n");
        code != kResultSuccess) {
        return code;
    }
    if (const int code = Verify(kRegStpte, stpte, "Reg STPTE is verified.\n");
        code != kResultSuccess) {
        return code;
    }
    if (const int code = Verify(kRegStclip, stclip, "Reg STCLIP is verified.\n");
        code != kResultSuccess) {
        return code;
    }
    if (!Write(kRegKey, kKeyWriteLock)) {
        return kResultConnectionError;
    }
    return kResultSuccess;
}

Outcome ConfigurationRun::Run() {
    Outcome outcome = Identify();
    if (outcome != kResultSuccess) {
        return outcome;
    }
    uint32_t avg = 0;
    outcome = Measure(avg);
    if (outcome != kResultSuccess) {
        return outcome;
    }

    Log("\nCalculating coefficients...\n");
    if (!Pause()) {
        return std::nullopt;
    }
    Log(FormatValueLine("\nCoeff0 = %d(0x%x)\n", avg));
    const Coefficients coefficients = CalculateCoefficients(avg);
    Log("Coeff2 = " + FormatFixed5(coefficients.coeff2) + "\n");
    Log("Coeff1 = " + FormatFixed5(coefficients.coeff1) + "\n");

    Log("\nCalculating register setting values...\n");
    if (!Pause()) {
        return std::nullopt;
    }
    const RegisterFields fields =
        CalculateRegisterFields(avg, coefficients, user_.pmax, user_.pc, user_.ip, user_.pref);
    settings_.StoreCalculatedValues(fields.calcPmax, fields.calcPc, fields.calcIp);
    Log(FormatValueLine("Calculated Pmax = %d(0x%x)\n", fields.calcPmax));
    Log(FormatValueLine("Calculated Pc = %d(0x%x)\n", fields.calcPc));
    Log(FormatValueLine("Calculated Ip = %d(0x%x)\n", fields.calcIp));
    // A field wider than its 12 bits would spill into its neighbours and hand the amplifier a
    // corrupt protection register: stop before anything is unlocked or written.
    if (const std::optional<std::string> overflow = RegisterFieldOverflowLine(fields)) {
        Log(*overflow);
        return kResultConductanceRange;
    }

    Log("\nGet the register values according to the calulated results...\n");
    if (!Pause()) {
        return std::nullopt;
    }
    const uint32_t stmax = ComposeStmax(fields.calcPmax, fields.calcIp);
    const uint32_t stpte = ComposeStpte(fields.calcPc, user_.ep, user_.red, user_.rec);
    const uint32_t stclip = ComposeStclip(user_.cp);
    settings_.SetRegisterValue(kEntryStmax, stmax);
    settings_.SetRegisterValue(kEntryStpte, stpte);
    Log(FormatRegisterLine("STMAX", stmax));
    Log(FormatRegisterLine("STPTE", stpte));
    Log(FormatRegisterLine("STCLIP", stclip));

    outcome = WriteAndVerify(stmax, stpte, stclip);
    if (outcome != kResultSuccess) {
        return outcome;
    }

    Log("\nCalculating the output parameters...\n");
    if (!Pause()) {
        return std::nullopt;
    }
    // No wait follows: a Stop from here on stays pending on the event for its next user.
    const OutputFigures figures = CalculateOutputFigures(avg, coefficients, fields, user_.pref);
    Log(FormatFigureLine("Max power at 2ohms is: %d\n", figures.p2));
    Log(FormatFigureLine("Max power at 2ohms(I limit) is: %d\n", figures.p2i));
    Log(FormatFigureLine("Continuous power at 4ohms is: %d\n", figures.p4));
    return kResultSuccess;
}

}  // namespace

void RunConfiguration(DeviceLink& link, ConfigSettings& settings, ConfigurationObserver& observer) {
    ConfigurationRun run(link, settings, observer);
    if (const Outcome outcome = run.Run()) {
        observer.Complete(*outcome);
    }
}

}  // namespace k5::torvik
