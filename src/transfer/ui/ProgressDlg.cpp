#include "ProgressDlg.h"

#include "DialogControls.h"
#include "StringTable.h"

namespace updatetool {

CProgressDlg::CProgressDlg(TransferJob& job, QWidget* parent)
    : QDialog(parent)
    , job_(job)
{
    timer_.setInterval(kTimerPeriodMs);
    connect(&timer_, &QTimer::timeout, this, &CProgressDlg::tick);
}

CProgressDlg::~CProgressDlg() = default;

void CProgressDlg::finishSetup()
{
    // No close box: the job ends through Cancel, which the worker must see first.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    applyAccessibleNames(this);
}

void CProgressDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!started_) {
        started_ = true;
        startJob();
    }
}

void CProgressDlg::startJob()
{
    job_.cancelRequest.store(false);
    job_.eraseStarted.store(false);
    finished_ = false;
    resetDisplay();
    if (!runner_.start(job_)) {
        // Only possible if a worker of this window still ran; report it as a port fault.
        endJob(kResultSerialPortError);
        return;
    }
    timer_.start();
}

void CProgressDlg::tick()
{
    if (!finished_) {
        const int code = runner_.exitCode();
        if (code != JobRunner::kStillActive)
            endJob(code);
    }
    updateDisplay(!finished_);
}

void CProgressDlg::endJob(int result)
{
    finished_ = true;
    timer_.stop();
    switch (result) {
    case kResultSuccess:
        done(kCodeSuccess);
        return;
    case kResultCancelled:
        done(kCodeCancel);
        return;
    case kResultReceiveFinished:
        // The box is answered the same way whatever the reception brought, but a
        // file that is short or was never written must not pass for the box's data.
        result = job_.receiveFailure.load();
        if (result == kResultSuccess || result == kResultCancelled) {
            done(kCodeReceived);
            return;
        }
        break;
    default:
        break;
    }
    // Results without a text of their own still end the job: the user closes the window.
    if (const unsigned id = resultStringId(result); id != 0)
        showResultText(tableText(id));
    // The result line keeps its own words; the system's reason is there for
    // whoever looks for it (a screen reader, the mouse over the window).
    if (const auto problem = job_.problemFor(result)) {
        const QString reason = QString::fromStdString(problem->name + ": " + problem->reason);
        setAccessibleDescription(reason);
        setToolTip(reason);
    }
    setControlText(this, kIdCancel, tableText(ids::kClose));
}

void CProgressDlg::reject()
{
    if (finished_ || !started_) {
        done(kCodeCancel);
        return;
    }
    job_.cancelRequest.store(true);
}

} // namespace updatetool
