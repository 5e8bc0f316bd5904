#include "ImageFile.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include <gtest/gtest.h>

#include "ReceivedFile.h"

namespace updatetool {
namespace {

std::vector<std::uint8_t> bytesOf(std::string_view text)
{
    return {text.begin(), text.end()};
}

TEST(Crc16Xmodem, KnownValues)
{
    const struct {
        std::string_view data;
        std::uint16_t crc;
    } cases[] = {
        {"", 0x0000},
        {"123456789", 0x31C3},
        {"A", 0x58E5},
        {std::string_view("\x00", 1), 0x0000},
        {"\xFF", 0x1EF0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(crc16Xmodem(bytesOf(c.data)), c.crc) << c.data;
}

// An application header with the check value that matches bytes 0-11 and 102-103.
// Shorter than 104 bytes: the header of a longer image, cut off.
std::vector<std::uint8_t> validApplicationHeader(std::size_t size = 200)
{
    std::vector<std::uint8_t> image(std::max<std::size_t>(size, 110));
    const std::string_view head = "VORN\x11\x22\x33\x44\x55\x66\x77\x88";
    std::copy(head.begin(), head.end(), image.begin());
    for (std::size_t i = 16; i < size; ++i)
        image[i] = static_cast<std::uint8_t>(i * 7);
    const std::uint16_t check = crc16Xmodem(std::span(image).first(12)) ^ crc16Xmodem(std::span(image).subspan(102, 2));
    image[12] = 0;
    image[13] = 0;
    image[14] = static_cast<std::uint8_t>(check >> 8);
    image[15] = static_cast<std::uint8_t>(check);
    image.resize(size);
    return image;
}

TEST(ApplicationHeader, Check)
{
    const struct {
        const char* name;
        std::size_t offset; // byte to change, or SIZE_MAX for none
        std::uint8_t xorWith;
        std::size_t size;
        bool valid;
    } cases[] = {
        {"valid", SIZE_MAX, 0, 200, true},
        {"exactly 104 bytes", SIZE_MAX, 0, 104, true},
        {"103 bytes", SIZE_MAX, 0, 103, false},
        {"magic byte changed", 0, 0x01, 200, false},
        {"byte 11 changed", 11, 0x80, 200, false},
        {"byte 12 not zero", 12, 0x01, 200, false},
        {"byte 13 not zero", 13, 0x40, 200, false},
        {"check low byte wrong", 15, 0x01, 200, false},
        {"byte 102 changed", 102, 0x01, 200, false},
        {"byte 103 changed", 103, 0x10, 200, false},
        {"byte 50 is not covered", 50, 0xFF, 200, true},
        {"byte 104 is not covered", 104, 0xFF, 200, true},
    };
    for (const auto& c : cases) {
        auto image = validApplicationHeader(c.size);
        if (c.offset != SIZE_MAX)
            image[c.offset] ^= c.xorWith;
        EXPECT_EQ(applicationHeaderValid(image), c.valid) << c.name;
    }
}

TEST(ApplicationHeader, NonZeroBytes12And13FailWhateverBytes14And15Hold)
{
    auto image = validApplicationHeader();
    image[12] = 0x00;
    image[13] = 0x01;
    for (int low = 0; low < 0x10000; low += 0x0101) {
        image[14] = static_cast<std::uint8_t>(low >> 8);
        image[15] = static_cast<std::uint8_t>(low);
        ASSERT_FALSE(applicationHeaderValid(image)) << low;
    }
}

class TempDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path() / ("updatetool-image-" + std::to_string(::getpid()) + "-"
                                                         + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string write(const std::string& name, const std::vector<std::uint8_t>& bytes)
    {
        const auto path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    std::filesystem::path dir_;
};

using ImageFileOnDisk = TempDir;

TEST_F(ImageFileOnDisk, HeaderCheckLeavesThePositionAtTheStart)
{
    const struct {
        const char* name;
        std::vector<std::uint8_t> content;
        std::uint8_t fileType;
        bool valid;
    } cases[] = {
        {"valid application", validApplicationHeader(), 0, true},
        {"short application", validApplicationHeader(103), 0, false},
        {"channel image with any content", bytesOf("QVCH garbage"), 1, true},
        {"boot image with any content", bytesOf("QVBT"), 2, true},
        {"received file sent back as application", bytesOf("VORN LUMEN CORP " + std::string(200, 'x')), 0, false},
    };
    for (const auto& c : cases) {
        const std::string path = write("image.img", c.content);
        std::FILE* file = std::fopen(path.c_str(), "rb");
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(checkImageHeader(file, c.fileType), c.valid) << c.name;
        EXPECT_EQ(std::ftell(file), 0) << c.name;
        std::fclose(file);
    }
}

TEST_F(ImageFileOnDisk, TypeDetectionAndChannelEditHeads)
{
    const struct {
        std::string_view head;
        std::optional<std::uint8_t> type;
        bool channelEditable;
    } cases[] = {
        {"VORN\x01\x02", 0, false},
        {"QVCH", 1, true},
        {"QVBTxxxx", 2, false},
        {"VORN LUMEN CORP \x01", 0, true},
        {"VORN LUMEN CORP", 0, false}, // signature without its trailing blank
        {"vorn", std::nullopt, false},
        {"QVC", std::nullopt, false},
        {"", std::nullopt, false},
    };
    for (const auto& c : cases) {
        const auto path = write("head.img", bytesOf(c.head));
        const auto head = readFileHead(path);
        ASSERT_TRUE(head.has_value());
        const auto bytes = bytesOf(*head);
        EXPECT_EQ(detectFileType(bytes), c.type) << c.head;
        EXPECT_EQ(isChannelFileHead(bytes), c.channelEditable) << c.head;
    }
    EXPECT_FALSE(readFileHead((dir_ / "missing.img").string()).has_value());
}

TEST_F(ImageFileOnDisk, ReceivedFileIsTheSignatureAndTheData)
{
    const std::string path = (dir_ / "received.img").string();
    write("received.img", bytesOf("old content that is longer than the new file will be"));
    ReceivedFile file;
    ASSERT_TRUE(file.create(path));
    ASSERT_TRUE(file.commit(bytesOf("ABC")));
    EXPECT_EQ(*readFileHead(path, 100), "VORN LUMEN CORP ABC");

    ReceivedFile unwritable;
    EXPECT_FALSE(unwritable.create((dir_ / "no-such-dir" / "x.img").string()));
    EXPECT_FALSE(unwritable.error().empty());
}

} // namespace
} // namespace updatetool
