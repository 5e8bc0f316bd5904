#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "ChannelDatabase.h"
#include "GuiTestBase.h"
#include "ImageFile.h"
#include "ProgressDlg.h"
#include "TestSupport.h"
#include "AboutDlg.h"
#include "UpdateToolApp.h"
#include "UpdateToolDlg.h"

namespace updatetool::test {
namespace {

using testsupport::BoxSimProcess;

constexpr int kTransferWindow = 130;
constexpr int kEraseWindow = 152;
constexpr int kFinishDialog = 148;
constexpr int kAboutBox = 100;
constexpr int kEditorWindow = 999;

const std::string kSignature(kCompanySignature);

// The main window with a fake user and a fake modal loop: every dialog it would
// run is recorded with the job as it stood, and answered with a scripted code.
class UpdateToolDlgTest : public GuiTestBase {
protected:
    struct Run {
        int templateId;
        JobKind kind;
        int portIndex;
        std::string portDevice;
        int fileType;
        std::string imagePath;
        std::string outputPath;
        bool autoRestart;
        std::string tracePath;
    };

    std::unique_ptr<ChannelDatabase> channels = std::make_unique<ChannelDatabase>();
    std::unique_ptr<CUpdateToolDlg> dialog;
    std::vector<Run> runs;
    std::deque<int> closingCodes;
    bool failTrace = false;   // a job window "fails" to write its trace

    void SetUp() override
    {
        dialog = std::make_unique<CUpdateToolDlg>(*job, *channels, dialogs);
        dialog->setModalRunner([this](QDialog& window) {
            const int id = window.property(kTemplateIdProperty).toInt();
            runs.push_back({id, job->kind, job->portIndex, job->portDevice, job->fileType, job->imagePath,
                            job->outputPath, job->autoRestart, job->tracePath});
            if (failTrace && !job->tracePath.empty())
                job->traceFailed.store(true);
            if (closingCodes.empty())
                return id == kFinishDialog || id == kAboutBox ? int{QDialog::Accepted} : CProgressDlg::kCodeCancel;
            const int code = closingCodes.front();
            closingCodes.pop_front();
            return code;
        });
    }

