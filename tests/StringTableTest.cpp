#include "StringTable.h"

#include <gtest/gtest.h>

using namespace updatetool;

TEST(StringTable, PositionalFormats)
{
    struct Case {
        unsigned id;
        std::uint32_t a, b;
        const char* expected;
    };
    const Case cases[] = {
        {ids::kTransferSize, 0, 0, "Transfer Size 0 / 0 Bytes"},
        {ids::kTransferSize, 102400, 4294967295u, "Transfer Size 102400 / 4294967295 Bytes"},
        {ids::kElapseRemain, 5, 0, "Elapse  5 sec / Remain  0 sec"},
        {ids::kElapseRemain, 20, 180, "Elapse 20 sec / Remain 180 sec"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(formatMessage(loadString(c.id), {c.a, c.b}), c.expected) << c.expected;
}

TEST(StringTable, PhaseAndResultTexts)
{
    const char* phases[] = {"", "Checking File...", "Please reboot your STB.", "Transferring Data...",
                            "Receiverring Data...", "Making Data...", "Updating File...", "Update End"};
    for (int p = 0; p < 8; ++p)
        EXPECT_EQ(loadString(phaseStringId(p)), phases[p]) << p;
    EXPECT_EQ(phaseStringId(8), 0u);

    EXPECT_EQ(loadString(resultStringId(2)), "Image File I/O Error");
    EXPECT_EQ(loadString(resultStringId(3)), "Serial Port I/O Error");
    EXPECT_EQ(loadString(resultStringId(4)), "File Is Invalid");
    EXPECT_EQ(loadString(resultStringId(6)), "File Transfer Fail");
    EXPECT_EQ(loadString(resultStringId(7)), "Data Update Fail");
    for (int r : {0, 1, 5, 8, 9})
        EXPECT_EQ(resultStringId(r), 0u) << r;
}
