#pragma once

// Paths and error words between this program's narrow strings and Windows' wide ones,
// shared by every Windows part: the port, the output files, the channel file layer
// and its lock.
#include <cstddef>
#include <string>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace updatetool {

// Paths arrive in the program's code page, as the command line and fopen have them.
inline std::wstring widen(const std::string& path)
{
    const int length = ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, path.data(), static_cast<int>(path.size()), wide.data(), length);
    return wide;
}

// The system's own words for an error code, without the line end it ends with.
inline std::string systemMessage(DWORD code)
{
    char text[512] = {};
    const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                          0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty()
           && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(code) : message;
}

} // namespace updatetool
