#include "UpdateToolApp.h"

#include "ChannelDatabase.h"
#include "ChannelEditorDlg.h"
#include "QtDialogService.h"
#include "TransferJob.h"

namespace updatetool {

CUpdateToolApp::CUpdateToolApp(std::unique_ptr<DialogService> dialogs)
    : job_(std::make_unique<TransferJob>())
    , channels_(std::make_unique<ChannelDatabase>())
    , dialogs_(dialogs ? std::move(dialogs) : std::make_unique<QtDialogService>())
    , editorFactory_([this](ChannelDatabase& channels) -> std::unique_ptr<QDialog> {
        // Without a parent, like every top-level window of the program.
        return std::make_unique<CChannelEditorDlg>(channels, *dialogs_);
    })
{
}

CUpdateToolApp::~CUpdateToolApp() = default;

int CUpdateToolApp::run()
{
    // Registered before any window exists, so all of them see the same ids.
    dragDropMessages_ = registerDragDropMessages();

    CUpdateToolDlg dialog(*job_, *channels_, *dialogs_);
    dialog.setEditorFactory(editorFactory_);
    mainDialog_ = &dialog;
    dialog.exec();
    mainDialog_ = nullptr;
    return 0;
}

} // namespace updatetool