    void click(int id) { QTest::mouseClick(qobject_cast<QAbstractButton*>(controlById(dialog.get(), id)), Qt::LeftButton); }
    QComboBox* combo(int id) { return controlAs<QComboBox>(dialog.get(), id); }
    QLineEdit* pathEdit() { return controlAs<QLineEdit>(dialog.get(), CUpdateToolDlg::kIdPath); }
    std::vector<int> runIds() const
    {
        std::vector<int> ids;
        for (const Run& run : runs)
            ids.push_back(run.templateId);
        return ids;
    }
    std::vector<QString> messages() const { return dialogs.messageTexts(); }
};

struct ControlCase {
    int id;
    const char* text;
    const char* accessibleName;
};

TEST_F(UpdateToolDlgTest, StartsWithTheTemplateTextsAndStates)
{
    const ControlCase cases[] = {
        {1003, "Browse", "Browse"},
        {1020, "&Send", "Send"},
        {1015, "&Recieve", "Recieve"},
        {1016, "Channel &Edit", "Channel Edit"},
        {2, "E&xit", "Exit"},
        {1095, "Erase App", "Erase App"},
        {1012, "Auto Restart", "Auto Restart"},
        {1000, nullptr, "Port"},
        {1014, nullptr, "File Type"},
        {1002, nullptr, "Browse File"},
        {1094, nullptr, "Program Update Tool picture"},
    };
    for (const ControlCase& c : cases) {
        QWidget* control = controlById(dialog.get(), c.id);
        ASSERT_NE(control, nullptr) << c.id;
        if (c.text != nullptr) {
            EXPECT_EQ(textOf(dialog.get(), c.id), QString::fromLatin1(c.text)) << c.id;
        }
        EXPECT_EQ(control->accessibleName(), QString::fromLatin1(c.accessibleName)) << c.id;
        EXPECT_TRUE(control->isEnabled()) << c.id;
    }
    EXPECT_EQ(dialog->windowTitle(), "Program Update Tool VER.2.01");
    EXPECT_FALSE(dialog->windowIcon().isNull());
    EXPECT_FALSE(controlAs<QLabel>(dialog.get(), 1094)->pixmap().isNull());
    EXPECT_TRUE(controlAs<QPushButton>(dialog.get(), 1020)->isDefault());
    EXPECT_TRUE(controlAs<QCheckBox>(dialog.get(), 1012)->isChecked());
    EXPECT_TRUE(pathEdit()->text().isEmpty());
    EXPECT_EQ(combo(1000)->currentIndex(), 0);
    ASSERT_GE(combo(1000)->count(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(combo(1000)->itemText(i), QStringLiteral("COM%1").arg(i + 1));
    EXPECT_EQ(combo(1014)->currentIndex(), 0);
    ASSERT_EQ(combo(1014)->count(), 2);
    EXPECT_EQ(combo(1014)->itemText(0), "Application");
    EXPECT_EQ(combo(1014)->itemText(1), "Channel");
    EXPECT_EQ(job->fileType, kFileTypeNone);
}

TEST_F(UpdateToolDlgTest, TabVisitsEveryControlInTemplateOrder)
{
    std::vector<int> order;
    QWidget* widget = controlById(dialog.get(), 1000);
    do {
        const QVariant id = widget->property(kControlIdProperty);
        if (id.isValid() && (widget->focusPolicy() & Qt::TabFocus))
            order.push_back(id.toInt());
        widget = widget->nextInFocusChain();
    } while (widget != controlById(dialog.get(), 1000) && order.size() < 20);
    EXPECT_EQ(order, (std::vector<int>{1000, 1095, 1014, 1012, 1002, 1003, 1020, 1015, 1016, 2}));
}

TEST_F(UpdateToolDlgTest, EnterPressesSendAndEscapeEndsTheWindow)
{
    dialog->show();
    QTest::keyClick(pathEdit(), Qt::Key_Return);
    EXPECT_EQ(messages(), std::vector<QString>{"First, Select file!"});
    dialog->accept(); // the OK command
    EXPECT_TRUE(dialog->isVisible());
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
}

TEST_F(UpdateToolDlgTest, MessageBoxesUseTheApplicationTitleAndTheirIcons)
{
    click(1020);                                    // literal text
    click(1016);                                    // string-table number
    ASSERT_EQ(dialogs.calls.size(), 2u);
    for (const auto& call : dialogs.calls) {
        EXPECT_EQ(call.message.caption, applicationTitle());
        EXPECT_EQ(call.message.buttons, MessageButtons::Ok);
    }
    EXPECT_EQ(applicationTitle(), "gui_main_tests");
    EXPECT_EQ(dialogs.calls[0].message.icon, MessageIcon::Exclamation);
    EXPECT_EQ(dialogs.calls[1].message.icon, MessageIcon::Stop);
}

struct BrowseCase {
    const char* what;
    const char* content; // nullptr: the chosen file does not exist
    bool cancel;
    std::vector<QString> messages;
    int fileTypeIndex;
    bool pathTaken;
};

TEST_F(UpdateToolDlgTest, BrowseTakesTheTypeFromTheMagic)
{
    const BrowseCase cases[] = {
        {"application", "VORN0123456789ab", false, {}, 0, true},
        {"channel", "QVCH0123456789ab", false, {}, 1, true},
        {"boot image: no entry in the list", "QVBT0123456789ab", false, {}, -1, true},
        {"short file with a magic", "QVCH", false, {}, 1, true},
        {"not an image", "MZ..0123456789ab", false, {"This file isn't STB image file."}, 0, false},
        {"lower-case magic", "vorn0123456789ab", false, {"This file isn't STB image file."}, 0, false},
        {"empty file", "", false, {"This file isn't STB image file."}, 0, false},
        {"vanished before opening", nullptr, false, {"Could not open file."}, 0, false},
        {"cancelled", "QVCH0123456789ab", true, {}, 0, false},
    };
    for (const BrowseCase& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        dialogs.calls.clear();
        pathEdit()->setText(QStringLiteral("previous.img"));
        const QString file = c.content != nullptr ? writeFile(QStringLiteral("chosen.img"), c.content)
                                                  : pathOf(QStringLiteral("missing.img"));
        dialogs.fileAnswers.push_back(c.cancel ? QString() : file);
        click(1003);

        ASSERT_FALSE(dialogs.calls.empty());
        EXPECT_EQ(dialogs.calls[0].kind, FakeDialogService::Kind::Open);
        EXPECT_EQ(dialogs.calls[0].file.initialName, "previous.img");
        EXPECT_EQ(dialogs.calls[0].file.filter, "Image File(*.img)|*.img|All File(*.*)|*.*|");
        EXPECT_EQ(messages(), c.messages);
        EXPECT_EQ(combo(1014)->currentIndex(), c.fileTypeIndex);
        EXPECT_EQ(pathEdit()->text(), c.pathTaken ? file : QStringLiteral("previous.img"));
        EXPECT_TRUE(runs.empty());
        QFile::remove(file);
    }
}

struct SendCase {
    const char* what;
    const char* path;    // relative to the temporary folder, or used as is when it starts with '='
    const char* content; // nullptr: no such file
    int fileTypeIndex;   // the list's selection before Send
    std::vector<QString> messages;
    int jobFileType;     // -1: no job
};

TEST_F(UpdateToolDlgTest, SendChecksPathAndMagicThenRunsTheTransferWindow)
{
    const SendCase cases[] = {
        {"empty path", "=", nullptr, 0, {"First, Select file!"}, -1},
        {"four characters", "=a.im", nullptr, 0, {"First, Select file!"}, -1},
        {"five characters pass the length test", "=a.img", nullptr, 0, {"Could not open file."}, -1},
        {"no such file", "missing.img", nullptr, 0, {"Could not open file."}, -1},
        {"wrong magic", "wrong.img", "XXXX0123456789ab", 0, {"Selected wrong Image type."}, -1},
        {"the file's magic wins over the list", "app.img", "VORN0123456789ab", 1, {}, 0},
        {"channel", "ch.img", "QVCH0123456789ab", 0, {}, 1},
        {"boot image runs as type 2", "boot.img", "QVBT0123456789ab", -1, {}, 2},
    };
    for (const SendCase& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        dialogs.calls.clear();
        runs.clear();
        job->fileType = kFileTypeNone;
        const QString path = c.path[0] == '=' ? QString::fromLatin1(c.path + 1)
                           : c.content != nullptr ? writeFile(QString::fromLatin1(c.path), c.content)
                                                  : pathOf(QString::fromLatin1(c.path));
        pathEdit()->setText(path);
        combo(1014)->setCurrentIndex(c.fileTypeIndex);
        combo(1000)->setCurrentIndex(3);
        controlAs<QCheckBox>(dialog.get(), 1012)->setChecked(false);
        click(1020);

        EXPECT_EQ(messages(), c.messages);
        if (c.jobFileType < 0) {
            EXPECT_TRUE(runs.empty());
            EXPECT_EQ(job->fileType, kFileTypeNone);
            continue;
        }
        ASSERT_EQ(runIds(), std::vector<int>{kTransferWindow}); // cancelled: no finish dialog
        EXPECT_EQ(runs[0].kind, JobKind::SendImage);
        EXPECT_EQ(runs[0].fileType, c.jobFileType);
        EXPECT_EQ(runs[0].imagePath, path.toStdString());
        EXPECT_EQ(runs[0].portIndex, 3);
        EXPECT_FALSE(runs[0].autoRestart);
    }
}

TEST_F(UpdateToolDlgTest, SuccessfulSendAndEraseEndWithTheFinishDialog)
{
    pathEdit()->setText(writeFile(QStringLiteral("app.img"), "VORN0123456789ab"));
    closingCodes = {CProgressDlg::kCodeSuccess, QDialog::Accepted, CProgressDlg::kCodeSuccess, QDialog::Accepted,
                    CProgressDlg::kCodeCancel};
    click(1020);
    click(1095);
    click(1095);
    EXPECT_EQ(runIds(), (std::vector<int>{kTransferWindow, kFinishDialog, kEraseWindow, kFinishDialog, kEraseWindow}));
}

struct ReceiveNameCase {
    const char* chosen;
    const char* output;
};

TEST_F(UpdateToolDlgTest, ReceiveAddsTheImgExtensionUnlessPresent)
{
    const ReceiveNameCase cases[] = {
        {"/tmp/dump", "/tmp/dump.IMG"},
        {"/tmp/dump.IMG", "/tmp/dump.IMG"},
        {"/tmp/dump.img", "/tmp/dump.img"},
        {"/tmp/dump.ImG", "/tmp/dump.ImG"},
        {"/tmp/dump.bin", "/tmp/dump.bin.IMG"},
        {"/tmp/dump.img.bak", "/tmp/dump.img.bak.IMG"},
        {"/tmp/box.img/dump", "/tmp/box.img/dump.IMG"},
        {"/tmp/dump.", "/tmp/dump..IMG"},
    };
    for (const ReceiveNameCase& c : cases)
        EXPECT_EQ(CUpdateToolDlg::receiveOutputPath(QString::fromLatin1(c.chosen)), QString::fromLatin1(c.output))
            << c.chosen;
}

TEST_F(UpdateToolDlgTest, ReceiveRecordsItsParametersAndRunsTheTransferWindow)
{
    combo(1000)->setCurrentIndex(1);
    combo(1014)->setCurrentIndex(1);
    dialogs.fileAnswers = {pathOf(QStringLiteral("dump"))};
    closingCodes = {CProgressDlg::kCodeReceived};
    click(1015);

    ASSERT_EQ(dialogs.calls.size(), 1u);
    EXPECT_EQ(dialogs.calls[0].kind, FakeDialogService::Kind::Save);
    EXPECT_EQ(dialogs.calls[0].file.filter, "IMG File(*.IMG)|*.IMG|All File(*.*)|*.*|");
    EXPECT_EQ(dialogs.calls[0].file.requiredExtension, "IMG");
    ASSERT_EQ(runIds(), std::vector<int>{kTransferWindow}); // no finish dialog after a receive
    EXPECT_EQ(runs[0].kind, JobKind::ReceiveData);
    EXPECT_EQ(runs[0].portIndex, 1);
    EXPECT_EQ(runs[0].fileType, 1);
    EXPECT_EQ(runs[0].outputPath, pathOf(QStringLiteral("dump.IMG")).toStdString());

    // Cancelling the file dialog runs nothing.
    click(1015);
    EXPECT_EQ(runs.size(), 1u);
}

TEST_F(UpdateToolDlgTest, EachButtonSetsItsOwnJobKind)
{
    combo(1000)->setCurrentIndex(2);
    click(1095);
    dialogs.fileAnswers = {pathOf(QStringLiteral("dump.img"))};
    click(1015);
    click(1095);
    ASSERT_EQ(runIds(), (std::vector<int>{kEraseWindow, kTransferWindow, kEraseWindow}));
    EXPECT_EQ(runs[0].kind, JobKind::EraseApplication);
    EXPECT_EQ(runs[0].portIndex, 2); // COM3
    EXPECT_EQ(job->portName(), "COM3");
    EXPECT_EQ(runs[1].kind, JobKind::ReceiveData);
    EXPECT_EQ(runs[2].kind, JobKind::EraseApplication);
}

TEST_F(UpdateToolDlgTest, SerialDevicesFollowTheComPortsAndRunByPath)
{
    qputenv("UPDATETOOL_COM2", "/dev/ttyTEST2");
    const int before = combo(1000)->count();
    dialog->addPortDevices({"/dev/ttyUSB7", "/dev/ttyTEST2", "/dev/ttyUSB7"});
    qunsetenv("UPDATETOOL_COM2");
    ASSERT_EQ(combo(1000)->count(), before + 1); // COM2 already reaches ttyTEST2; no duplicates
    const int usb = combo(1000)->findText(QStringLiteral("/dev/ttyUSB7"));
    ASSERT_GE(usb, 4);

    combo(1000)->setCurrentIndex(usb);
    click(1095);
    combo(1000)->setCurrentIndex(0);
    click(1095);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].portDevice, "/dev/ttyUSB7");
    EXPECT_EQ(runs[1].portDevice, "");
    EXPECT_EQ(runs[1].portIndex, 0);
}

struct ChannelEditCase {
    const char* what;
    const char* content; // nullptr: no such file; "" with emptyPath: nothing typed
    bool emptyPath;
    std::vector<QString> messages;
    bool accepted;
};

TEST_F(UpdateToolDlgTest, ChannelEditChecksTheHeadThenResetsTheDatabase)
{
    const std::string vornOnly = "VORN XXXXX CORP ";
    const std::string signatureThenAnything = kSignature + "anything";
    const ChannelEditCase cases[] = {
        {"empty path", "", true, {"Invalid Channel File"}, false},
        {"no such file", nullptr, false, {"Can't open file", "Invalid Channel File"}, false},
        {"VORN without the rest of the signature", vornOnly.c_str(), false, {"Invalid Channel File"}, false},
        {"application image", "VORN0123456789ab", false, {"Invalid Channel File"}, false},
        {"short file", "VORN", false, {"Invalid Channel File"}, false},
        {"received file: the signature", signatureThenAnything.c_str(), false, {}, true},
        {"channel image", "QVCHzzzzzzzzzzzz", false, {}, true},
    };
    for (const ChannelEditCase& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        dialogs.calls.clear();
        channels->sourceKind = 0;
        channels->filePath = "untouched";
        const QString path = c.emptyPath ? QString()
                           : c.content != nullptr ? writeFile(QStringLiteral("channels.img"), c.content)
                                                  : pathOf(QStringLiteral("missing.img"));
        pathEdit()->setText(path);
        click(1016);

        EXPECT_EQ(messages(), c.messages);
        for (const auto& call : dialogs.calls)
            EXPECT_EQ(call.message.icon, MessageIcon::Stop);
        EXPECT_EQ(dialog->channelFilePath(), path);
        EXPECT_EQ(channels->sourceKind, c.accepted ? 'c' : 0);
        EXPECT_EQ(channels->filePath, c.accepted ? path.toStdString() : "untouched");
        EXPECT_TRUE(runs.empty());
    }
}

TEST_F(UpdateToolDlgTest, ChannelEditRunsTheEditorFromTheFactory)
{
    pathEdit()->setText(writeFile(QStringLiteral("channels.img"), "QVCH0123456789ab"));

    dialog->setEditorFactory([](ChannelDatabase&) { return std::unique_ptr<QDialog>(); });
    click(1016);
    EXPECT_EQ(messages(), std::vector<QString>{"Not enough memory"});
    EXPECT_EQ(channels->sourceKind, 'c'); // reset happened before the editor failed

    QDialog* seenWhileRunning = nullptr;
    ChannelDatabase* handedOver = nullptr;
    dialog->setEditorFactory([&](ChannelDatabase& database) {
        handedOver = &database;
        auto editor = std::make_unique<QDialog>();
        editor->setProperty(kTemplateIdProperty, kEditorWindow);
        return editor;
    });
    dialog->setModalRunner([&](QDialog& window) {
        seenWhileRunning = dialog->channelEditor();
        runs.push_back({window.property(kTemplateIdProperty).toInt(), {}, 0, {}, 0, {}, {}, false, {}});
        return 0;
    });
    click(1016);
    EXPECT_EQ(runIds(), std::vector<int>{kEditorWindow});
    EXPECT_EQ(handedOver, channels.get());
    EXPECT_NE(seenWhileRunning, nullptr);
    EXPECT_EQ(dialog->channelEditor(), nullptr);
}

TEST_F(UpdateToolDlgTest, WindowMenuEntryRunsTheAboutBox)
{
    QAction* about = dialog->aboutAction();
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->text(), "&About This Program...");
    EXPECT_EQ(about->data().toInt(), 16);
    EXPECT_TRUE(dialog->actions().contains(about));
    EXPECT_EQ(dialog->contextMenuPolicy(), Qt::ActionsContextMenu);

