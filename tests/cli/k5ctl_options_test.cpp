#include "cli/k5ctl_options.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace k5::cli {
namespace {

ParseResult Parse(std::vector<std::string_view> args) {
    return ParseArguments(args, ConfigSettings().TakeUserSettings());
}

TEST(K5ctlOptions, LineAndCommands) {
    ParseResult r = Parse({"--port", "3", "link-test"});
    ASSERT_TRUE(r.options) << r.error;
    EXPECT_EQ(r.options->command, Command::LinkTest);
    EXPECT_EQ(r.options->port, 3u);
    EXPECT_TRUE(r.options->device.empty());

    r = Parse({"--device=/dev/pts/7", "burn-in", "on"});
    ASSERT_TRUE(r.options) << r.error;
    EXPECT_EQ(r.options->command, Command::BurnIn);
    EXPECT_EQ(r.options->device, "/dev/pts/7");
    EXPECT_TRUE(r.options->burnInOn);

    r = Parse({"--device", "/dev/x", "burn-in", "off"});
    ASSERT_TRUE(r.options) << r.error;
    EXPECT_FALSE(r.options->burnInOn);

    r = Parse({"reset-registers", "--port", "8"});
    ASSERT_TRUE(r.options) << r.error;
    EXPECT_EQ(r.options->command, Command::ResetRegisters);
    EXPECT_EQ(r.options->port, 8u);

    r = Parse({"--port", "1", "configure", "--help"});
    ASSERT_TRUE(r.options);
    EXPECT_EQ(r.options->command, Command::Help);
    EXPECT_EQ(r.exitStatus, kExitOk);
}

TEST(K5ctlOptions, ConfigureChangesOnlyTheGivenSettings) {
    const ParseResult r =
        Parse({"--device", "/dev/x", "configure", "--pmax", "1000", "--cp=0.9", "--conductance-min",
               "900", "--conductance-max", "550", "--report", "out.txt", "--time-scale", "0.01"});
    ASSERT_TRUE(r.options) << r.error;
    UserSettings expected = ConfigSettings().TakeUserSettings();
    expected.pmax = 1000;
    expected.cp = 0.9f;
    expected.conductanceMin = 900;
    expected.conductanceMax = 550;
    EXPECT_EQ(r.options->settings, expected);
    EXPECT_EQ(r.options->reportPath, "out.txt");
    EXPECT_EQ(r.options->timeScale, 0.01);
}

TEST(K5ctlOptions, WizardCommandsTakeADeviceAndTheRecordFile) {
    ParseResult r = Parse(
        {"--device", "/dev/x", "calibrate", "--warm-up", "--minutes", "3", "--json", "line.jsonl"});
    ASSERT_TRUE(r.options) << r.error;
    EXPECT_EQ(r.options->command, Command::Calibrate);
    EXPECT_EQ(r.options->device, "/dev/x");
    EXPECT_TRUE(r.options->warmUpFirst);
    EXPECT_EQ(r.options->minutes, 3);
    EXPECT_EQ(r.options->jsonPath, "line.jsonl");

    r = Parse({"--port", "1", "reset-registers", "--version"});
    ASSERT_TRUE(r.options);
    EXPECT_EQ(r.options->command, Command::Version);
}

TEST(K5ctlOptions, RefusedSettingsNameTheOptionAndTheDialogsBounds) {
    struct Case {
        std::vector<std::string_view> args;
        std::string error;
    };
    const Case cases[] = {
        {{"--pmax", "1001"}, "k5ctl: --pmax: enter an integer between 0 and 1000"},
        {{"--pref", "10001"}, "k5ctl: --pref: enter an integer between 0 and 10000"},
        {{"--ep", "16"}, "k5ctl: --ep: enter an integer between 0 and 15"},
        {{"--red", "8"}, "k5ctl: --red: enter an integer between 0 and 7"},
        {{"--cp", "0.28"}, "k5ctl: --cp: enter a number between 0.28125 and 0.9"},
        {{"--cp", "x"}, "k5ctl: --cp: enter a number between 0.28125 and 0.9"},
        {{"--ip", "-3"}, "k5ctl: --ip: enter an integer between 0 and 1000"},
        // Two refused values: the one the dialog checks first is reported.
        {{"--cp", "2", "--rec", "9"}, "k5ctl: --rec: enter an integer between 0 and 7"},
    };
    for (const Case& c : cases) {
        std::vector<std::string_view> args = {"--port", "1", "configure"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ParseResult r = Parse(args);
        EXPECT_FALSE(r.options);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.exitStatus, kExitUsage);
    }
}

TEST(K5ctlOptions, BadUsageIsRefused) {
    const std::vector<std::vector<std::string_view>> cases = {
        {},
        {"--port", "1"},
        {"link-test"},
        {"--port", "1", "--device", "/dev/x", "link-test"},
        {"--port", "0", "link-test"},
        {"--port", "256", "link-test"},
        {"--port", "x", "link-test"},
        {"--port"},
        {"--port", "1", "frobnicate"},
        {"--port", "1", "burn-in"},
        {"--port", "1", "burn-in", "maybe"},
        {"--port", "1", "link-test", "--pmax", "5"},
        {"--port", "1", "link-test", "--report", "f"},
        {"--port", "1", "configure", "--pmax"},
        {"--port", "1", "configure", "--bogus", "1"},
        {"--port", "1", "configure", "extra"},
        {"--port", "1", "configure", "--time-scale", "-1"},
        {"--port", "1", "link-test", "--json", "f"},
        {"--port", "1", "configure", "--json"},
        {"--port", "1", "configure", "--json", "a", "--json", "b"},
        {"detect", "--unit"},
        {"--port", "1", "warm-up", "--warm-up"},
        {"--port", "1", "calibrate", "--minutes", "2"},
        {"--port", "1", "ports"},
        {"ports", "COM1"},
    };
    for (const auto& args : cases) {
        const ParseResult r = Parse(args);
        EXPECT_FALSE(r.options) << (args.empty() ? "(none)" : std::string(args.back()));
        EXPECT_EQ(r.exitStatus, kExitUsage);
        EXPECT_FALSE(r.error.empty());
    }
}

TEST(K5ctlOptions, MisplacedOptionsAreNamedInTheirOrder) {
    struct Case {
        std::vector<std::string_view> args;
        std::string error;
    };
    const Case cases[] = {
        {{"--port", "1", "link-test", "--json", "f"},
         "k5ctl: --json belongs to configure, inspect, detect, warm-up and calibrate"},
        {{"--port", "1", "reset-registers", "--station", "S1"},
         "k5ctl: --station belongs to configure, inspect, detect, warm-up and calibrate"},
        {{"calibrate", "--minutes", "2"},
         "k5ctl: --minutes belongs to warm-up and calibrate --warm-up"},
        {{"detect", "--warm-up", "--warmed-up"}, "k5ctl: --warm-up belongs to calibrate"},
        {{"--device", "/dev/x", "ports"},
         "k5ctl: ports lists every COM port; it takes no --port or --device"},
        {{"link-test", "--warmed-up"}, "k5ctl: give the line with --port N or --device PATH"},
        // A missing argument comes after the wizard's options and before configure's.
        {{"--port", "1", "burn-in", "--json", "f"},
         "k5ctl: --json belongs to configure, inspect, detect, warm-up and calibrate"},
        {{"--port", "1", "burn-in", "--report", "f"}, "k5ctl: burn-in takes on or off"},
        {{"--port", "1", "burn-in", "on", "--report", "f"},
         "k5ctl: settings and --report belong to configure"},
        // inspect's readings come as a pair.
        {{"--port", "1", "inspect", "--left", "700"}, "k5ctl: give --left and --right together"},
        {{"--port", "1", "inspect", "--right", "4096", "--left", "700"},
         "k5ctl: --right takes a conductance reading from 0 to 4095"},
        // A flag given a value is not the flag.
        {{"detect", "--warmed-up=yes"}, "k5ctl: --warmed-up takes no value"},
    };
    for (const Case& c : cases) {
        const ParseResult r = Parse(c.args);
        EXPECT_FALSE(r.options) << c.error;
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.exitStatus, kExitUsage);
    }
}

