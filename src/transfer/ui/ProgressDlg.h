#pragma once

#include <QDialog>
#include <QTimer>

#include "JobRunner.h"
#include "TransferJob.h"

namespace updatetool {

// What the transfer and erase windows have in common: they start the job's
// worker when they open, poll it ten times a second, turn its result into a
// closing code or a message, and carry the Cancel button. The user-interface
// thread never waits for the worker: it only reads the exit code and the
// progress fields on each tick and writes the cancel request.
class CProgressDlg : public QDialog {
    Q_OBJECT
public:
    // Closing codes for the main window.
    static constexpr int kCodeSuccess = 1020;
    static constexpr int kCodeReceived = 1015;
    static constexpr int kCodeCancel = QDialog::Rejected;
    static constexpr int kTimerId = 1;
    static constexpr int kTimerPeriodMs = 100;
    static constexpr int kIdCancel = 2;

    ~CProgressDlg() override;

    TransferJob& job() const { return job_; }
    // The worker has ended and the window shows its outcome.
    bool jobFinished() const { return finished_; }
    bool timerActive() const { return timer_.isActive(); }

    // Cancel button and Escape: before the end only asks the worker to stop.
    void reject() override;
    // Enter presses the default button (Cancel) instead of closing the window.
    void accept() override {}

    // One timer tick; public so tests and benchmarks can drive it.
    void tick();

protected:
    CProgressDlg(TransferJob& job, QWidget* parent);

    // The dialog has been built from its template: fixes the window flags and names.
    void finishSetup();
    void showEvent(QShowEvent* event) override;

    // The message for a failed job goes into the window's own result control.
    virtual void showResultText(const QString& text) = 0;
    // The rest of a tick, after the end check; `running` is false once the worker ended.
    virtual void updateDisplay(bool running) = 0;
    // Called when the window opens, before the worker starts.
    virtual void resetDisplay() {}

private:
    void startJob();
    void endJob(int result);

    TransferJob& job_;
    JobRunner runner_;
    QTimer timer_;
    bool started_ = false;
    bool finished_ = false;
};

} // namespace updatetool
