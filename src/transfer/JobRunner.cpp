#include "JobRunner.h"

#include "Jobs.h"

namespace updatetool {

JobRunner::~JobRunner()
{
    if (thread_.joinable()) {
        // Never leave a worker talking to the port behind a closed window.
        if (job_ != nullptr && !done_.load(std::memory_order_acquire))
            job_->cancelRequest.store(true);
        thread_.join();
    }
}

bool JobRunner::start(TransferJob& job)
{
    if (running())
        return false;
    if (thread_.joinable())
        thread_.join();
    job_ = &job;
    done_.store(false, std::memory_order_release);
    exitCode_ = kStillActive;
    started_ = true;
    thread_ = std::thread([this, &job] {
        exitCode_ = runWorker(job);
        done_.store(true, std::memory_order_release);
    });
    return true;
}

int JobRunner::exitCode()
{
    if (!started_ || !done_.load(std::memory_order_acquire))
        return kStillActive;
    if (thread_.joinable())
        thread_.join();
    return exitCode_;
}

int JobRunner::wait()
{
    if (!started_)
        return kStillActive;
    if (thread_.joinable())
        thread_.join();
    return exitCode_;
}

} // namespace updatetool