TEST(K5ctlOptions, IdentityNamesAreCheckedAndKept) {
    struct Case {
        std::string_view value;
        bool taken;
    };
    const std::string longest(64, 'x');
    const std::string tooLong(65, 'x');
    std::string umlauts;  // 64 characters in 128 bytes
    for (int i = 0; i < 64; ++i) {
        umlauts += "\u00fc";
    }
    const Case cases[] = {
        {"K5-000123", true},
        {"Anna Berg", true},
        {longest, true},
        {umlauts, true},
        {"", false},
        {tooLong, false},
        {"a\tb", false},
        {"line\n", false},
        {"del\x7f", false},
        {"c1\xc2\x85", false},        // U+0085, a control character
        {"bad\xff", false},           // not UTF-8
        {"over\xc0\xaflong", false},  // an overlong '/'
    };
    for (const std::string_view option : {"--unit", "--operator", "--station"}) {
        for (const Case& c : cases) {
            const ParseResult r = Parse({"detect", option, c.value});
            ASSERT_EQ(r.options.has_value(), c.taken) << option << " \"" << c.value << "\"";
            if (!c.taken) {
                EXPECT_EQ(r.exitStatus, kExitUsage);
                EXPECT_EQ(r.error,
                          "k5ctl: " + std::string(option) + " takes 1 to 64 printable characters");
                continue;
            }
            const RunIdentity& id = r.options->identity;
            const std::optional<std::string>& kept = option == "--unit"       ? id.unit
                                                     : option == "--operator" ? id.operatorName
                                                                              : id.station;
            EXPECT_EQ(kept, std::string(c.value)) << option;
            EXPECT_EQ(id.unit.has_value() + id.operatorName.has_value() + id.station.has_value(),
                      1);
        }
        // One unit per command for now, like every other repeated option.
        const ParseResult twice = Parse({"--port", "1", "configure", option, "a", option, "b"});
        EXPECT_FALSE(twice.options);
        EXPECT_EQ(twice.exitStatus, kExitUsage);
        EXPECT_EQ(twice.error, "k5ctl: " + std::string(option) + " is given once per command");
    }
}

