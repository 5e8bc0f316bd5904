#include "TransferDlg.h"

#include "DialogControls.h"
#include "ProgressFigures.h"
#include "StringTable.h"
#include "ui_TransferDlg.h"

namespace updatetool {

CTransferDlg::CTransferDlg(TransferJob& job, QWidget* parent)
    : CProgressDlg(job, parent)
    , ui_(std::make_unique<Ui::TransferDlg>())
{
    ui_->setupUi(this);
    connect(ui_->cancelButton, &QPushButton::clicked, this, &CTransferDlg::reject);
    finishSetup();
}

CTransferDlg::~CTransferDlg() = default;

void CTransferDlg::resetDisplay()
{
    lastShownPhase_ = kPhaseNone;
}

void CTransferDlg::showResultText(const QString& text)
{
    setControlText(this, kIdResult, text);
}

void CTransferDlg::showFigures(std::uint32_t bytesDone, std::uint32_t totalBytes, bool live)
{
    const ProgressFigures figures = live
        ? liveFigures(bytesDone, totalBytes, tickCount() - job().startTick.load())
        : finalFigures(bytesDone, totalBytes, job().endTick.load() - job().startTick.load());
    setControlText(this, kIdSize, QString::fromStdString(figures.sizeLine));
    setControlText(this, kIdTime, QString::fromStdString(figures.timeLine));
    ui_->progressBar->setValue(progressBarValue(bytesDone, totalBytes));
}

void CTransferDlg::updateDisplay(bool /*running*/)
{
    const int phase = job().phase.load();
    if (phase != lastShownPhase_) {
        // Leaving the send transfer: freeze the figures at the measured transfer time.
        if (lastShownPhase_ == kPhaseTransferring)
            showFigures(job().bytesDone.load(), job().totalBytes.load(), false);
        lastShownPhase_ = phase;
        if (const unsigned id = phaseStringId(phase); id != 0)
            setControlText(this, kIdStatus, tableText(id));
        if (phase == kPhaseTransferring || phase == kPhaseReceiving)
            ui_->progressBar->setRange(0, progressBarMaximum(job().totalBytes.load()));
    }
    if (lastShownPhase_ == kPhaseTransferring || lastShownPhase_ == kPhaseReceiving)
        showFigures(job().bytesDone.load(), job().totalBytes.load(), true);
}

} // namespace updatetool