    // The Menu key (or a right-click) on a control without a menu of its own
    // reaches the window's menu.
    dialog->show();
    for (const int id : {1020, 1012, 1094}) {
        QStringList menuTexts;
        QTimer::singleShot(100, [&menuTexts] {
            if (QWidget* popup = QApplication::activePopupWidget()) {
                for (QAction* action : popup->actions())
                    if (!action->isSeparator())
                        menuTexts << action->text();
                popup->close();
            }
        });
        QWidget* control = controlById(dialog.get(), id);
        QContextMenuEvent fromKeyboard(QContextMenuEvent::Keyboard, QPoint(2, 2), control->mapToGlobal(QPoint(2, 2)));
        QApplication::sendEvent(control, &fromKeyboard);
        EXPECT_EQ(menuTexts, (QStringList{"Wire &Trace for the Next Job...", "&About This Program..."})) << id;
    }
    EXPECT_TRUE(runs.empty()); // opening the menu runs nothing

    about->trigger();
    dialog->onSysCommand(0x0013); // the low four bits do not matter
    dialog->onSysCommand(0x0020); // another command does nothing here
    EXPECT_EQ(runIds(), (std::vector<int>{kAboutBox, kAboutBox}));
}

TEST_F(UpdateToolDlgTest, TraceEntryTracesOnlyTheNextJobIntoTheNamedFile)
{
    QAction* trace = dialog->traceAction();
    ASSERT_NE(trace, nullptr);
    EXPECT_TRUE(trace->isCheckable());
    EXPECT_FALSE(trace->isChecked());

    // Cancelling the file dialog leaves the trace off.
    dialogs.fileAnswers = {QString(), QStringLiteral("/tmp/one.trace"), QStringLiteral("/tmp/two.trace")};
    trace->trigger();
    EXPECT_FALSE(trace->isChecked());
    trace->trigger();
    EXPECT_TRUE(trace->isChecked());
    ASSERT_EQ(dialogs.calls.size(), 2u);
    EXPECT_EQ(dialogs.calls[1].kind, FakeDialogService::Kind::Save);
    EXPECT_EQ(dialogs.calls[1].file.filter, CUpdateToolDlg::kTraceFilter);

    click(CUpdateToolDlg::kIdEraseApp);
    click(CUpdateToolDlg::kIdEraseApp);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].tracePath, "/tmp/one.trace");
    EXPECT_EQ(runs[1].tracePath, "");
    EXPECT_FALSE(trace->isChecked());
    EXPECT_TRUE(messages().empty());

    // A trace that could not be written is told after its job.
    failTrace = true;
    trace->trigger();
    click(CUpdateToolDlg::kIdEraseApp);
    EXPECT_EQ(runs.back().tracePath, "/tmp/two.trace");
    EXPECT_EQ(messages(), std::vector<QString>{"Could not write the wire trace to /tmp/two.trace."});
    EXPECT_TRUE(job->tracePath.empty());
}