// Every option, given to every command: taken exactly where its commands column says.
TEST(K5ctlOptions, EachOptionIsTakenByItsCommandsOnly) {
    const std::map<std::string_view, std::string_view> values = {
        {"--port", "2"},
        {"--device", "/dev/x"},
        {"--minutes", "3"},
        {"--json", "j"},
        {"--pmax", "600"},
        {"--pc", "200"},
        {"--ip", "30"},
        {"--pref", "800"},
        {"--cp", "0.5"},
        {"--ep", "3"},
        {"--red", "4"},
        {"--rec", "1"},
        {"--conductance-min", "500"},
        {"--conductance-max", "950"},
        {"--report", "r"},
        {"--time-scale", "0.5"},
        {"--unit", "SN-1"},
        {"--operator", "op"},
        {"--station", "st"},
        {"--left", "700"},
        {"--right", "720"},
        {"--units", "u"},
        {"--log-dir", "d"},
    };
    for (const OptionRow& option : OptionTable()) {
        if (!option.argument.empty() && !values.contains(option.name)) {
            ADD_FAILURE() << "no value to try " << option.name << " with";
            continue;
        }
        for (const CommandRow& command : CommandTable()) {
            std::vector<std::string_view> args = {command.name};
            if (!command.argument.empty()) {
                args.push_back(command.argument.substr(0, command.argument.find('|')));
            }
            if (command.needsLine && option.section != HelpSection::Line) {
                args.insert(args.end(), {"--device", "/dev/y"});
            }
            args.push_back(option.name);
            if (!option.argument.empty()) {
                args.push_back(values.at(option.name));
            }
            // A conductance reading is given with the other one.
            if (option.name == "--left" || option.name == "--right") {
                const std::string_view other = option.name == "--left" ? "--right" : "--left";
                args.insert(args.end(), {other, values.at(other)});
            }
            for (const OptionRow& with : OptionTable()) {
                if (with.name == option.with && with.commands.Contains(command.command)) {
                    args.push_back(with.name);
                }
            }
            const ParseResult r = Parse(args);
            const bool belongs = option.commands.Contains(command.command);
            EXPECT_EQ(r.options.has_value(), belongs)
                << command.name << " " << option.name << ": " << r.error;
            if (r.options) {
                EXPECT_EQ(r.options->command, command.command);
            }
        }
    }
}

