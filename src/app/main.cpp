#include <QApplication>

#include <cstdio>
#include <cstring>

#ifndef _WIN32
#include <csignal>
#endif

#include "UpdateToolApp.h"

namespace {

constexpr char kUsage[] =
    "Usage: updatetool [--help] [--version]\n"
    "\n"
    "Opens the Program Update Tool window: send an application, channel or boot\n"
    "image to a set-top box's boot monitor over a serial port, receive the data a\n"
    "box uploads into a new image file, erase the box's application area, and edit\n"
    "the channel lists of a channel image file. The program takes no other options\n"
    "of its own; Qt's options (-platform, -style, ...) are passed on to Qt.\n"
    "\n"
    "  -h, --help     print this help and exit\n"
    "  -V, --version  print the version and exit\n"
    "\n"
    "Environment: UPDATETOOL_COM1 .. UPDATETOOL_COM4 name the device behind each\n"
    "COM port (unset: /dev/ttyS0 .. /dev/ttyS3). The command line updatetool-cli\n"
    "runs the same jobs without a window.\n";

} // namespace

int main(int argc, char** argv)
{
    // Answered before Qt starts, so that they work without a display.
    for (int index = 1; index < argc; ++index) {
        const char* argument = argv[index];
        if (std::strcmp(argument, "--") == 0)
            break;
        if (std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argument, "--version") == 0 || std::strcmp(argument, "-V") == 0) {
            std::printf("updatetool %s\n", UPDATETOOL_VERSION);
            return 0;
        }
    }
#ifndef _WIN32
    // A file-size limit then fails a write with an error the window shows,
    // instead of killing the program with a temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QApplication application(argc, argv);
    updatetool::CUpdateToolApp tool;
    return tool.run();
}
