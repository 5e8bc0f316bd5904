#include <algorithm>

#include <QAccessible>
#include <QElapsedTimer>
#include <QFile>
#include <QProgressBar>
#include <QRegularExpression>

#include "EraseDlg.h"
#include "FinishDlg.h"
#include "GuiTestBase.h"
#include "ImageFile.h"
#include "TestSupport.h"
#include "TransferDlg.h"

namespace updatetool::test {
namespace {

using testsupport::BoxSimProcess;

// True when every text of `seen` appears in `order`, in that order; a window
// that polls ten times a second may skip a phase that lasts less than a tick.
bool inOrder(const std::vector<QString>& seen, const std::vector<QString>& order)
{
    auto next = order.begin();
    for (const QString& text : seen) {
        next = std::find(next, order.end(), text);
        if (next == order.end())
            return false;
    }
    return true;
}

std::string joined(const std::vector<QString>& texts)
{
    std::string all;
    for (const QString& text : texts)
        all += "[" + text.toStdString() + "] ";
    return all;
}

// What a screen reader hears for a control: the name its accessibility interface reports.
QString heard(QWidget* window, int id)
{
    QAccessibleInterface* control = QAccessible::queryAccessibleInterface(controlById(window, id));
    return control != nullptr ? control->text(QAccessible::Name) : QString();
}

class ProgressWindowTest : public GuiTestBase {
protected:
    // Sends go to a device that does not exist unless a test starts a box.
    void SetUp() override { job->portDevice = pathOf(QStringLiteral("no-such-tty")).toStdString(); }

    void prepareSend(const QString& image)
    {
        job->kind = JobKind::SendImage;
        job->imagePath = image.toStdString();
        job->fileType = kFileTypeApplication;
        job->autoRestart = true;
    }

    bool startBox(BoxSimProcess& box, const std::vector<std::string>& options)
    {
        if (!box.start(options))
            return false;
        job->portDevice = box.device();
        return true;
    }
};

struct TemplateCase {
    const char* window;
    int id;
    const char* text;
};

TEST_F(ProgressWindowTest, TemplatesStartWithTheirTexts)
{
    CTransferDlg transfer(*job);
    CEraseDlg erase(*job);
    CFinishDlg finish(*job);
    const TemplateCase cases[] = {
        {"transfer", 1008, "Idle"},
        {"transfer", 1011, ""},
        {"transfer", 1010, "Transfer Size 0 / 0 Bytes"},
        {"transfer", 1007, "Elapsed  0 sec / Remain  0 sec"},
        {"transfer", 2, "Cancel"},
        {"erase", 1096, "Reset your Settopbox"},
        {"erase", 2, "Cancle"},
        {"finish", 1109, "Update Finish"},
        {"finish", 1, "OK"},
    };
    for (const TemplateCase& c : cases) {
        QWidget* window = std::string_view(c.window) == "transfer" ? static_cast<QWidget*>(&transfer)
                        : std::string_view(c.window) == "erase"    ? static_cast<QWidget*>(&erase)
                                                                   : static_cast<QWidget*>(&finish);
        EXPECT_EQ(textOf(window, c.id), QString::fromLatin1(c.text)) << c.window << " " << c.id;
    }
    EXPECT_EQ(transfer.windowTitle(), "Program Image Update");
    EXPECT_EQ(erase.windowTitle(), "Erase");
    EXPECT_EQ(finish.windowTitle(), "Program Update");
    EXPECT_NE(controlAs<QProgressBar>(&transfer, 1006), nullptr);
    for (QDialog* window : {static_cast<QDialog*>(&transfer), static_cast<QDialog*>(&erase)}) {
        EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowCloseButtonHint)) << window->windowTitle().toStdString();
        EXPECT_EQ(controlById(window, 2)->accessibleName(), textOf(window, 2));
    }
}

struct FailureCase {
    const char* what;
    JobKind kind;
    bool validImage;
    const char* resultText;
    const char* reason;   // the system's reason, in the window's description and tooltip
};