TEST(K5ctlOptions, HelpListsEveryCommandAndOption) {
    const std::string usage(UsageText());
    for (const CommandRow& command : CommandTable()) {
        std::string entry = "\n  " + std::string(command.name);
        if (!command.argument.empty()) {
            entry += " " + std::string(command.argument);
        }
        EXPECT_NE(usage.find(entry), std::string::npos) << entry;
    }
    for (const OptionRow& option : OptionTable()) {
        std::string form(option.name);
        if (!option.argument.empty()) {
            form += " " + std::string(option.argument);
        }
        // An option of its own section starts a line; the others sit in a synopsis.
        const std::string entry =
            option.section == HelpSection::InSynopsis ? "[" + form : "\n  " + form + " ";
        EXPECT_NE(usage.find(entry), std::string::npos) << entry;
    }
}

// The exit-status table of --help: each status after the shared 1 once, in ascending order
// (two pieces of text that each add a row must not leave an old row behind).
TEST(K5ctlOptions, HelpListsEachExitStatusOnceInOrder) {
    const std::string usage(UsageText());
    const size_t table = usage.find("Exit status, the same for every command:\n");
    ASSERT_NE(table, std::string::npos);
    std::vector<int> statuses;
    std::istringstream lines(usage.substr(table));
    for (std::string line; std::getline(lines, line);) {
        if (line.size() > 2 && line.starts_with("  ") && std::isdigit(line[2]) != 0) {
            statuses.push_back(std::stoi(line.substr(2)));
        }
    }
    ASSERT_FALSE(statuses.empty());
    for (size_t i = 1; i < statuses.size(); ++i) {
        EXPECT_TRUE(statuses[i - 1] < statuses[i] || statuses[i] == 1)
            << statuses[i - 1] << " then " << statuses[i];
    }
}

