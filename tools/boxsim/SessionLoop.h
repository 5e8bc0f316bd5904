#pragma once

#include <functional>

#include "BoxOptions.h"
#include "EventLog.h"
#include "PtyLink.h"

namespace boxsim {

// Both roles serve one session after another: until the link is gone, until a
// session ends because it went, or until --sessions of them are done. The end
// of each finished session is logged, numbered from 1, for the tests to wait on.
// `session` runs one and returns false when the link went during it.
void runSessions(PtyLink& link, const BoxOptions& options, EventLog& log, const std::function<bool()>& session);

} // namespace boxsim
