#pragma once

#include <memory>

#include "ProgressDlg.h"

namespace Ui {
class TransferDlg;
}

namespace updatetool {

// The transfer window (template 130): runs a send or receive job and shows its
// phase, the byte counts, a progress bar and the elapsed and remaining time.
class CTransferDlg : public CProgressDlg {
    Q_OBJECT
public:
    enum ControlId {
        kIdProgress = 1006,
        kIdTime = 1007,
        kIdStatus = 1008,
        kIdSize = 1010,
        kIdResult = 1011,
    };

    explicit CTransferDlg(TransferJob& job, QWidget* parent = nullptr);
    ~CTransferDlg() override;

    int lastShownPhase() const { return lastShownPhase_; }

protected:
    void showResultText(const QString& text) override;
    void updateDisplay(bool running) override;
    void resetDisplay() override;

private:
    void showFigures(std::uint32_t bytesDone, std::uint32_t totalBytes, bool live);

    std::unique_ptr<Ui::TransferDlg> ui_;
    int lastShownPhase_ = kPhaseNone;
};

} // namespace updatetool
