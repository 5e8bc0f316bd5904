#include "UpdateToolDlg.h"

#include <algorithm>
#include <span>

#include <QAction>
#include <QFile>
#include <QIcon>
#include <QPixmap>

#include "AboutDlg.h"
#include "ChannelDatabase.h"
#include "ChannelImageCheck.h"
#include "DialogControls.h"
#include "DialogService.h"
#include "EraseDlg.h"
#include "FinishDlg.h"
#include "ImageFile.h"
#include "SerialPort.h"
#include "StringTable.h"
#include "TransferDlg.h"
#include "ui_UpdateToolDlg.h"

namespace updatetool {

namespace {

constexpr char kCaption[] = "Program Update Tool VER.2.01";
constexpr char kIconPath[] = ":/icons/icon128.png";
constexpr char kPicturePath[] = ":/bitmaps/bitmap151.png";

// The texts the main window shows as they are, not from the string table.
constexpr char kCouldNotOpen[] = "Could not open file.";
constexpr char kNotStbImage[] = "This file isn't STB image file.";
constexpr char kSelectFileFirst[] = "First, Select file!";
constexpr char kWrongImageType[] = "Selected wrong Image type.";

// Our own window-menu entry, beside the About item.
constexpr char kTraceMenu[] = "Wire &Trace for the Next Job...";
constexpr char kTraceDefaultName[] = "trace.txt";
constexpr char kTraceNotWritten[] = "Could not write the wire trace to %1.";

// Shorter paths cannot name an image file.
constexpr qsizetype kShortestPath = 5;

std::string localPath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

std::span<const std::uint8_t> bytesOf(const std::string& head)
{
    return {reinterpret_cast<const std::uint8_t*>(head.data()), head.size()};
}

} // namespace

CUpdateToolDlg::CUpdateToolDlg(TransferJob& job, ChannelDatabase& channels, DialogService& dialogs, QWidget* parent)
    : QDialog(parent)
    , ui_(std::make_unique<Ui::UpdateToolDlg>())
    , job_(job)
    , channels_(channels)
    , dialogs_(dialogs)
{
    ui_->setupUi(this);

    // Linux has no system menu; the window's own context menu carries its About
    // entry, and ours for the wire trace before it.
    traceAction_ = addAction(QString::fromLatin1(kTraceMenu));
    traceAction_->setCheckable(true);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(traceAction_, &QAction::triggered, this, &CUpdateToolDlg::onTrace);
    if (const QString aboutText = tableText(ids::kAboutMenu); !aboutText.isEmpty()) {
        addAction(QString())->setSeparator(true);
        aboutAction_ = addAction(aboutText);
        aboutAction_->setData(kIdmAboutBox);
        connect(aboutAction_, &QAction::triggered, this, [this] { onSysCommand(aboutAction_->data().toInt()); });
    }

    setWindowIcon(QIcon(QString::fromLatin1(kIconPath)));
    ui_->portCombo->setCurrentIndex(0);
    ui_->fileTypeCombo->setCurrentIndex(0);
    setWindowTitle(QString::fromLatin1(kCaption));
    ui_->picture->setPixmap(QPixmap(QString::fromLatin1(kPicturePath)));
    ui_->autoRestartCheck->setChecked(true);
    addPortDevices(SerialPort::availableDevices());
    applyAccessibleNames(this);

    connect(ui_->browseButton, &QPushButton::clicked, this, &CUpdateToolDlg::onBrowse);
    connect(ui_->sendButton, &QPushButton::clicked, this, &CUpdateToolDlg::onSend);
    connect(ui_->receiveButton, &QPushButton::clicked, this, &CUpdateToolDlg::onReceive);
    connect(ui_->eraseButton, &QPushButton::clicked, this, &CUpdateToolDlg::onEraseApp);
    connect(ui_->channelEditButton, &QPushButton::clicked, this, &CUpdateToolDlg::onChannelEdit);
    connect(ui_->exitButton, &QPushButton::clicked, this, &CUpdateToolDlg::reject);
}

CUpdateToolDlg::~CUpdateToolDlg() = default;

void CUpdateToolDlg::addPortDevices(const std::vector<std::string>& devices)
{
    std::vector<std::string> reachedByName;
    for (int index = 0; index < kFirstDevicePort; ++index)
        reachedByName.push_back(SerialPort::resolvePortName(SerialPort::portNameForIndex(index)));
    for (const std::string& device : devices) {
        if (std::find(reachedByName.begin(), reachedByName.end(), device) != reachedByName.end())
            continue;
        const QString name = QString::fromLocal8Bit(device.data(), static_cast<qsizetype>(device.size()));
        if (ui_->portCombo->findData(name) >= 0)
            continue;
        ui_->portCombo->addItem(name, name);
    }
}

int CUpdateToolDlg::runModal(QDialog& dialog)
{
    return modalRunner_ ? modalRunner_(dialog) : dialog.exec();
}

void CUpdateToolDlg::onSysCommand(int commandId)
{
    if ((commandId & 0xFFF0) == kIdmAboutBox) {
        CAboutDlg about(this);
        runModal(about);
    }
}

void CUpdateToolDlg::onTrace(bool checked)
{
    tracePath_.clear();
    if (!checked)
        return;
    const auto chosen = dialogs_.getSaveFileName(
        this, {QString::fromLatin1(kTraceDefaultName), QString::fromLatin1(kTraceFilter)});
    if (chosen)
        tracePath_ = *chosen;
    else
        traceAction_->setChecked(false);
}

int CUpdateToolDlg::runJobWindow(QDialog& window)
{
    job_.tracePath = localPath(tracePath_);
    const int code = runModal(window);
    if (!tracePath_.isEmpty()) {
        if (job_.traceFailed.load())
            dialogs_.warn(this, QString::fromLatin1(kTraceNotWritten).arg(tracePath_));
        tracePath_.clear();
        traceAction_->setChecked(false);
    }
    job_.tracePath.clear();
    return code;
}

void CUpdateToolDlg::recordPort()
{
    const int index = ui_->portCombo->currentIndex();
    if (index >= kFirstDevicePort) {
        job_.portDevice = localPath(ui_->portCombo->itemData(index).toString());
        return;
    }
    job_.portIndex = index;
    job_.portDevice.clear();
}

void CUpdateToolDlg::showFinish()
{
    ui_->exitButton->setFocus();
    CFinishDlg finish(job_, this);
    runModal(finish);
}

void CUpdateToolDlg::onBrowse()
{
    const auto chosen = dialogs_.getOpenFileName(this, {ui_->pathEdit->text(), QString::fromLatin1(kImageFilter)});
    if (chosen) {
        const auto head = readFileHead(localPath(*chosen));
        if (!head) {
            dialogs_.warn(this, QString::fromLatin1(kCouldNotOpen));
        } else if (const auto type = detectFileType(bytesOf(*head))) {
            // A boot image has no entry in the list, so the list then shows no selection.
            const int entry = *type < ui_->fileTypeCombo->count() ? *type : -1;
            ui_->fileTypeCombo->setCurrentIndex(entry);
            ui_->pathEdit->setText(*chosen);
        } else {
            dialogs_.warn(this, QString::fromLatin1(kNotStbImage));
        }
    }
    ui_->pathEdit->setFocus();
}

void CUpdateToolDlg::onSend()
{
    const QString path = ui_->pathEdit->text();
    if (path.size() < kShortestPath) {
        dialogs_.warn(this, QString::fromLatin1(kSelectFileFirst));
        return;
    }
    recordPort();
    const auto head = readFileHead(localPath(path));
    if (!head) {
        dialogs_.warn(this, QString::fromLatin1(kCouldNotOpen));
        return;
    }
    // The file's own magic decides the type, whatever the list shows.
    const auto type = detectFileType(bytesOf(*head));
    if (!type) {
        dialogs_.warn(this, QString::fromLatin1(kWrongImageType));
        return;
    }
    job_.autoRestart = ui_->autoRestartCheck->isChecked();
    job_.imagePath = localPath(path);
    job_.fileType = *type;
    job_.kind = JobKind::SendImage;
    job_.channelImageCheck = channelImageFileProblem;

    CTransferDlg transfer(job_, this);
    if (runJobWindow(transfer) == CProgressDlg::kCodeSuccess)
        showFinish();
}

QString CUpdateToolDlg::receiveOutputPath(const QString& chosen)
{
    return withRequiredExtension(chosen, QString::fromLatin1(kReceiveExtension));
}

void CUpdateToolDlg::onReceive()
{
    recordPort();
    const int fileType = ui_->fileTypeCombo->currentIndex();
    job_.fileType = fileType < 0 ? kFileTypeNone : static_cast<std::uint8_t>(fileType);
    job_.autoRestart = ui_->autoRestartCheck->isChecked();
    job_.kind = JobKind::ReceiveData;

    // The dialog knows the extension that is added, so it asks about the real name.
    const auto chosen = dialogs_.getSaveFileName(
        this, {QString(), QString::fromLatin1(kReceiveFilter), QString::fromLatin1(kReceiveExtension)});
    if (!chosen)
        return;
    job_.outputPath = localPath(receiveOutputPath(*chosen));

    CTransferDlg transfer(job_, this);
    runJobWindow(transfer);
}

void CUpdateToolDlg::onEraseApp()
{
    recordPort();
    job_.kind = JobKind::EraseApplication;

    CEraseDlg erase(job_, this);
    if (runJobWindow(erase) == CProgressDlg::kCodeSuccess)
        showFinish();
}

void CUpdateToolDlg::onChannelEdit()
{
    channelFilePath_ = ui_->pathEdit->text();
    if (channelFilePath_.isEmpty()) {
        dialogs_.stop(this, ids::kInvalidChannelFile);
        return;
    }
    const auto head = readFileHead(localPath(channelFilePath_));
    if (!head) {
        dialogs_.stop(this, ids::kCantOpenFile);
        dialogs_.stop(this, ids::kInvalidChannelFile);
        return;
    }
    if (!isChannelFileHead(bytesOf(*head))) {
        dialogs_.stop(this, ids::kInvalidChannelFile);
        return;
    }

    channels_.reset();
    channels_.sourceKind = 'c';
    channels_.filePath = localPath(channelFilePath_);

    if (!editorFactory_)
        return;
    std::unique_ptr<QDialog> editor = editorFactory_(channels_);
    if (!editor) {
        dialogs_.stop(this, ids::kNotEnoughMemory);
        return;
    }
    // The editor loads the database from the file as it opens and saves into it.
    channelEditor_ = editor.get();
    runModal(*editor);
    channelEditor_ = nullptr;
}

} // namespace updatetool
