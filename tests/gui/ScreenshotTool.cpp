// Takes the README's pictures of every window: each one is built in a typical
// state (a transfer under way against the simulated box, a refused send, an
// erase in progress) and grabbed with QWidget::grab, which also works offscreen.
//
//   gui_screenshots OUTPUT_DIR

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QTest>

#include "AboutDlg.h"
#include "ChannelDatabase.h"
#include "ChannelEditorDlg.h"
#include "SampleImages.h"
#include "DialogControls.h"
#include "EraseDlg.h"
#include "FakeDialogService.h"
#include "FinishDlg.h"
#include "GuiTestBase.h"
#include "ImageFile.h"
#include "TestSupport.h"
#include "TransferDlg.h"
#include "UpdateToolDlg.h"

using namespace updatetool;
using namespace std::chrono_literals;

using test::waitUntil;
using testsupport::BoxSimProcess;

namespace {

// How long a window may take to reach the state its picture shows.
constexpr auto kWindowLimit = 20s;

bool save(QWidget& window, const QDir& out, const char* name)
{
    window.show();
    QTest::qWait(150); // let the layout settle and one more timer tick paint
    const QString path = out.filePath(QString::fromLatin1(name));
    const bool ok = window.grab().save(path, "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.toLocal8Bit().constData());
    return ok;
}

// An application image whose header check holds, with a varied body.
std::string writeApplicationImage(const std::filesystem::path& path, std::size_t size)
{
    std::string image(size, '\0');
    for (std::size_t i = 16; i < size; ++i)
        image[i] = static_cast<char>(i * 13 + 5);
    image.replace(0, 12, "VORNDEMO-APP");
    testsupport::sealApplicationHeader(image);
    std::ofstream(path, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
    return path.string();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: gui_screenshots OUTPUT_DIR\n");
        return 64;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());
    const std::filesystem::path work = std::filesystem::temp_directory_path() /
        ("updatetool-shots-" + std::to_string(QCoreApplication::applicationPid()));
    std::filesystem::create_directories(work);
    const std::string image = writeApplicationImage(work / "app.img", 256 * 1024);
    bool ok = true;

    TransferJob job;
    auto channels = std::make_unique<ChannelDatabase>();
    test::FakeDialogService dialogs;
    {
        CUpdateToolDlg main(job, *channels, dialogs);
        // A path as run.sh lays it out, rather than this run's temporary folder.
        controlAs<QLineEdit>(&main, CUpdateToolDlg::kIdPath)->setText(QStringLiteral("build/samples/app.img"));
        ok &= save(main, out, "main-window.png");
    }
    {
        CAboutDlg about;
        ok &= save(about, out, "about-box.png");
    }
    {
        BoxSimProcess box;
        ok &= box.start({"--baud", "115200"});
        job.portDevice = box.device();
        job.kind = JobKind::SendImage;
        job.imagePath = image;
        job.fileType = kFileTypeApplication;
        CTransferDlg transfer(job);
        transfer.open();
        // A third of the way in, the remaining time has settled.
        ok &= waitUntil([&] { return job.bytesDone.load() > 90000; }, 60s);
        ok &= save(transfer, out, "transfer-window.png");
        transfer.reject();
        ok &= waitUntil([&] { return !transfer.isVisible(); }, kWindowLimit);
    }
    {
        BoxSimProcess box;
        ok &= box.start({"--refuse"});
        job.portDevice = box.device();
        CTransferDlg transfer(job);
        transfer.open();
        ok &= waitUntil([&] { return transfer.jobFinished(); }, kWindowLimit);
        ok &= save(transfer, out, "transfer-failed.png");
        transfer.reject();
    }
    {
        BoxSimProcess box;
        ok &= box.start({"--erase-ms", "3000"});
        job.portDevice = box.device();
        job.kind = JobKind::EraseApplication;
        CEraseDlg erase(job);
        erase.open();
        ok &= waitUntil([&] { return job.eraseStarted.load(); }, kWindowLimit);
        ok &= save(erase, out, "erase-window.png");
        ok &= waitUntil([&] { return !erase.isVisible(); }, kWindowLimit);
    }
    {
        job.eraseStarted = false;
        CFinishDlg finish(job);
        ok &= save(finish, out, "finish-dialog.png");
    }
    {
        // The sample channel image with a satellite chosen and a few channels selected.
        const std::vector<std::uint8_t> bytes = samples::channelImage();
        const std::filesystem::path path = work / "channels.img";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        channels->reset();
        channels->sourceKind = 'c';
        channels->filePath = path.string();
        CChannelEditorDlg editor(*channels, dialogs);
        auto* satellites = controlAs<QAbstractItemView>(&editor, CChannelEditorDlg::kSatelliteList);
        satellites->setCurrentIndex(satellites->model()->index(2, 0));
        auto* tv = controlAs<CDragDropListBox>(&editor, CChannelEditorDlg::kTvList);
        tv->setFocus();
        tv->selectRows({3, 4, 5});
        editor.showInfo(CChannelEditorDlg::InfoKind::Tv, tv->model()->index(4, 0).data(Qt::UserRole + 1).toInt());
        ok &= save(editor, out, "channel-editor.png");
    }
    std::filesystem::remove_all(work);
    return ok ? 0 : 1;
}
