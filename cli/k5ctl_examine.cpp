#include "cli/k5ctl_examine.h"

#include <charconv>
#include <cstdarg>
#include <string_view>

#include "devlink/commands.h"
#include "devlink/registers.h"
#include "torvik/protection_math.h"

namespace k5::cli {

namespace {

// Query replies are looked for within this pause, as the configuration run looks for them.
constexpr uint32_t kQueryPauseMs = 5;

struct ProtectionRegister {
    const char* name;
    uint16_t address;
    std::optional<uint32_t> Inspection::*value;
};

constexpr ProtectionRegister kProtectionRegisters[] = {
    {"STMAX", kRegStmax, &Inspection::stmax},
    {"STPTE", kRegStpte, &Inspection::stpte},
    {"STCLIP", kRegStclip, &Inspection::stclip},
};

// What a configuration with the options' settings and the assumed readings would write.
struct WouldWrite {
    torvik::RegisterFields fields;
    // The configuration writes nothing when a field does not fit its 12 bits; this says why.
    std::optional<std::string> overflow;
    uint32_t stmax = 0;
    uint32_t stpte = 0;
    uint32_t stclip = 0;
};

std::optional<WouldWrite> WouldWriteOf(const Options& options) {
    if (!options.left || !options.right) {
        return std::nullopt;
    }
    const UserSettings& settings = options.settings;
    const uint32_t avg = torvik::AverageConductance(*options.left, *options.right);
    WouldWrite result;
    result.fields =
        torvik::CalculateRegisterFields(avg, torvik::CalculateCoefficients(avg), settings.pmax,
                                        settings.pc, settings.ip, settings.pref);
    result.overflow = torvik::RegisterFieldOverflowLine(result.fields);
    result.stmax = torvik::ComposeStmax(result.fields.calcPmax, result.fields.calcIp);
    result.stpte =
        torvik::ComposeStpte(result.fields.calcPc, settings.ep, settings.red, settings.rec);
    result.stclip = torvik::ComposeStclip(settings.cp);
    return result;
}

[[gnu::format(printf, 1, 2)]] std::string Format(const char* format, ...) {
    char buffer[256];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return length < 0 ? std::string() : std::string(buffer);
}

// The shortest text that reads back as the same number: 0.8125, 0.9.
template <typename T>
std::string Shortest(T value) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, end) : std::string();
}

std::string Field(uint32_t value) {
    return Format("%u(0x%x)", value, value);
}

std::string DecodedStmax(uint32_t value) {
    const torvik::StmaxFields fields = torvik::DecodeStmax(value);
    return "Pmax " + Field(fields.calcPmax) + ", Ip " + Field(fields.calcIp) +
           Format(", marker 0x%08X", fields.marker);
}

std::string DecodedStpte(uint32_t value) {
    const torvik::StpteFields fields = torvik::DecodeStpte(value);
    return "Pc " + Field(fields.calcPc) +
           Format(", EP %u, Rec %u, Red %u", fields.ep, fields.rec, fields.red);
}

std::string DecodedStclip(uint32_t value) {
    const uint8_t code = torvik::DecodeStclip(value);
    std::string text = Format("clip code 0x%02X", code);
    if (const std::optional<torvik::ClipSpan> span = torvik::ClipSpanOf(code)) {
        if (span->above && span->atMost) {
            text += " (Cp above " + Shortest(*span->above) + ", at most " +
                    Shortest(*span->atMost) + ")";
        } else if (span->atMost) {
            text += " (Cp at most " + Shortest(*span->atMost) + ")";
        } else if (span->above) {
            text += " (Cp above " + Shortest(*span->above) + ")";
        }
    } else {
        text += " (no clip setting gives it)";
    }
    if (const uint32_t rest = value & 0x00FFFFFFu; rest != 0) {
        text += Format(", bits 0-23 0x%06X", rest);
    }
    return text;
}

std::string RegisterLine(const char* name, uint32_t value, const std::string& decoded) {
    return Format("Reg %-6s = 0x%08X: ", name, value) + decoded;
}

Json OrNull(const std::optional<uint32_t>& value) {
    return value ? Json(*value) : Json(nullptr);
}

}  // namespace

Inspection ReadAmplifier(DeviceLink& link) {
    Inspection inspection;
    const auto cutShort = [&link] { return link.LastFailure() == LinkFailure::Cancelled; };

    if (link.SendCommand(cmd::kModelQuery, cmd::kModelIsK5, kQueryPauseMs) != 1) {
        if (!cutShort()) {
            inspection.problems.push_back(std::string("no K5 answered the model query (") +
                                          Describe(link.LastFailure()) + ")");
        }
        return inspection;
    }
    inspection.answered = true;

    if (link.SendCommand(cmd::kPowerQuery, cmd::kPowerOn, kQueryPauseMs) == 1) {
        inspection.poweredOn = true;
    } else if (cutShort()) {
        return inspection;
    } else if (link.SendCommand(cmd::kPowerQuery, cmd::kPowerOff, kQueryPauseMs) == 1) {
        inspection.poweredOn = false;
    } else if (cutShort()) {
        return inspection;
    } else {
        inspection.problems.push_back(std::string("the power state could not be read (") +
                                      Describe(link.LastFailure()) + ")");
    }

    for (const ProtectionRegister& reg : kProtectionRegisters) {
        uint32_t value = 0;
        if (link.ReadRegister(reg.address, value) == 1) {
            inspection.*reg.value = value;
        } else if (cutShort()) {
            return inspection;
        } else {
            inspection.problems.push_back(std::string(reg.name) + " could not be read (" +
                                          Describe(link.LastFailure()) + ")");
        }
    }
    return inspection;
}