// Jobs that fail before any box is needed: the window keeps the result text and waits for "Close".
TEST_F(ProgressWindowTest, FailedJobShowsItsResultAndWaitsForClose)
{
    const QString goodImage = writeApplicationImage(QStringLiteral("good.img"), 4096);
    const QString badImage = writeFile(QStringLiteral("bad.img"), std::string("VORN") + std::string(200, 'x'));
    const FailureCase cases[] = {
        {"send, header check fails", JobKind::SendImage, false, "File Is Invalid", "bad.img: the application header"},
        {"send, no such port", JobKind::SendImage, true, "Serial Port I/O Error", ": No such file or directory"},
        {"receive, no such port", JobKind::ReceiveData, true, "Serial Port I/O Error", ": No such file or directory"},
        {"erase, no such port", JobKind::EraseApplication, true, "Serial Port I/O Error", ": No such file or directory"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.what);
        prepareSend(c.validImage ? goodImage : badImage);
        job->kind = c.kind;
        job->outputPath = pathOf(QStringLiteral("out.IMG")).toStdString();
        std::unique_ptr<CProgressDlg> window;
        if (c.kind == JobKind::EraseApplication)
            window = std::make_unique<CEraseDlg>(*job);
        else
            window = std::make_unique<CTransferDlg>(*job);
        const int resultId = c.kind == JobKind::EraseApplication ? int{CEraseDlg::kIdNotice} : int{CTransferDlg::kIdResult};

        window->open();
        ASSERT_TRUE(waitUntil([&] { return window->jobFinished(); }));
        QTest::qWait(250); // ticks after the end must change nothing
        EXPECT_TRUE(window->isVisible());
        EXPECT_FALSE(window->timerActive());
        EXPECT_EQ(textOf(window.get(), resultId), QString::fromLatin1(c.resultText));
        EXPECT_EQ(textOf(window.get(), 2), "Close");
        EXPECT_EQ(controlById(window.get(), 2)->accessibleName(), "Close");
        EXPECT_EQ(heard(window.get(), resultId), QString::fromLatin1(c.resultText));
        EXPECT_TRUE(window->accessibleDescription().contains(QString::fromLatin1(c.reason)))
            << window->accessibleDescription().toStdString();
        EXPECT_EQ(window->toolTip(), window->accessibleDescription());

        QTest::mouseClick(qobject_cast<QAbstractButton*>(controlById(window.get(), 2)), Qt::LeftButton);
        EXPECT_FALSE(window->isVisible());
        EXPECT_EQ(window->result(), CProgressDlg::kCodeCancel);
    }
}

TEST_F(ProgressWindowTest, FinishDialogNamesTheJobAndClearsTheEraseMark)
{
    for (const bool erased : {true, false}) {
        job->eraseStarted = erased;
        CFinishDlg finish(*job);
        finish.open();
        EXPECT_EQ(textOf(&finish, CFinishDlg::kIdMessage), erased ? "Erase End" : "Update End");
        EXPECT_FALSE(job->eraseStarted.load());
        QTest::keyClick(&finish, Qt::Key_Return);
        EXPECT_EQ(finish.result(), QDialog::Accepted);
    }
}

TEST_F(ProgressWindowTest, SendShowsPhasesFiguresAndClosesWithSuccess)
{
    BoxSimProcess box;
    ASSERT_TRUE(startBox(box, {"--baud", "115200"}));
    const std::uint32_t size = 30 * 1024; // about 3 s at 115200 baud
    prepareSend(writeApplicationImage(QStringLiteral("app.img"), size));

    CTransferDlg window(*job);
    TextRecorder status(qobject_cast<QLabel*>(controlById(&window, CTransferDlg::kIdStatus)));
    TextRecorder sizes(qobject_cast<QLabel*>(controlById(&window, CTransferDlg::kIdSize)));
    TextRecorder times(qobject_cast<QLabel*>(controlById(&window, CTransferDlg::kIdTime)));
    // The window must never freeze: the event loop keeps serving a fast timer throughout.
    QElapsedTimer sinceLast;
    qint64 longestGapMs = 0;
    QTimer heartbeat;
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        longestGapMs = std::max(longestGapMs, sinceLast.restart());
    });
    sinceLast.start();
    heartbeat.start(20);
    EXPECT_EQ(runUntilClosed(window, 30s), CProgressDlg::kCodeSuccess);
    heartbeat.stop();
    // A wait on the worker would stall for seconds; a busy machine stalls far less.
    EXPECT_LT(longestGapMs, 1000);

    EXPECT_TRUE(inOrder(status.texts(), {"Idle", "Checking File...", "Please reboot your STB.", "Transferring Data...",
                                         "Updating File...", "Update End"}))
        << joined(status.texts());
    EXPECT_NE(std::find(status.texts().begin(), status.texts().end(), "Transferring Data..."), status.texts().end());
    // Live counts while the data moved, then the final figures once the transfer ended.
    const QString finalSize = QStringLiteral("Transfer Size %1 / %1 Bytes").arg(size);
    EXPECT_EQ(sizes.texts().back(), finalSize);
    EXPECT_GE(sizes.texts().size(), 4u) << joined(sizes.texts());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^Elapse [ 0-9]{2,} sec / Remain  0 sec$"))
                    .match(times.texts().back()).hasMatch())
        << times.texts().back().toStdString();
    const auto barMax = controlAs<QProgressBar>(&window, CTransferDlg::kIdProgress)->maximum();
    EXPECT_EQ(barMax, static_cast<int>(size));
    EXPECT_EQ(controlAs<QProgressBar>(&window, CTransferDlg::kIdProgress)->value(), barMax);
    // A screen reader hears what the changing lines show, not a fixed caption.
    for (const int id : {CTransferDlg::kIdStatus, CTransferDlg::kIdSize, CTransferDlg::kIdTime}) {
        EXPECT_EQ(heard(&window, id), textOf(&window, id)) << id;
    }
}

