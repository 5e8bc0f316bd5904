#include "SessionLoop.h"

#include <string>

namespace boxsim {

void runSessions(PtyLink& link, const BoxOptions& options, EventLog& log, const std::function<bool()>& session)
{
    unsigned sessionsDone = 0;
    while (!link.hungUp()) {
        if (!session())
            break;
        ++sessionsDone;
        log.write("session end " + std::to_string(sessionsDone));
        if (options.sessions != 0 && sessionsDone >= options.sessions)
            break;
    }
}

} // namespace boxsim
