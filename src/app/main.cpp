#include <QApplication>

#include "UpdateToolApp.h"

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    updatetool::CUpdateToolApp tool;
    return tool.run();
}
