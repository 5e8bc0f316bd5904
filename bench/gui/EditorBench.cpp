// The channel editor on a full channel image (7000 TV + 2000 radio channels, 1200
// transponders): opening and drawing the window, refilling the lists for "All" and for
// a satellite, dragging 1,000 selected rows across the TV list, "Delete All", and the
// memory of the open editor. The baseline is loading the same file into the database
// in the same run.
// Usage: editor_bench [FOLDER]  (QT_QPA_PLATFORM=offscreen, or a display).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QMouseEvent>
#include <QPixmap>
#include <QTest>

#include "ChannelDatabase.h"
#include "ChannelEditorDlg.h"
#include "DialogControls.h"
#include "DragDropListBox.h"
#include "EditorLists.h"
#include "FakeDialogService.h"
#include "SampleImages.h"

using namespace updatetool;
using Clock = std::chrono::steady_clock;

namespace {

double millisOf(const std::function<void()>& work)
{
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double medianMillis(int rounds, const std::function<void()>& prepare, const std::function<void()>& work)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        prepare();
        times.push_back(millisOf(work));
    }
    std::nth_element(times.begin(), times.begin() + rounds / 2, times.end());
    return times[static_cast<std::size_t>(rounds / 2)];
}

long residentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "editor_bench: %s failed\n", what);
        std::exit(1);
    }
}

void mouse(CDragDropListBox* list, QEvent::Type type, QPoint point)
{
    QMouseEvent event(type, point, list->viewport()->mapToGlobal(point), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &event);
}

void row(const char* what, double millis, double baseline, const char* goal)
{
    std::printf("%-52s %9.2f ms  %6.1fx load  (goal %s)\n", what, millis, millis / baseline, goal);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const std::string folder = argc > 1 ? argv[1] : ".";
    const std::string path = folder + "/editor-bench.img";
    {
        const std::vector<std::uint8_t> image = samples::fullChannelImage();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()),
                                                    static_cast<std::streamsize>(image.size()));
    }
    auto database = std::make_unique<ChannelDatabase>();
    database->filePath = path;
    test::FakeDialogService dialogs;
    const long residentBefore = residentKiB();

    const auto resetForFile = [&] {
        database->reset();
        database->sourceKind = 'c';
        database->filePath = path;
    };
    const double load = medianMillis(21, resetForFile, [&] { check(database->load() == LoadResult::Loaded, "load"); });

    std::unique_ptr<CChannelEditorDlg> editor;
    const double open = medianMillis(7, [&] { editor.reset(); resetForFile(); }, [&] {
        editor = std::make_unique<CChannelEditorDlg>(*database, dialogs);
        editor->show();
        // Drawing every control is what the user waits for, with the column widths the
        // first drawing found.
        editor->grab();
        QCoreApplication::processEvents();
        editor->grab();
    });
    check(database->tvCount == 7000 && database->radioCount == 2000, "full image");
    const long residentOpen = residentKiB();

    const double refillAll = medianMillis(11, [] {}, [&] {
        editor->refreshLists(kFilterAll, 0);
        QCoreApplication::processEvents();
    });
    const double refillSatellite = medianMillis(11, [] {}, [&] {
        editor->refreshLists(kFilterSatellite, 0);
        QCoreApplication::processEvents();
    });
    editor->refreshLists(kFilterAll, 0);

    auto* tv = controlAs<CDragDropListBox>(editor.get(), CChannelEditorDlg::kTvList);
    editor->activateWindow();
    check(QTest::qWaitForWindowActive(editor.get()), "activate the window");
    tv->setFocus();
    std::vector<int> block(1000);
    const auto selectBlock = [&] {
        for (int i = 0; i < 1000; ++i)
            block[static_cast<std::size_t>(i)] = 6 * i + 3; // spread over the whole list
        tv->selectRows(block);
        tv->setTopRow(0);
    };
    const double drag = medianMillis(5, selectBlock, [&] {
        // Press on a selected row, leave the threshold, release on row 0.
        const QPoint from = tv->visualRect(tv->model()->index(3, 0)).center();
        const QPoint to = tv->visualRect(tv->model()->index(0, 0)).center();
        mouse(tv, QEvent::MouseButtonPress, from);
        mouse(tv, QEvent::MouseMove, from + QPoint(0, 6));
        mouse(tv, QEvent::MouseMove, to);
        mouse(tv, QEvent::MouseButtonRelease, to);
        QCoreApplication::processEvents();
        tv->repaint();
    });
    check(tv->selectedRows().size() == 1000, "drag keeps the block selected");

    const double deleteAll = millisOf([&] {
        tv->setFocus();
        editor->runCommand(CChannelEditorDlg::kCmdDeleteAll);
        QCoreApplication::processEvents();
        tv->repaint();
    });
    check(tv->rowCount() == 0 && database->tvCount == 0, "delete all");

    std::printf("Full channel image: 7000 TV + 2000 radio channels, 1200 transponders\n");
    std::printf("%-52s %9.2f ms\n", "baseline: load the file into the database", load);
    row("open the editor and draw it", open, load, "< 300 ms");
    row("refill for \"All\"", refillAll, load, "< 50 ms");
    row("refill for one satellite", refillSatellite, load, "< 50 ms");
    row("drag 1,000 selected rows across 7,000 rows", drag, load, "< 200 ms");
    row("\"Delete All\" on 7,000 rows", deleteAll, load, "< 200 ms");
    std::printf("%-52s %9.1f MB  (goal < 60 MB; %.1f MB before the editor)\n", "resident memory, editor open",
                residentOpen / 1024.0, residentBefore / 1024.0);
    editor.reset();
    std::remove(path.c_str());
    return 0;
}
