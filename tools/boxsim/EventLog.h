#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace boxsim {

// One line per event, flushed at once so a test can read it while boxsim runs.
class EventLog {
public:
    // An empty path logs nothing. False when the file cannot be created.
    bool open(const std::string& path);
    void write(const std::string& line);

private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, FileCloser> file_;
};

} // namespace boxsim
