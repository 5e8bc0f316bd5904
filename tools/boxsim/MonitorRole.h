#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "BoxOptions.h"
#include "EventLog.h"
#include "PtyLink.h"

namespace boxsim {

// The box's boot monitor as the update tool's send and erase jobs meet it:
// attention, commands with echo, and XMODEM reception of an image.
class MonitorRole {
public:
    MonitorRole(PtyLink& link, const BoxOptions& options, EventLog& log);
    // Serves sessions until the link is gone or the session count is reached.
    int run();

private:
    enum class LineEnd { Line, Timeout, Attention, LinkGone };
    enum class SessionEnd { Finished, LinkGone };

    SessionEnd serveSession();
    void ignoreEverything();
    void answerGarbled();
    void answerAttention();
    LineEnd readCommandLine(std::string& line, int firstByteTimeoutMs);
    void identify();
    void update(const std::string& line);
    void eraseAll();
    bool receiveImage(std::uint32_t size, std::vector<std::uint8_t>& data);
    bool readPacketBody(std::uint8_t header, std::vector<std::uint8_t>& packet);
    void saveImage(const std::vector<std::uint8_t>& data);

    PtyLink& link_;
    const BoxOptions& options_;
    EventLog& log_;
    std::int64_t lastPromptNs_ = 0;
    bool attentionPending_ = false;
    // An update is over and the tool may still send QV_RESTART; the session ends
    // with it, with a new attention, or when the line stays quiet.
    bool updateOver_ = false;
};

} // namespace boxsim
