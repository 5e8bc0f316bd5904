#include "MonitorLineEditor.h"

#include <gtest/gtest.h>

#include "TargetProtocol.h"

namespace updatetool {
namespace {

TEST(MonitorLineEditor, TypedLines)
{
    const struct {
        const char* name;
        std::string typed; // without the final CR
        std::string line;
        std::string echo; // before the final CR LF
    } cases[] = {
        {"plain", "QV_UPDATE 20!", "QV_UPDATE 20!", "QV_UPDATE 20!"},
        {"lower case becomes upper", "qv_update 1f!", "QV_UPDATE 1F!", "QV_UPDATE 1F!"},
        {"backspace removes and rubs out", "ab\bc", "AC", "AB\b \bC"},
        {"backspace on an empty line does nothing", "\b\bA", "A", "A"},
        {"line feed and controls ignored", "\nA\x01\x7F\xFF" "B", "AB", "AB"},
        {"63 characters kept, the rest dropped without echo", std::string(70, 'x'), std::string(63, 'X'), std::string(63, 'X')},
        {"backspace makes room again", std::string(63, 'x') + "yz\bw", std::string(62, 'X') + "W",
         std::string(63, 'X') + "\b \bW"},
    };
    for (const auto& c : cases) {
        MonitorLineEditor editor;
        std::string echo;
        for (char typed : c.typed)
            ASSERT_FALSE(editor.feed(static_cast<std::uint8_t>(typed), echo)) << c.name;
        EXPECT_EQ(editor.line(), c.line) << c.name;
        EXPECT_EQ(echo, c.echo) << c.name;
        echo.clear();
        EXPECT_TRUE(editor.feed('\r', echo)) << c.name;
        EXPECT_EQ(echo, "\r\n") << c.name;
    }
}

TEST(MonitorLineEditor, Commands)
{
    using V = MonitorLineEditor::Verdict;
    const struct {
        std::string_view line;
        V verdict;
        std::uint32_t size;
    } cases[] = {
        {"QV_UPDATE 11170!", V::SizeAccepted, 70000},
        {"QV_UPDATE 20", V::SizeAccepted, 0x20},
        {"QV_UPDATE 1F0000!", V::SizeAccepted, 0x1F0000},
        {"QV_UPDATE 0001F0000", V::SizeRefused, 0}, // nine digits, even with leading zeros
        {"QV_UPDATE 1F", V::SizeRefused, 0},
        {"QV_UPDATE 1F0001", V::SizeRefused, 0},
        {"QV_UPDATE 100000000", V::SizeRefused, 0},
        {"QV_UPDATE FFFFFFFF", V::SizeRefused, 0},
        {"QV_UPDATE 1000#junk", V::SizeAccepted, 0x1000},
        {"QV_UPDATE   ABCD!  more", V::SizeAccepted, 0xABCD},
        {"  QV_UPDATE 100", V::SizeAccepted, 0x100},
        {"QV_UPDATE !100", V::SizeRefused, 0},
        {"QV_UPDATE", V::SizeRefused, 0},
        {"QV_UPDATE ", V::SizeRefused, 0},
        {"QV_UPDATEX 100", V::NotUpdate, 0},
        {"HELP", V::NotUpdate, 0},
        {"", V::NotUpdate, 0},
    };
    for (const auto& c : cases) {
        const auto command = MonitorLineEditor::interpret(c.line);
        EXPECT_EQ(command.verdict, c.verdict) << c.line;
        EXPECT_EQ(command.size, c.size) << c.line;
    }
}

TEST(TargetProtocol, UpdateCommandLine)
{
    const struct {
        std::uint32_t size;
        std::string_view line;
    } cases[] = {
        {70000, "QV_UPDATE 11170!\r\n"},
        {1, "QV_UPDATE 1!\r\n"},
        {0x1F0000, "QV_UPDATE 1F0000!\r\n"},
        {0xABCDEF12, "QV_UPDATE ABCDEF12!\r\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TargetProtocol::updateCommand(c.size), c.line);
}

} // namespace
} // namespace updatetool
