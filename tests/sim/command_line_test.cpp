#include "sim/command_line.h"

#include <gtest/gtest.h>

#include <vector>

#include "sim/sim_line.h"
#include "sim/trace.h"

namespace k5::sim {
namespace {

using std::chrono::milliseconds;

CommandLine Parse(std::vector<const char*> args) {
    return ParseCommandLine(args);
}

TEST(CommandLine, EveryFaultOptionReachesTheConfig) {
    const CommandLine line = Parse({"--link",
                                    "/tmp/k5",
                                    "--trace",
                                    "--model=K7",
                                    "--left",
                                    "400",
                                    "--right=0x3E8",
                                    "--standby",
                                    "--switch-on-delay",
                                    "2500",
                                    "--no-junk",
                                    "--jitter",
                                    "3",
                                    "--silent",
                                    "--power-answer",
                                    "Standby",
                                    "--ignore",
                                    "Dsp.Test",
                                    "--ignore=Main.Volume",
                                    "--drop-replies",
                                    "1",
                                    "--corrupt-checksum",
                                    "--wrong-address",
                                    "--wrong-operation",
                                    "--short-reply",
                                    "--noise",
                                    "12",
                                    "--noise-only",
                                    "--fault-address",
                                    "0xA108",
                                    "--refuse-writes",
                                    "--readback-mismatch",
                                    "--slow",
                                    "30",
                                    "--hang-up-after",
                                    "5"});
    ASSERT_EQ(line.action, CommandLine::Action::Run) << line.error;
    const SimConfig& c = line.config;
    EXPECT_EQ(c.linkPath, "/tmp/k5");
    EXPECT_TRUE(c.trace);
    EXPECT_EQ(c.model, "K7");
    EXPECT_EQ(c.left, 400u);
    EXPECT_EQ(c.right, 1000u);
    EXPECT_TRUE(c.standby);
    EXPECT_EQ(c.switchOnDelay, milliseconds(2500));
    EXPECT_FALSE(c.junk);
    EXPECT_EQ(c.jitter, 3u);
    EXPECT_TRUE(c.silent);
    EXPECT_EQ(c.powerAnswer, "Standby");
    EXPECT_EQ(c.ignorePaths, (std::vector<std::string>{"Dsp.Test", "Main.Volume"}));
    EXPECT_EQ(c.dropTextReplies, 1);
    EXPECT_TRUE(c.corruptChecksum);
    EXPECT_TRUE(c.wrongAddress);
    EXPECT_TRUE(c.wrongOperation);
    EXPECT_EQ(c.shortReply, 7u);
    EXPECT_EQ(c.noiseBytes, 12u);
    EXPECT_TRUE(c.noiseOnly);
    EXPECT_EQ(c.faultAddress, uint16_t{0xA108});
    EXPECT_TRUE(c.refuseWrites);
    EXPECT_TRUE(c.readbackMismatch);
    EXPECT_EQ(c.slowReplies, milliseconds(30));
    EXPECT_EQ(c.hangUpAfter, 5u);
}

TEST(CommandLine, NoOptionsGiveTheDefaults) {
    const CommandLine line = Parse({});
    EXPECT_EQ(line.action, CommandLine::Action::Run);
    EXPECT_EQ(line.config.model, "K5");
    EXPECT_FALSE(line.config.silent);
    EXPECT_EQ(line.config.jitter, 0u);
}

TEST(CommandLine, ShortReplyLengthCanBeGiven) {
    EXPECT_EQ(Parse({"--short-reply=3"}).config.shortReply, 3u);
    EXPECT_EQ(Parse({"--short-reply=11"}).action, CommandLine::Action::Error);
}

TEST(CommandLine, BadUsageIsAnErrorWithAReason) {
    for (const auto& args :
         std::vector<std::vector<const char*>>{{"--bogus"},
                                               {"--left"},
                                               {"--left", "-1"},
                                               {"--left", "4096"},
                                               {"--right", "12x"},
                                               {"--slow", ""},
                                               {"--hang-up-after", "0"},
                                               {"--fault-address", "0x10000"},
                                               {"--standby=yes"},
                                               {"--units", "0"},
                                               {"--units", "65"},
                                               {"--first-com", "0"},
                                               {"--units", "2", "--first-com", "255"},
                                               {"--link", "/a", "--link-dir", "/b"},
                                               {"stray"}}) {
        const CommandLine line = Parse(args);
        EXPECT_EQ(line.action, CommandLine::Action::Error) << args[0];
        EXPECT_FALSE(line.error.empty()) << args[0];
    }
}

TEST(CommandLine, LineOptions) {
    const CommandLine line = Parse({"--units", "64", "--link-dir=/tmp/line", "--port-table",
                                    "/tmp/cfg", "--first-com", "192"});
    ASSERT_EQ(line.action, CommandLine::Action::Run) << line.error;
    EXPECT_EQ(line.line.units, 64u);
    EXPECT_EQ(line.line.linkDir, "/tmp/line");
    EXPECT_EQ(line.line.portTableDir, "/tmp/cfg");
    EXPECT_EQ(line.line.firstCom, 192u);
    EXPECT_EQ(Parse({}).line.units, 1u);
    EXPECT_EQ(Parse({}).line.firstCom, 1u);
}

TEST(UnitConfig, SeedLinkAndTracePrefixPerUnit) {
    const SimConfig base{.left = 700, .seed = 40, .linkPath = "/tmp/k5"};
    struct Case {
        LineOptions line;
        unsigned index;
        uint64_t seed;
        std::string link;
        std::string prefix;
    };
    for (const Case& c : std::vector<Case>{
             {{}, 0, 40, "/tmp/k5", ""},
             {{.units = 1, .linkDir = "/tmp/d", .firstCom = 4}, 0, 40, "/tmp/d/COM4", ""},
             {{.units = 3, .linkDir = "/tmp/d", .firstCom = 4}, 2, 42, "/tmp/d/COM6", "[3] "},
             {{.units = 3}, 1, 41, "/tmp/k5", "[2] "},
         }) {
        const SimConfig config = UnitConfig(base, c.line, c.index);
        EXPECT_EQ(config.seed, c.seed) << c.index;
        EXPECT_EQ(config.linkPath, c.link) << c.index;
        EXPECT_EQ(config.tracePrefix, c.prefix) << c.index;
        EXPECT_EQ(config.left, 700u);
    }
}

TEST(CommandLine, HelpWinsAndListsEveryOption) {
    EXPECT_EQ(Parse({"--left", "5", "--help"}).action, CommandLine::Action::Help);
    EXPECT_EQ(Parse({"-h"}).action, CommandLine::Action::Help);
    EXPECT_EQ(Parse({"--left", "5", "--version"}).action, CommandLine::Action::Version);
    EXPECT_EQ(Parse({"--left", "4096", "--version"}).action, CommandLine::Action::Error);
    const std::string usage = Usage();
    for (const char* option : {"--version",
                               "--link",
                               "--units",
                               "--link-dir",
                               "--port-table",
                               "--first-com",
                               "--trace",
                               "--model",
                               "--left",
                               "--right",
                               "--standby",
                               "--switch-on-delay",
                               "--no-junk",
                               "--silent",
                               "--power-answer",
                               "--ignore",
                               "--drop-replies",
                               "--corrupt-checksum",
                               "--wrong-address",
                               "--wrong-operation",
                               "--short-reply",
                               "--noise",
                               "--fault-address",
                               "--refuse-writes",
                               "--readback-mismatch",
                               "--slow",
                               "--hang-up-after"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option;
    }
}

TEST(TraceFormat, HexAndEscapedText) {
    const std::vector<uint8_t> text = {'\r', 'M', '?', '\r'};
    EXPECT_EQ(FormatTraceLine(std::chrono::microseconds(12345), Direction::In, text),
              "    12.345 ms  -> 0D 4D 3F 0D  \"\\rM?\\r\"");
    const std::vector<uint8_t> frame = {0xFF, 0x04, 0x01, 0x03, 0xA1, 0x10, 0xB8};
    EXPECT_EQ(FormatTraceLine(std::chrono::milliseconds(2), Direction::Out, frame),
              "     2.000 ms  <- FF 04 01 03 A1 10 B8");
}

}  // namespace
}  // namespace k5::sim
