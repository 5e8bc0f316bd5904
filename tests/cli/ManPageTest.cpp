// The man page keeps up with the help: every command and option that any
// help screen lists is in it.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CommandLine.h"

namespace {

std::string helpOf(const std::vector<std::string>& command)
{
    std::vector<std::string> args = command;
    args.push_back("--help");
    return updatetool::cli::parseCommandLine(args).out;
}

// The commands a help screen lists under "Subcommands:".
std::vector<std::string> subcommandsIn(const std::string& help)
{
    std::vector<std::string> names;
    std::istringstream lines(help.substr(std::min(help.find("Subcommands:"), help.size())));
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line) && line.starts_with("  "))
        names.push_back(line.substr(2, line.find(' ', 2) - 2));
    return names;
}

TEST(ManPage, NamesEveryCommandAndOptionTheHelpLists)
{
    std::ifstream file(UPDATETOOL_CLI_MANPAGE);
    ASSERT_TRUE(file) << UPDATETOOL_CLI_MANPAGE;
    std::string page((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // roff writes a dash as "\-".
    page = std::regex_replace(page, std::regex(R"(\\-)"), "-");

    std::vector<std::vector<std::string>> pending{{}};
    std::set<std::string> checked;
    while (!pending.empty()) {
        const std::vector<std::string> command = pending.back();
        pending.pop_back();
        const std::string help = helpOf(command);
        ASSERT_FALSE(help.empty());
        for (const std::string& sub : subcommandsIn(help)) {
            std::vector<std::string> deeper = command;
            deeper.push_back(sub);
            pending.push_back(deeper);
            EXPECT_NE(page.find(sub), std::string::npos) << "command " << sub;
        }
        // The option column: "  -p,--port PORT ...", "  --no-restart".
        const std::regex option(R"((?:^|\n)  (-[^ \n]+))");
        for (auto it = std::sregex_iterator(help.begin(), help.end(), option); it != std::sregex_iterator(); ++it) {
            std::istringstream names(std::regex_replace((*it)[1].str(), std::regex(","), " "));
            for (std::string name; names >> name;) {
                if (!checked.insert(name).second)
                    continue;
                const std::regex asWord("(^|[^-a-z])" + std::regex_replace(name, std::regex("-"), "\\-") + "([^-a-z]|$)");
                EXPECT_TRUE(std::regex_search(page, asWord)) << "option " << name;
            }
        }
    }
    EXPECT_GE(checked.size(), 10u);
}

} // namespace
