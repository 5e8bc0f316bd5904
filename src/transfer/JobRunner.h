#pragma once

#include <atomic>
#include <thread>

#include "TransferJob.h"

namespace updatetool {

// Starts the worker thread for one job and lets the caller poll it, the way a
// progress window polls a thread's exit code on its timer. The thread is always
// joined: at the latest by the destructor, which first asks the job to cancel.
class JobRunner {
public:
    static constexpr int kStillActive = 259;

    JobRunner() = default;
    ~JobRunner();
    JobRunner(const JobRunner&) = delete;
    JobRunner& operator=(const JobRunner&) = delete;

    // Starts runWorker(job) on a new thread. False when a worker of this runner still runs.
    bool start(TransferJob& job);
    // kStillActive while the worker runs, else its result. Joins a finished worker.
    int exitCode();
    bool running() const { return started_ && !done_.load(std::memory_order_acquire); }
    // Blocks until the worker ends and returns its result (command line and tests only).
    int wait();

private:
    std::thread thread_;
    TransferJob* job_ = nullptr;
    std::atomic<bool> done_{false};
    int exitCode_ = kStillActive;
    bool started_ = false;
};

} // namespace updatetool
