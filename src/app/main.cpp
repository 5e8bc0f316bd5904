#include <QApplication>

#ifndef _WIN32
#include <csignal>
#endif

#include "UpdateToolApp.h"

int main(int argc, char** argv)
{
#ifndef _WIN32
    // A file-size limit then fails a write with an error the window shows,
    // instead of killing the program with a temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    QApplication application(argc, argv);
    updatetool::CUpdateToolApp tool;
    return tool.run();
}