// A line of several units: the list's order is the units' order, the IDs follow it.
TEST(K5ctlOptions, SeveralUnitsAreListedInOrder) {
    struct Case {
        std::vector<std::string_view> args;
        std::vector<LineUnit> line;  // empty: refused
        std::string error = "";
    };
    const Case cases[] = {
        {{"--port", "5-7,2", "configure", "--unit", "a", "--unit", "b", "--unit", "c", "--unit",
          "d"},
         {{5, "", "a"}, {6, "", "b"}, {7, "", "c"}, {2, "", "d"}}},
        {{"--device", "/dev/b", "warm-up", "--device", "/dev/a"},
         {{0, "/dev/b", std::nullopt}, {0, "/dev/a", std::nullopt}}},
        {{"--port", "1-255", "link-test"}, {}, ""},
        {{"--port", "1,,3", "configure"},
         {},
         "k5ctl: --port 1,,3: an empty element; give numbers and ranges, such as --port 1-4,7"},
        {{"--port", "2,", "configure"},
         {},
         "k5ctl: --port 2,: an empty element; give numbers and ranges, such as --port 1-4,7"},
        {{"--port", "4-2", "configure"},
         {},
         "k5ctl: --port 4-2: a range runs upwards, such as 1-4"},
        {{"--port", "1-3,2", "configure"}, {}, "k5ctl: --port 1-3,2: COM2 is listed twice"},
        {{"--port", "0,1", "calibrate"},
         {},
         "k5ctl: --port 0 (automatic detection) cannot be part of a list of several"},
        {{"--port", "1-256", "configure"},
         {},
         "k5ctl: --port takes a COM port number from 1 to 255"},
        {{"--port", "1-", "configure"}, {}, "k5ctl: --port takes a COM port number from 1 to 255"},
        {{"--port", "1", "--port", "2", "configure"},
         {},
         "k5ctl: give --port once; it takes a list of several units, such as 1-4,7"},
        {{"--device", "/dev/a", "--port", "2", "configure"},
         {},
         "k5ctl: give the units with --port or with --device, not both"},
        {{"--port", "2", "--device", "/dev/a", "configure"},
         {},
         "k5ctl: give the units with --port or with --device, not both"},
        {{"--device", "/dev/a", "--device", "/dev/a", "configure"},
         {},
         "k5ctl: --device /dev/a is given twice"},
        {{"--port", "1,2", "detect"},
         {},
         "k5ctl: detect works on one unit; give one --port or --device"},
        {{"--port", "1,2", "inspect"},
         {},
         "k5ctl: inspect works on one unit; give one --port or --device"},
        {{"--port", "1-3", "configure", "--unit", "a", "--unit", "b"},
         {},
         "k5ctl: --unit is given 2 times for 3 units; give one per unit, in port order"},
        {{"--port", "1-2", "configure", "--unit", "a", "--units", "f"},
         {},
         "k5ctl: give --unit or --units, not both"},
    };
    for (const Case& c : cases) {
        const ParseResult r = Parse(c.args);
        if (c.error.empty()) {
            ASSERT_TRUE(r.options) << c.args[1] << ": " << r.error;
            if (c.line.empty()) {
                EXPECT_EQ(r.options->line.size(), 255u);
                continue;
            }
            ASSERT_EQ(r.options->line.size(), c.line.size()) << c.args[1];
            for (size_t i = 0; i < c.line.size(); ++i) {
                EXPECT_EQ(r.options->line[i].port, c.line[i].port) << i;
                EXPECT_EQ(r.options->line[i].device, c.line[i].device) << i;
                EXPECT_EQ(r.options->line[i].id, c.line[i].id) << i;
            }
            continue;
        }
        EXPECT_FALSE(r.options) << c.error;
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.exitStatus, kExitUsage);
    }
}

TEST(K5ctlOptions, UnitsTableMapsComNumbersToIds) {
    struct Case {
        std::string_view text;
        std::map<unsigned, std::string> ids;
        std::string error = "";
    };
    const Case cases[] = {
        {"# line 2\n\nCOM3 SN-0003\r\n  4\tSN 0004  \ncom12 X",
         {{3, "SN-0003"}, {4, "SN 0004"}, {12, "X"}}},
        {"", {}},
        {"COM3\n", {}, "line 1: give a COM port and an ID, such as COM3 SN-0003"},
        {"\nCOM0 A\n", {}, "line 2: give a COM port and an ID, such as COM3 SN-0003"},
        {"COMX A", {}, "line 1: give a COM port and an ID, such as COM3 SN-0003"},
        {"3 A\nCOM3 B", {}, "line 2: COM3 is given twice"},
        {"3 A\x01", {}, "line 1: an ID is 1 to 64 printable characters"},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto ids = ParseUnitsTable(c.text, error);
        EXPECT_EQ(ids.has_value(), c.error.empty()) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
        if (ids) {
            EXPECT_EQ(*ids, c.ids) << c.text;
        }
    }
}

TEST(K5ctlOptions, UnitLogNames) {
    EXPECT_EQ(UnitLogName(3, ""), "COM3.log");
    EXPECT_EQ(UnitLogName(0, "/dev/ttyUSB0"), "ttyUSB0.log");
    EXPECT_EQ(UnitLogName(0, "/dev/pts/5"), "pts-5.log");
    EXPECT_EQ(UnitLogName(0, "/tmp/k5/a"), "tmp-k5-a.log");
    EXPECT_EQ(UnitLogName(0, "\\\\.\\COM12"), "COM12.log");
}

}  // namespace
}  // namespace k5::cli
