#include "EraseDlg.h"

#include "DialogControls.h"
#include "StringTable.h"
#include "ui_EraseDlg.h"

namespace updatetool {

CEraseDlg::CEraseDlg(TransferJob& job, QWidget* parent)
    : CProgressDlg(job, parent)
    , ui_(std::make_unique<Ui::EraseDlg>())
{
    ui_->setupUi(this);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &CEraseDlg::reject);
    finishSetup();
}

CEraseDlg::~CEraseDlg() = default;

void CEraseDlg::showResultText(const QString& text)
{
    setControlText(this, kIdNotice, text);
}

void CEraseDlg::updateDisplay(bool running)
{
    if (running && job().eraseStarted.load())
        setControlText(this, kIdNotice, tableText(ids::kWaitAppErase));
}

} // namespace updatetool
