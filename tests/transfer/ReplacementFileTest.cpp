#include "ReplacementFile.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <set>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace updatetool {
namespace {

namespace fs = std::filesystem;

class ReplacementFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("updatetool-replace-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    static void writeText(const std::string& file, const std::string& text) { std::ofstream(file) << text; }
    static std::string readText(const std::string& file)
    {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::set<std::string> names() const
    {
        std::set<std::string> found;
        for (const auto& entry : fs::directory_iterator(dir_))
            found.insert(entry.path().filename().string());
        return found;
    }

    fs::path dir_;
};

// Whatever happens to the new content, the folder holds only what it held before
// (plus the target when it is new), and the target is either all old or all new.
TEST_F(ReplacementFileTest, TheTargetIsEitherAllOldOrAllNew)
{
    enum Ending { Commit, Discard, DropUnfinished, FileSizeLimit };
    const struct {
        const char* name;
        bool exists;
        Ending ending;
        bool replaced;
    } cases[] = {
        {"new file committed", false, Commit, true},
        {"old file committed over", true, Commit, true},
        {"discarded", true, Discard, false},
        {"dropped without commit", true, DropUnfinished, false},
        {"discarded, no old file", false, Discard, false},
        // The write fails with an error (the file-size signal ignored, as the command line does).
        {"file size limit", true, FileSizeLimit, false},
    };
    for (const auto& c : cases) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        const std::string target = path("out.img");
        if (c.exists) {
            writeText(target, "old content");
            ::chmod(target.c_str(), 0640);
        }
        const std::string content(4000, 'n');
        if (c.ending == FileSizeLimit) {
            const pid_t child = ::fork();
            if (child == 0) {
                std::signal(SIGXFSZ, SIG_IGN);
                const rlimit limit{1000, 1000};
                ::setrlimit(RLIMIT_FSIZE, &limit);
                ReplacementFile file;
                const bool opened = file.open(target);
                const bool wrote = file.write(content);
                const bool committed = file.commit();
                ::_exit(opened && !wrote && !committed && file.error() == "File too large" ? 0 : 1);
            }
            int status = -1;
            ::waitpid(child, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.name;
        } else {
            ReplacementFile file;
            ASSERT_TRUE(file.open(target)) << c.name;
            ASSERT_TRUE(file.write(content)) << c.name;
            if (c.ending == Commit)
                EXPECT_TRUE(file.commit()) << c.name;
            else if (c.ending == Discard)
                file.discard();
        }
        const std::set<std::string> expectedNames =
            c.exists || c.replaced ? std::set<std::string>{"out.img"} : std::set<std::string>{};
        EXPECT_EQ(names(), expectedNames) << c.name;
        if (c.exists || c.replaced) {
            EXPECT_EQ(readText(target), c.replaced ? content : "old content") << c.name;
        }
        if (c.exists && c.replaced) {
            EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
                      fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read)
                << c.name;
        }
    }
}

TEST_F(ReplacementFileTest, ALinkIsFollowedADeviceWrittenInPlaceAFolderRefused)
{
    writeText(path("real.img"), "old");
    fs::create_symlink(path("real.img"), path("link.img"));
    ReplacementFile viaLink;
    ASSERT_TRUE(viaLink.open(path("link.img")));
    ASSERT_TRUE(viaLink.write(std::string_view("new")));
    ASSERT_TRUE(viaLink.commit());
    EXPECT_TRUE(fs::is_symlink(path("link.img")));
    EXPECT_EQ(readText(path("real.img")), "new");

    ReplacementFile device;
    ASSERT_TRUE(device.open("/dev/null"));
    EXPECT_TRUE(device.write(std::string_view("gone")));
    EXPECT_TRUE(device.commit());
    EXPECT_TRUE(fs::is_character_file("/dev/null"));

    if (fs::exists("/dev/full")) {
        ReplacementFile full;
        ASSERT_TRUE(full.open("/dev/full"));
        EXPECT_FALSE(full.write(std::string_view("x")));
        EXPECT_EQ(full.error(), "No space left on device");
    }

    ReplacementFile folder;
    EXPECT_FALSE(folder.open(dir_.string()));
    EXPECT_EQ(folder.error(), "Is a directory");
    ReplacementFile missing;
    EXPECT_FALSE(missing.open(path("no-such-dir/out.img")));
    EXPECT_EQ(missing.error(), "No such file or directory");
}

TEST_F(ReplacementFileTest, AFileTheUserMayNotWriteIsNotReplaced)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write any file";
    writeText(path("read-only.img"), "kept");
    ::chmod(path("read-only.img").c_str(), 0444);
    ReplacementFile file;
    EXPECT_FALSE(file.open(path("read-only.img")));
    EXPECT_EQ(file.error(), "Permission denied");
    EXPECT_EQ(readText(path("read-only.img")), "kept");
}

TEST_F(ReplacementFileTest, SameFileMeansSameDeviceAndInode)
{
    writeText(path("a.img"), "a");
    writeText(path("b.img"), "a");
    fs::create_hard_link(path("a.img"), path("hard.img"));
    fs::create_symlink(path("a.img"), path("soft.img"));
    const struct {
        const char* first;
        const char* second;
        bool same;
    } cases[] = {
        {"a.img", "a.img", true},
        {"a.img", "hard.img", true},
        {"soft.img", "a.img", true},
        {"a.img", "b.img", false},
        {"a.img", "missing.img", false},
        {"missing.img", "missing.img", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isSameFile(path(c.first), path(c.second)), c.same) << c.first << " " << c.second;
    EXPECT_TRUE(isSameFile(path("a.img"), "./" + fs::relative(path("a.img")).string()));
}

} // namespace
} // namespace updatetool
