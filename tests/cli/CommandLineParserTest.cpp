// The command line's words as the parser takes them: which command runs with
// which values, and what help, version and mistakes print.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CommandLine.h"

using updatetool::cli::Invocation;
using updatetool::cli::parseCommandLine;
using Command = Invocation::Command;

namespace {

TEST(CommandLineParser, RunsTheNamedCommandWithItsValues)
{
    struct Case {
        std::vector<std::string> args;
        Command command;
        std::vector<std::string> ports;
        std::string file;
        std::string trace;
        bool autoRestart;
        std::uint32_t giveUpMs;
    };
    const Case cases[] = {
        {{"send", "app.img"}, Command::Send, {}, "app.img", "", true, 0},
        {{"send", "-p", "COM2", "-t", "t.txt", "app.img"}, Command::Send, {"COM2"}, "app.img", "t.txt", true, 0},
        {{"send", "--port=/dev/ttyUSB0", "--port", "COM3", "--no-restart", "a.img"}, Command::Send,
         {"/dev/ttyUSB0", "COM3"}, "a.img", "", false, 0},
        // After "--" a word that looks like an option is the file.
        {{"send", "-p", "COM1", "--", "-x.img"}, Command::Send, {"COM1"}, "-x.img", "", true, 0},
        {{"send", "--give-up-after", "20", "a.img"}, Command::Send, {}, "a.img", "", true, 20000},
        {{"receive", "--give-up-after=0.5", "-p", "usb:0403:6001", "out.img"}, Command::Receive, {"usb:0403:6001"},
         "out.img", "", true, 500},
        {{"erase", "-t", "erase.txt"}, Command::Erase, {}, "", "erase.txt", true, 0},
        {{"ports"}, Command::Ports, {}, "", "", true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        const Invocation parsed = parseCommandLine(c.args);
        ASSERT_FALSE(parsed.exitStatus) << parsed.err;
        EXPECT_EQ(parsed.command, c.command);
        EXPECT_EQ(parsed.transfer.ports, c.ports);
        EXPECT_EQ(parsed.transfer.file, c.file);
        EXPECT_EQ(parsed.transfer.tracePath, c.trace);
        EXPECT_EQ(parsed.transfer.autoRestart, c.autoRestart);
        EXPECT_EQ(parsed.transfer.giveUpAfterMs, c.giveUpMs);
    }

    const Invocation order = parseCommandLine({"channels", "apply-order", "--no-backup", "a.img", "ref.csv"});
    EXPECT_EQ(order.command, Command::Channels);
    EXPECT_EQ(order.channels.subcommand, "apply-order");
    EXPECT_EQ(order.channels.image, "a.img");
    EXPECT_EQ(order.channels.reference, "ref.csv");
    EXPECT_FALSE(order.channels.backup);
    EXPECT_TRUE(parseCommandLine({"channels", "resave", "a.img"}).channels.backup);
    const Invocation samples = parseCommandLine({"samples", "--force", "--", "-demo"});
    EXPECT_EQ(samples.samples.folder, "-demo");
    EXPECT_TRUE(samples.samples.replace);
}

TEST(CommandLineParser, HelpVersionAndMistakesEndAtOnceWithTheirStatus)
{
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string inOut;
        std::string inErr;
    };
    const std::string version = std::string("updatetool-cli ") + UPDATETOOL_VERSION + "\n";
    const Case cases[] = {
        {{}, 64, "", "Usage: updatetool-cli"},
        {{"--version"}, 0, version, ""},
        {{"-V"}, 0, version, ""},
        {{"-h"}, 0, "Subcommands:", ""},
        {{"help"}, 0, "Subcommands:", ""},
        {{"help", "erase"}, 0, "Usage: updatetool-cli erase [OPTIONS]", ""},
        {{"receive", "--help"}, 0, "Usage: updatetool-cli receive [OPTIONS] OUTPUT", ""},
        {{"channels", "info", "-h"}, 0, "Usage: updatetool-cli channels info [OPTIONS] IMAGE", ""},
        {{"frobnicate"}, 64, "", "unknown command 'frobnicate'"},
        {{"channels", "list"}, 64, "", "unknown command 'list'"},
        {{"send", "-x.img"}, 64, "", "IMAGE is required"},   // "--" first makes it the file
        {{"send", "--give-up-after", "soon", "a.img"}, 64, "", "--give-up-after"},
        {{"erase", "--no-restart"}, 64, "", "--no-restart"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? std::string("(none)") : c.args.back());
        const Invocation parsed = parseCommandLine(c.args);
        ASSERT_TRUE(parsed.exitStatus);
        EXPECT_EQ(*parsed.exitStatus, c.status);
        EXPECT_NE(parsed.out.find(c.inOut), std::string::npos) << parsed.out;
        EXPECT_NE(parsed.err.find(c.inErr), std::string::npos) << parsed.err;
        // Help and version go to standard output, complaints to standard error, never both.
        EXPECT_TRUE(c.status == 0 ? parsed.err.empty() : parsed.out.empty());
    }
}

} // namespace