TEST_F(ProgressWindowTest, RefusedSendShowsTransferFail)
{
    BoxSimProcess box;
    ASSERT_TRUE(startBox(box, {"--refuse"}));
    prepareSend(writeApplicationImage(QStringLiteral("app.img"), 4096));

    CTransferDlg window(*job);
    window.open();
    ASSERT_TRUE(waitUntil([&] { return window.jobFinished(); }));
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(textOf(&window, CTransferDlg::kIdResult), "File Transfer Fail");
    EXPECT_EQ(textOf(&window, 2), "Close");
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_EQ(window.result(), CProgressDlg::kCodeCancel);
}

TEST_F(ProgressWindowTest, CancelWhileWaitingForTheBoxClosesOnlyWhenTheWorkerEnds)
{
    BoxSimProcess box;
    ASSERT_TRUE(startBox(box, {"--silent"}));
    prepareSend(writeApplicationImage(QStringLiteral("app.img"), 4096));

    CTransferDlg window(*job);
    bool closed = false;
    QObject::connect(&window, &QDialog::finished, [&closed] { closed = true; });
    window.open();
    ASSERT_TRUE(waitUntil([&] { return textOf(&window, CTransferDlg::kIdStatus) == "Please reboot your STB."; }));

    // The worker is inside a read of the silent line: Cancel only asks it to stop.
    auto* cancel = qobject_cast<QAbstractButton*>(controlById(&window, 2));
    QTest::mouseClick(cancel, Qt::LeftButton);
    EXPECT_TRUE(job->cancelRequest.load());
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.jobFinished());

    ASSERT_TRUE(waitUntil([&] { return closed; }));
    EXPECT_EQ(window.result(), CProgressDlg::kCodeCancel);
    EXPECT_EQ(job->result.load(), kResultCancelled);
}

TEST_F(ProgressWindowTest, ReceiveShowsIdleUntilTheBoxAnnouncesThenClosesWithReceived)
{
    std::string data(20 * 1024, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i % 251);
    const QString upload = writeFile(QStringLiteral("upload.bin"), data);
    BoxSimProcess box;
    ASSERT_TRUE(startBox(box, {"--role", "upload", "--file", upload.toStdString(), "--baud", "115200"}));
    const QString output = pathOf(QStringLiteral("received.IMG"));
    job->kind = JobKind::ReceiveData;
    job->outputPath = output.toStdString();

    CTransferDlg window(*job);
    TextRecorder status(qobject_cast<QLabel*>(controlById(&window, CTransferDlg::kIdStatus)));
    EXPECT_EQ(runUntilClosed(window, 30s), CProgressDlg::kCodeReceived);

    EXPECT_TRUE(inOrder(status.texts(), {"Idle", "Receiverring Data...", "Making Data...", "Update End"}))
        << joined(status.texts());
    EXPECT_NE(std::find(status.texts().begin(), status.texts().end(), "Receiverring Data..."), status.texts().end());
    QFile file(output);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll().toStdString(), std::string(kCompanySignature) + data);
}

// The box hears "Done" or "Abort" and the job finishes, but a file that is short
// or was never made must not pass for the box's data.
TEST_F(ProgressWindowTest, FailedReceiveShowsItsFailureAndWaitsForClose)
{
    const struct {
        const char* what;
        std::vector<std::string> boxOptions;
        const char* output;
        const char* resultText;
    } cases[] = {
        {"short reception", {"--type-size", "3000"}, "received.IMG", "File Transfer Fail"},
        {"file cannot be made", {}, "no-such-dir/received.IMG", "Image File I/O Error"},
    };
    const QString upload = writeFile(QStringLiteral("upload.bin"), std::string(9000, 'u'));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        BoxSimProcess box;
        std::vector<std::string> options{"--role", "upload", "--file", upload.toStdString()};
        options.insert(options.end(), c.boxOptions.begin(), c.boxOptions.end());
        ASSERT_TRUE(startBox(box, options));
        job->kind = JobKind::ReceiveData;
        job->outputPath = pathOf(QString::fromLatin1(c.output)).toStdString();

        CTransferDlg window(*job);
        window.open();
        ASSERT_TRUE(waitUntil([&] { return window.jobFinished(); }, 20s));
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(textOf(&window, CTransferDlg::kIdResult), QString::fromLatin1(c.resultText));
        EXPECT_EQ(textOf(&window, 2), "Close");
        window.reject();
        EXPECT_EQ(window.result(), CProgressDlg::kCodeCancel);
    }
}

TEST_F(ProgressWindowTest, EraseSaysWaitThenClosesWithSuccessAndTheFinishDialogSaysEraseEnd)
{
    BoxSimProcess box;
    ASSERT_TRUE(startBox(box, {"--erase-ms", "600"}));
    job->kind = JobKind::EraseApplication;

    CEraseDlg window(*job);
    TextRecorder notice(qobject_cast<QLabel*>(controlById(&window, CEraseDlg::kIdNotice)));
    EXPECT_EQ(runUntilClosed(window, 20s), CProgressDlg::kCodeSuccess);
    EXPECT_EQ(notice.texts(), (std::vector<QString>{"Reset your Settopbox", "Wait..APP Erase..."}));

    CFinishDlg finish(*job);
    finish.open();
    EXPECT_EQ(textOf(&finish, CFinishDlg::kIdMessage), "Erase End");
    finish.accept();
}

} // namespace
} // namespace updatetool::test
