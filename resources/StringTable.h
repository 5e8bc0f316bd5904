#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace updatetool {

// The program's texts by string-table number, shared by the windows and the
// command line so both say exactly the same thing.
namespace ids {
inline constexpr unsigned kAboutMenu = 101;        // "&About This Program..."
inline constexpr unsigned kClose = 102;            // "Close"
inline constexpr unsigned kTransferSize = 160;     // "Transfer Size %1!u! / %2!u! Bytes"
inline constexpr unsigned kElapseRemain = 161;     // "Elapse %1!2u! sec / Remain %2!2u! sec"
inline constexpr unsigned kUpdateEnd = 324;        // "Update End"
inline constexpr unsigned kWaitAppErase = 327;     // "Wait..APP Erase..."
inline constexpr unsigned kEraseEnd = 328;         // "Erase End"
inline constexpr unsigned kInvalidChannelFile = 57666;
inline constexpr unsigned kNotEnoughMemory = 57675;
inline constexpr unsigned kCantOpenFile = 57682;
} // namespace ids

// The text of a string-table entry; empty for an unknown number.
std::string_view loadString(unsigned id);

// String number of a job phase's status text (1-7), 0 for phase 0 or out of range.
unsigned phaseStringId(int phase);
// String number of a job result's message (2, 3, 4, 6, 7), 0 for the others.
unsigned resultStringId(int result);

// Positional message format: "%1!u!" prints the first number unsigned, "%2!2u!"
// the second right-aligned in at least two characters; "%1" alone is "%1!u!".
std::string formatMessage(std::string_view format, std::initializer_list<std::uint32_t> args);

} // namespace updatetool
