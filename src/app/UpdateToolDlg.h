#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QDialog>

#include "TransferJob.h"

class QAction;

namespace Ui {
class UpdateToolDlg;
}

namespace updatetool {

class ChannelDatabase;
class DialogService;

// The main window (template 102): port and file-type choice, the image file,
// and the job buttons. It records each job's parameters in the TransferJob and
// runs the matching progress window; it never touches the serial port itself.
class CUpdateToolDlg : public QDialog {
    Q_OBJECT
public:
    enum ControlId {
        kIdOk = 1,
        kIdExit = 2,
        kIdPort = 1000,
        kIdPath = 1002,
        kIdBrowse = 1003,
        kIdAutoRestart = 1012,
        kIdFileType = 1014,
        kIdReceive = 1015,
        kIdChannelEdit = 1016,
        kIdSend = 1020,
        kIdPicture = 1094,
        kIdEraseApp = 1095,
    };
    // The window-menu command that opens the About box.
    static constexpr int kIdmAboutBox = 0x0010;
    static constexpr int kFirstDevicePort = 4;

    // Creates the channel editor for the file the database now names; null when
    // it cannot be created. Until the editor exists there is no factory and
    // Channel Edit ends after resetting the database.
    using EditorFactory = std::function<std::unique_ptr<QDialog>(ChannelDatabase&)>;
    // Runs a dialog modally and returns its closing code; tests replace it.
    using ModalRunner = std::function<int(QDialog&)>;

    CUpdateToolDlg(TransferJob& job, ChannelDatabase& channels, DialogService& dialogs, QWidget* parent = nullptr);
    ~CUpdateToolDlg() override;

    void setEditorFactory(EditorFactory factory) { editorFactory_ = std::move(factory); }
    void setModalRunner(ModalRunner runner) { modalRunner_ = std::move(runner); }

    // Appends serial devices behind COM1..COM4, leaving out those the COM names already reach.
    void addPortDevices(const std::vector<std::string>& devices);

    // The channel editor while it runs, else null.
    QDialog* channelEditor() const { return channelEditor_; }
    // The path Channel Edit last read from the edit box.
    const QString& channelFilePath() const { return channelFilePath_; }
    // The window-menu entry that stands in for the system menu's About item.
    QAction* aboutAction() const { return aboutAction_; }
    // The window-menu entry that writes a wire trace of the next job into a file
    // the user names; it turns itself off once that job has run.
    QAction* traceAction() const { return traceAction_; }

    // Enter presses the default button, Send; the OK command itself does nothing.
    void accept() override {}
    // A window-menu command: kIdmAboutBox runs the About box.
    void onSysCommand(int commandId);

    // Receive writes to the chosen name, adding ".IMG" unless it already ends so (any case).
    static QString receiveOutputPath(const QString& chosen);

    static constexpr const char* kImageFilter = "Image File(*.img)|*.img|All File(*.*)|*.*|";
    static constexpr const char* kReceiveFilter = "IMG File(*.IMG)|*.IMG|All File(*.*)|*.*|";
    // Added to a received file's name that does not end in it.
    static constexpr const char* kReceiveExtension = "IMG";
    static constexpr const char* kTraceFilter = "Trace File(*.txt)|*.txt|All File(*.*)|*.*|";

private slots:
    void onBrowse();
    void onSend();
    void onReceive();
    void onEraseApp();
    void onChannelEdit();
    void onTrace(bool checked);

private:
    int runModal(QDialog& dialog);
    void recordPort();
    void showFinish();
    // Runs a job's progress window with the trace, if one is asked for, then
    // turns the trace off again.
    int runJobWindow(QDialog& window);

    std::unique_ptr<Ui::UpdateToolDlg> ui_;
    TransferJob& job_;
    ChannelDatabase& channels_;
    DialogService& dialogs_;
    EditorFactory editorFactory_;
    ModalRunner modalRunner_;
    QAction* aboutAction_ = nullptr;
    QAction* traceAction_ = nullptr;
    QString tracePath_;
    QDialog* channelEditor_ = nullptr;
    QString channelFilePath_;
};

} // namespace updatetool