TEST_F(UpdateToolDlgTest, AboutBoxShowsNameVersionAndYear)
{
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), "About Program Update Tool");
    std::vector<QString> texts;
    for (QLabel* label : about.findChildren<QLabel*>())
        if (!label->text().isEmpty())
            texts.push_back(label->text());
    EXPECT_EQ(texts, (std::vector<QString>{"Program Update Tool", "Version 2.01", "Copyright (C) 2009"}));
    about.open();
    QTest::mouseClick(qobject_cast<QAbstractButton*>(controlById(&about, 1)), Qt::LeftButton);
    EXPECT_EQ(about.result(), QDialog::Accepted);
}

// The whole path a user takes: Browse, Send, the transfer window against a
// simulated box, then the finish dialog.
TEST_F(UpdateToolDlgTest, SendThroughTheRealWindowsReachesTheFinishDialog)
{
    BoxSimProcess box;
    ASSERT_TRUE(box.start({}));
    qputenv("UPDATETOOL_COM1", QByteArray::fromStdString(box.device()));
    const QString image = writeApplicationImage(QStringLiteral("app.img"), 8192);
    dialogs.fileAnswers = {image};
    click(1003);

    std::vector<int> codes;
    QString finishText;
    dialog->setModalRunner([&](QDialog& window) {
        if (window.property(kTemplateIdProperty).toInt() == kFinishDialog) {
            window.open();
            finishText = textOf(&window, 1109);
            window.accept();
            return window.result();
        }
        const int code = runUntilClosed(window, 20s);
        codes.push_back(code);
        return code;
    });
    click(1020);
    qunsetenv("UPDATETOOL_COM1");

    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(codes, std::vector<int>{CProgressDlg::kCodeSuccess});
    EXPECT_EQ(finishText, "Update End");
    EXPECT_EQ(job->fileType, kFileTypeApplication);
}

