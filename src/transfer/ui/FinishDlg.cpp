#include "FinishDlg.h"

#include "DialogControls.h"
#include "StringTable.h"
#include "ui_FinishDlg.h"

namespace updatetool {

CFinishDlg::CFinishDlg(TransferJob& job, QWidget* parent)
    : QDialog(parent)
    , ui_(std::make_unique<Ui::FinishDlg>())
    , job_(job)
{
    ui_->setupUi(this);
    applyAccessibleNames(this);
}

CFinishDlg::~CFinishDlg() = default;

void CFinishDlg::showEvent(QShowEvent* event)
{
    if (!opened_) {
        opened_ = true;
        // The erase job leaves its mark; the next opening starts from a send again.
        setControlText(this, kIdMessage, tableText(job_.eraseStarted.load() ? ids::kEraseEnd : ids::kUpdateEnd));
        job_.eraseStarted.store(false);
    }
    QDialog::showEvent(event);
}

} // namespace updatetool
