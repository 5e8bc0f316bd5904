#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>

namespace updatetool::test {

using namespace std::chrono_literals;

// The far end of a pseudo-terminal: the engine opens slavePath() as its serial
// device, the test talks and listens on the master side.
class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& slavePath() const { return slavePath_; }
    int masterFd() const { return master_; }

    void send(std::string_view bytes);
    void send(std::span<const std::uint8_t> bytes);
    void sendByte(std::uint8_t byte) { send(std::span(&byte, 1)); }
    // Reads up to count bytes, giving up once the timeout has passed.
    std::string read(std::size_t count, std::chrono::milliseconds timeout = 5s);
    std::optional<std::uint8_t> readByte(std::chrono::milliseconds timeout = 5s);
    // Reads until the bytes read end with marker; nothing on time-out. The bytes
    // read are returned, marker included.
    std::optional<std::string> readUntil(std::string_view marker, std::chrono::milliseconds timeout = 5s);
    // Reads until the line has been quiet for the given time.
    std::string readUntilQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds limit = 5s);
    // The other end hangs up, as an unplugged adapter would.
    void hangUp();

private:
    int master_ = -1;
    // Held open so the line's settings and state survive between the engine's opens.
    int slave_ = -1;
    std::string slavePath_;
};

// Runs a peer script on a thread of its own; joined by the destructor at the latest.
class ScriptedPeer {
public:
    ScriptedPeer(PtyPeer& peer, std::function<void(PtyPeer&)> script);
    ~ScriptedPeer();
    void join();

private:
    std::thread thread_;
};

// Sets a cancel request when a test runs too long, so a wait that would never end
// fails the test instead of hanging the suite.
class Watchdog {
public:
    Watchdog(std::atomic<bool>& cancelRequest, std::chrono::milliseconds limit);
    ~Watchdog();
    bool fired() const { return fired_.load(); }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::atomic<bool> fired_{false};
    std::thread thread_;
};

} // namespace updatetool::test