// A user's session through the real modal loops (exec), the way the program runs:
// Send to the monitor box, Erase App, then Receive from an uploading box. Only the
// finish dialogs are answered, by a timer that presses OK.
TEST_F(UpdateToolDlgTest, UserSessionSendEraseReceiveThroughModalLoops)
{
    BoxSimProcess monitor;
    BoxSimProcess uploader;
    const std::string upload(30000, 'u');
    const QString uploadFile = writeFile(QStringLiteral("upload.bin"), upload);
    ASSERT_TRUE(monitor.start({"--erase-ms", "300"}));
    ASSERT_TRUE(uploader.start({"--role", "upload", "--file", uploadFile.toStdString()}));
    qputenv("UPDATETOOL_COM1", QByteArray::fromStdString(monitor.device()));
    qputenv("UPDATETOOL_COM2", QByteArray::fromStdString(uploader.device()));
    dialog->setModalRunner({}); // the real exec()

    std::vector<QString> finishTexts;
    QTimer pressOk;
    QObject::connect(&pressOk, &QTimer::timeout, [&] {
        auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (modal != nullptr && modal->property(kTemplateIdProperty).toInt() == kFinishDialog && modal->isVisible()) {
            finishTexts.push_back(textOf(modal, 1109));
            QTest::mouseClick(qobject_cast<QAbstractButton*>(controlById(modal, 1)), Qt::LeftButton);
        }
    });
    pressOk.start(50);
    // A stuck session would hang the test; fail it instead after a bound.
    QTimer::singleShot(60000, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            qobject_cast<QDialog*>(modal)->done(-1);
    });

    dialog->show();
    dialogs.fileAnswers = {writeApplicationImage(QStringLiteral("app.img"), 20000), pathOf(QStringLiteral("dump"))};
    click(1003);
    click(1020);
    click(1095);
    combo(1000)->setCurrentIndex(1);
    click(1015);
    qunsetenv("UPDATETOOL_COM1");
    qunsetenv("UPDATETOOL_COM2");

    EXPECT_TRUE(messages().empty());
    EXPECT_EQ(finishTexts, (std::vector<QString>{"Update End", "Erase End"}));
    QFile received(pathOf(QStringLiteral("dump.IMG")));
    ASSERT_TRUE(received.open(QIODevice::ReadOnly));
    EXPECT_EQ(received.readAll().toStdString(), kSignature + upload);
}

TEST(UpdateToolApp, OwnsOneJobAndOneDatabaseAndRegistersTheDragDropMessages)
{
    CUpdateToolApp app(std::make_unique<FakeDialogService>());
    const DragDropMessages first = registerDragDropMessages();
    EXPECT_EQ(registerDragDropMessages().queryDrop, first.queryDrop);
    EXPECT_NE(first.queryDrop, first.doDrop);
    EXPECT_NE(first.doDrop, first.beginDragDrop);
    EXPECT_GE(first.queryDrop, QEvent::User);
    EXPECT_EQ(&app.transferJob(), &app.transferJob());
    EXPECT_EQ(app.transferJob().fileType, kFileTypeNone);
    EXPECT_EQ(app.mainDialog(), nullptr);
}

} // namespace
} // namespace updatetool::test
