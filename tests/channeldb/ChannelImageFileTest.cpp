// Save replaces the image only once the new content is complete.
#include "ChannelTestSupport.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace updatetool;
using namespace updatetool::test;

namespace {

class ChannelSaveFile : public testing::Test {
protected:
    void SetUp() override
    {
        path = folder.file("channels.img");
        writeFile(path, demoImage());
        database = std::make_unique<ChannelDatabase>();
        database->filePath = path;
        ASSERT_EQ(database->load(), LoadResult::Loaded);
        database->rebuildCountersAndFavorites();
        // An edit, so that a save that went through would show.
        database->channels[0].name = RecordName{'E', 'd', 'i', 't', 'e', 'd'};
    }

    std::vector<std::string> folderEntries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
            names.push_back(entry.path().filename().string());
        return names;
    }

    TempFolder folder;
    std::string path;
    std::unique_ptr<ChannelDatabase> database;
};

TEST_F(ChannelSaveFile, SaveWritesTheEditAndValidCheckWords)
{
    ASSERT_TRUE(database->save());
    EXPECT_EQ(database->lastSaveError, SaveError::None);
    const Bytes saved = readFile(path);
    ASSERT_EQ(saved.size(), kImageSize);
    EXPECT_EQ(saved[channelOffset(0) + 32], 'E');
    expectCheckWordsValid(saved);
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"channels.img"});
}

TEST_F(ChannelSaveFile, FailedWriteLeavesTheOriginalUntouched)
{
    for (const std::size_t failAfter : {std::size_t{0}, std::size_t{4096}, kImageSize - 1}) {
        database->saveOptions.failWriteAfterBytes = failAfter;
        EXPECT_FALSE(database->save()) << "failing after " << failAfter << " bytes";
        EXPECT_EQ(database->lastSaveError, SaveError::WriteFailed);
        EXPECT_TRUE(readFile(path) == demoImage());
        EXPECT_EQ(folderEntries(), std::vector<std::string>{"channels.img"}) << "temporary file left behind";
    }
}

#ifndef _WIN32
// Permission bits and symbolic links: the POSIX side of the file replace.
TEST_F(ChannelSaveFile, FolderWithoutWritePermissionFailsCleanly)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write anywhere";
    ASSERT_EQ(::chmod(folder.path().c_str(), 0555), 0);
    EXPECT_FALSE(database->save());
    EXPECT_EQ(database->lastSaveError, SaveError::WriteFailed);
    ::chmod(folder.path().c_str(), 0755);
    EXPECT_TRUE(readFile(path) == demoImage());
}

TEST_F(ChannelSaveFile, ReadOnlyFileIsNotReplaced)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may open any file for writing";
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    EXPECT_FALSE(database->save());
    EXPECT_EQ(database->lastSaveError, SaveError::CantOpen);
    EXPECT_TRUE(readFile(path) == demoImage());
}

TEST_F(ChannelSaveFile, KeepsThePermissionBits)
{
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(database->save());
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST_F(ChannelSaveFile, SavesThroughASymbolicLink)
{
    const std::string link = folder.file("link.img");
    std::filesystem::create_symlink(path, link);
    database->filePath = link;
    ASSERT_TRUE(database->save());
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(readFile(path)[channelOffset(0) + 32], 'E');
}
#else
// The Windows side: attributes instead of permission bits, and programs that hold
// the file open.
TEST_F(ChannelSaveFile, ReadOnlyFileIsNotReplacedAndOtherAttributesAreKept)
{
    const std::wstring widePath = std::filesystem::path(path).wstring();
    ASSERT_TRUE(::SetFileAttributesW(widePath.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(database->save());
    EXPECT_EQ(database->lastSaveError, SaveError::CantOpen);

    ASSERT_TRUE(::SetFileAttributesW(widePath.c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(database->save());
    EXPECT_EQ(readFile(path)[channelOffset(0) + 32], 'E');
    EXPECT_TRUE(::GetFileAttributesW(widePath.c_str()) & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"channels.img"});
}

TEST_F(ChannelSaveFile, FileHeldOpenByAnotherProgramIsLeftWhole)
{
    // A reader that lets others read and write, but not rename or delete, the file.
    const HANDLE reader = ::CreateFileW(std::filesystem::path(path).wstring().c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(database->save());
    EXPECT_EQ(database->lastSaveError, SaveError::WriteFailed);
    ::CloseHandle(reader);
    EXPECT_TRUE(readFile(path) == demoImage());
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"channels.img"}) << "temporary file left behind";
}
#endif

TEST_F(ChannelSaveFile, ShortOrMissingFileIsRefused)
{
    const struct {
        const char* what;
        std::size_t size; // 0: no file at all
        SaveError error;
    } cases[] = {
        {"one byte short", kImageSize - 1, SaveError::TooShort},
        {"header only", 16, SaveError::TooShort},
        {"missing", 0, SaveError::CantOpen},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string shortPath = folder.file("short.img");
        std::filesystem::remove(shortPath);
        const Bytes original(demoImage().begin(), demoImage().begin() + static_cast<std::ptrdiff_t>(c.size));
        if (c.size > 0)
            writeFile(shortPath, original);
        database->filePath = shortPath;
        EXPECT_FALSE(database->save());
        EXPECT_EQ(database->lastSaveError, c.error);
        if (c.size > 0)
            EXPECT_TRUE(readFile(shortPath) == original);
        else
            EXPECT_FALSE(std::filesystem::exists(shortPath));
    }
}

// A file far larger than a channel image is not read into memory, nor written.
TEST_F(ChannelSaveFile, FarTooLargeFileIsRefused)
{
    const std::string hugePath = folder.file("huge.img");
    writeFile(hugePath, demoImage());
    std::filesystem::resize_file(hugePath, kLargestChannelFile + 1); // sparse: no disk space used
    database->filePath = hugePath;
    EXPECT_FALSE(database->save());
    EXPECT_EQ(database->lastSaveError, SaveError::TooLarge);
    EXPECT_EQ(std::filesystem::file_size(hugePath), kLargestChannelFile + 1);
    const Bytes after = readFile(hugePath);
    EXPECT_TRUE(std::equal(demoImage().begin(), demoImage().end(), after.begin()));
}

TEST_F(ChannelSaveFile, BytesPastTheBlockAreKept)
{
    Bytes longer = demoImage();
    longer.insert(longer.end(), {1, 2, 3, 4});
    writeFile(path, longer);
    ASSERT_TRUE(database->save());
    const Bytes saved = readFile(path);
    ASSERT_EQ(saved.size(), longer.size());
    EXPECT_TRUE(std::equal(saved.end() - 4, saved.end(), longer.end() - 4));
}

} // namespace
