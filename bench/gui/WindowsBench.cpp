// What the windows cost: CPU time of a 1 MiB send at 115200 baud through the
// main window and the transfer window, against the same send from the command
// line, one after the other in one run. Both talk to a throttled boxsim, so
// the wall time is the line's and the difference in CPU time is the windows'.
//
//   windows_bench [SIZE_BYTES]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ChannelDatabase.h"
#include "DialogControls.h"
#include "FakeDialogService.h"
#include "ImageFile.h"
#include "TestSupport.h"
#include "UpdateToolDlg.h"

using namespace updatetool;
using testsupport::BoxSimProcess;

namespace {

constexpr int kFinishDialog = 148;

struct Figures {
    double cpuSeconds = 0;
    double wallSeconds = 0;
    bool ok = false;
};

double seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double cpuOf(const rusage& usage)
{
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::string writeApplicationImage(const std::filesystem::path& path, std::size_t size)
{
    std::string image(size, '\0');
    for (std::size_t i = 16; i < size; ++i)
        image[i] = static_cast<char>((i * 2654435761u) >> 13);
    image.replace(0, 12, "VORNBENCHAPP");
    testsupport::sealApplicationHeader(image);
    std::ofstream(path, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
    return path.string();
}

// The command line in a child process; its CPU time comes from wait4.
Figures sendFromCommandLine(const std::string& image)
{
    Figures figures;
    BoxSimProcess box;
    if (!box.start({"--baud", "115200"}))
        return figures;
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        execl(UPDATETOOL_CLI_PATH, "updatetool-cli", "send", "--port", box.device().c_str(), image.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child)
        return figures;
    figures.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.cpuSeconds = cpuOf(usage);
    figures.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return figures;
}

// The windows in this process: Send on the main window runs the transfer window
// modally (exec), exactly as a user's click does; a timer answers the finish dialog.
Figures sendFromWindows(const std::string& image)
{
    Figures figures;
    BoxSimProcess box;
    if (!box.start({"--baud", "115200"}))
        return figures;
    qputenv("UPDATETOOL_COM1", QByteArray::fromStdString(box.device()));

    TransferJob job;
    auto channels = std::make_unique<ChannelDatabase>();
    test::FakeDialogService dialogs;
    CUpdateToolDlg main(job, *channels, dialogs);
    main.show();
    controlAs<QLineEdit>(&main, CUpdateToolDlg::kIdPath)->setText(QString::fromStdString(image));
    bool finished = false;
    QTimer pressOk;
    QObject::connect(&pressOk, &QTimer::timeout, [&] {
        auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (modal != nullptr && modal->property(kTemplateIdProperty).toInt() == kFinishDialog) {
            finished = true;
            modal->accept();
        }
    });
    pressOk.start(200);
    QTest::qWait(200);

    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = std::chrono::steady_clock::now();
    QTest::mouseClick(qobject_cast<QAbstractButton*>(controlById(&main, CUpdateToolDlg::kIdSend)), Qt::LeftButton);
    figures.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    figures.cpuSeconds = cpuOf(after) - cpuOf(before);
    figures.ok = finished && job.result.load() == kResultSuccess;
    qunsetenv("UPDATETOOL_COM1");
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const std::size_t size = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024 * 1024;
    const std::filesystem::path work = std::filesystem::temp_directory_path() /
        ("updatetool-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(work);
    const std::string image = writeApplicationImage(work / "bench.img", size);

    std::printf("Sending %zu bytes at 115200 baud (platform %s)...\n", size,
                QGuiApplication::platformName().toLocal8Bit().constData());
    std::fflush(stdout);
    const Figures cli = sendFromCommandLine(image);
    const Figures gui = sendFromWindows(image);
    std::filesystem::remove_all(work);

    std::printf("%-14s %10s %10s %12s\n", "front end", "wall s", "CPU s", "CPU % core");
    for (const auto& [name, f] : {std::pair{"command line", cli}, std::pair{"windows", gui}})
        std::printf("%-14s %10.1f %10.2f %11.2f%%%s\n", name, f.wallSeconds, f.cpuSeconds,
                    100.0 * f.cpuSeconds / f.wallSeconds, f.ok ? "" : "  (FAILED)");
    const double added = 100.0 * (gui.cpuSeconds / gui.wallSeconds - cli.cpuSeconds / cli.wallSeconds);
    std::printf("the windows add %.2f%% of one core (goal: below 5%%)\n", added);
    return cli.ok && gui.ok ? 0 : 1;
}