int PrintInspection(const Inspection& inspection, const Options& options, TextSink& out,
                    TextSink& err) {
    if (inspection.answered) {
        std::string text = "Model: K5\n";
        text += "Power: ";
        text += !inspection.poweredOn ? "not read" : *inspection.poweredOn ? "On" : "Off";
        text += "\n";
        using Decoder = std::string (*)(uint32_t);
        const Decoder decoders[] = {DecodedStmax, DecodedStpte, DecodedStclip};
        for (size_t i = 0; i < std::size(kProtectionRegisters); ++i) {
            const ProtectionRegister& reg = kProtectionRegisters[i];
            if (const std::optional<uint32_t> value = inspection.*reg.value) {
                text += RegisterLine(reg.name, *value, decoders[i](*value)) + "\n";
            } else {
                text += Format("Reg %-6s = not read\n", reg.name);
            }
        }

        const UserSettings& s = options.settings;
        if (const std::optional<WouldWrite> would = WouldWriteOf(options)) {
            text += Format(
                "\nA configuration would write, with Pmax %u W, Pc %u W, Ip %u A, Pref %u W,\n"
                "Cp %s, EP %u, Red %u, Rec %u and the readings left %u and right %u\n"
                "(assumed, from --left and --right):\n",
                s.pmax, s.pc, s.ip, s.pref, Shortest(s.cp).c_str(), s.ep, s.red, s.rec,
                *options.left, *options.right);
            if (would->overflow) {
                text += "nothing: " + *would->overflow;
            } else {
                const uint32_t values[] = {would->stmax, would->stpte, would->stclip};
                for (size_t i = 0; i < std::size(kProtectionRegisters); ++i) {
                    const ProtectionRegister& reg = kProtectionRegisters[i];
                    const std::optional<uint32_t> read = inspection.*reg.value;
                    text += RegisterLine(reg.name, values[i], decoders[i](values[i]));
                    text += !read ? "\n" : *read == values[i] ? " (as read)\n" : " (differs)\n";
                }
            }
        } else {
            text +=
                "\nWhat a configuration would write needs the conductance readings: give\n"
                "--left N --right N (the amplifier gives them only in its test state,\n"
                "which inspect does not set).\n";
        }
        Print(out, text);
    }
    for (const std::string& problem : inspection.problems) {
        Print(err, "k5ctl: inspect: " + problem + "\n");
    }
    return inspection.problems.empty() && inspection.answered ? kExitOk : kExitFailed;
}

void RecordInspection(RunRecord& record, const Inspection& inspection, const Options& options) {
    record.Set("left", OrNull(options.left));
    record.Set("right", OrNull(options.right));
    record.Set("model", inspection.answered ? Json("K5") : Json(nullptr));
    record.Set("power",
               inspection.poweredOn ? Json(*inspection.poweredOn ? "on" : "off") : Json(nullptr));

    Json registers;
    Json decoded;
    registers["stmax"] = OrNull(inspection.stmax);
    registers["stpte"] = OrNull(inspection.stpte);
    registers["stclip"] = OrNull(inspection.stclip);
    decoded["stmax"] = nullptr;
    decoded["stpte"] = nullptr;
    decoded["stclip"] = nullptr;
    if (inspection.stmax) {
        const torvik::StmaxFields fields = torvik::DecodeStmax(*inspection.stmax);
        decoded["stmax"] = {
            {"pmax", fields.calcPmax}, {"ip", fields.calcIp}, {"marker", fields.marker}};
    }
    if (inspection.stpte) {
        const torvik::StpteFields fields = torvik::DecodeStpte(*inspection.stpte);
        decoded["stpte"] = {
            {"pc", fields.calcPc}, {"ep", fields.ep}, {"rec", fields.rec}, {"red", fields.red}};
    }
    if (inspection.stclip) {
        decoded["stclip"] = {{"clip_code", torvik::DecodeStclip(*inspection.stclip)}};
    }
    record.Set("registers", std::move(registers));
    record.Set("decoded", std::move(decoded));

    Json would = nullptr;
    if (const std::optional<WouldWrite> values = WouldWriteOf(options)) {
        const bool written = !values->overflow;
        would = {{"calc_pmax", values->fields.calcPmax},
                 {"calc_pc", values->fields.calcPc},
                 {"calc_ip", values->fields.calcIp},
                 {"stmax", written ? Json(values->stmax) : Json(nullptr)},
                 {"stpte", written ? Json(values->stpte) : Json(nullptr)},
                 {"stclip", written ? Json(values->stclip) : Json(nullptr)}};
    }
    record.Set("would_write", std::move(would));
}

}  // namespace k5::cli
