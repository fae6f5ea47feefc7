#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/k5ctl_options.h"
#include "cli/run_record.h"
#include "cli/text_sink.h"
#include "devlink/device_link.h"

namespace k5::cli {

// What inspect read from an amplifier that came in for service; empty where nothing was read.
struct Inspection {
    bool answered = false;  // a K5 answered the model query
    std::optional<bool> poweredOn;
    std::optional<uint32_t> stmax;
    std::optional<uint32_t> stpte;
    std::optional<uint32_t> stclip;
    // Why something could not be read, one line each, for standard error.
    std::vector<std::string> problems;
};

// Asks for the model and the power state and reads STMAX, STPTE and STCLIP: queries and
// register reads only, so nothing the amplifier holds changes. Ends after a model query
// that no K5 answered, and at the first exchange a stop cut short.
Inspection ReadAmplifier(DeviceLink& link);

// Prints what was read with the registers' fields decoded and, when the options give the
// conductance readings, what a configuration with the options' settings would write; the
// problems go to `err`. kExitOk when everything was read, else kExitFailed.
int PrintInspection(const Inspection& inspection, const Options& options, TextSink& out,
                    TextSink& err);

// inspect's own keys of its record; an empty inspection (no port, a stop) gives nulls.
void RecordInspection(RunRecord& record, const Inspection& inspection, const Options& options);

}  // namespace k5::cli
