#pragma once

#include <memory>

#include "DialogService.h"
#include "DragDropMessages.h"
#include "UpdateToolDlg.h"

namespace updatetool {

class ChannelDatabase;
struct TransferJob;

// The program: owns the one TransferJob and the one ChannelDatabase for the
// whole run and hands them to the main window, which it runs modally; when
// that closes, the program ends.
class CUpdateToolApp {
public:
    // The default uses the real message boxes and file dialogs.
    explicit CUpdateToolApp(std::unique_ptr<DialogService> dialogs = nullptr);
    ~CUpdateToolApp();
    CUpdateToolApp(const CUpdateToolApp&) = delete;
    CUpdateToolApp& operator=(const CUpdateToolApp&) = delete;

    // Creates the main window, runs it and returns the program's exit status.
    int run();

    // Where the channel editor will be created; see CUpdateToolDlg::EditorFactory.
    void setEditorFactory(CUpdateToolDlg::EditorFactory factory) { editorFactory_ = std::move(factory); }

    TransferJob& transferJob() { return *job_; }
    ChannelDatabase& channelDatabase() { return *channels_; }
    DialogService& dialogs() { return *dialogs_; }
    const DragDropMessages& dragDropMessages() const { return dragDropMessages_; }
    // The main window while run() runs, else null.
    CUpdateToolDlg* mainDialog() const { return mainDialog_; }

private:
    std::unique_ptr<TransferJob> job_;
    // Large fixed tables: on the heap, not on the stack of main.
    std::unique_ptr<ChannelDatabase> channels_;
    std::unique_ptr<DialogService> dialogs_;
    DragDropMessages dragDropMessages_;
    CUpdateToolDlg::EditorFactory editorFactory_;
    CUpdateToolDlg* mainDialog_ = nullptr;
};

} // namespace updatetool
