#include "EventLog.h"

namespace boxsim {

bool EventLog::open(const std::string& path)
{
    if (path.empty())
        return true;
    file_.reset(std::fopen(path.c_str(), "w"));
    return file_ != nullptr;
}

void EventLog::write(const std::string& line)
{
    if (!file_)
        return;
    std::fputs(line.c_str(), file_.get());
    std::fputc('\n', file_.get());
    std::fflush(file_.get());
}

} // namespace boxsim
