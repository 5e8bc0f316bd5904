#pragma once

#include <cstdint>
#include <vector>

#include "BoxOptions.h"
#include "EventLog.h"
#include "PtyLink.h"

namespace boxsim {

// The box uploading its data to the update tool's receive job: it calls the tool
// with ESC, types "QV_UPDATE <hex>!" as a person at the monitor would, and sends
// the data by XMODEM.
class UploadRole {
public:
    UploadRole(PtyLink& link, const BoxOptions& options, EventLog& log);
    int run();

private:
    enum class Outcome { Finished, LinkGone };

    Outcome uploadSession();
    bool callTool();
    bool typeCommand(const std::string& command);
    bool awaitEcho(std::uint8_t typed);
    bool sendData();
    bool sendPacket(unsigned index, std::uint8_t number, std::size_t packetSize, bool crc);
    bool sendEndOfTransmission();
    void readFinalAnswer();

    PtyLink& link_;
    const BoxOptions& options_;
    EventLog& log_;
    std::vector<std::uint8_t> data_;
    bool ackIgnored_ = false;
};

} // namespace boxsim
