#pragma once

namespace updatetool::cli {

// Ctrl-C while jobs run: the first one is noted here for the polling loop to
// turn into every running job's cancel request (each box then gets CAN CAN);
// a second one ends the program at once, should the jobs not react.
// One at a time: SIGINT is the process's, not a job's.
class InterruptWatch {
public:
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    bool requested() const;
};

} // namespace updatetool::cli
