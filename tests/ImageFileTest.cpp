// The image file alone: a change is made in a copy, and the copy takes the
// file's place only when the file still holds what the copy was made from.

#include "ImageFile.h"
#include "support/HostTools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::vector<std::string> FolderNames(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Writes `bytes` into the copy, as the library does.
void WriteCopy(const CImageFile& file, const std::vector<unsigned char>& bytes) {
    ASSERT_EQ(::ftruncate(file.CopyDescriptor(), 0), 0);
    ASSERT_EQ(::pwrite(file.CopyDescriptor(), bytes.data(), bytes.size(), 0),
              static_cast<ssize_t>(bytes.size()));
}

TEST(ImageFile, TheCopyReplacesTheFileThroughItsLinkAndBecomesTheVersionLoaded) {
    TempDir dir;
    const std::string target = dir / "disk.dsk";
    WriteFile(target, PatternBytes(5000, 1));
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(::symlink("disk.dsk", (dir / "link.dsk").c_str()), 0);

    CImageFile file;
    file.Take(dir / "link.dsk");
    EXPECT_EQ(file.Path(), std::filesystem::canonical(target).string());
    EXPECT_FALSE(file.ChangedSinceLoaded());
    std::string cause;
    ASSERT_TRUE(file.Lock(cause)) << cause;
    ASSERT_TRUE(file.StartCopy(cause)) << cause;
    EXPECT_EQ(ReadFile(file.CopyPath()), PatternBytes(5000, 1));
    WriteCopy(file, PatternBytes(6000, 2));
    ASSERT_TRUE(file.ReplaceWithCopy(cause)) << cause;
    file.Unlock();

    EXPECT_EQ(ReadFile(target), PatternBytes(6000, 2));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.dsk"));
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_FALSE(file.ChangedSinceLoaded());
    EXPECT_EQ(FolderNames(dir), (std::vector<std::string>{"disk.dsk", "link.dsk"}));
    WriteFile(target, PatternBytes(10, 3));
    EXPECT_TRUE(file.ChangedSinceLoaded());
}

TEST(ImageFile, AFileAnotherProgramWroteMeanwhileIsNeverReplaced) {
    TempDir dir;
    const std::string target = dir / "disk.dsk";
    // In place with its size and time as they were (only its bytes tell),
    // and replaced by a rename.
    const auto writeInPlace = [&] {
        struct stat before {};
        ASSERT_EQ(::stat(target.c_str(), &before), 0);
        std::vector<unsigned char> bytes = ReadFile(target);
        bytes[100] ^= 0xFF;
        WriteFile(target, bytes);
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, target.c_str(), times, 0), 0);
    };
    const auto replaceByRename = [&] {
        WriteFile(dir / "other.tmp", PatternBytes(5000, 9));
        ASSERT_EQ(::rename((dir / "other.tmp").c_str(), target.c_str()), 0);
    };
    for (const auto& otherProgram : {std::function<void()>(writeInPlace),
                                     std::function<void()>(replaceByRename)}) {
        WriteFile(target, PatternBytes(5000, 1));
        CImageFile file;
        file.Take(target);
        std::string cause;
        ASSERT_TRUE(file.Lock(cause)) << cause;
        ASSERT_TRUE(file.StartCopy(cause)) << cause;
        WriteCopy(file, PatternBytes(5000, 2));
        otherProgram();
        const std::vector<unsigned char> theirs = ReadFile(target);
        EXPECT_FALSE(file.ReplaceWithCopy(cause));
        EXPECT_FALSE(cause.empty());
        file.DropCopy();
        file.Unlock();
        EXPECT_EQ(ReadFile(target), theirs);
        EXPECT_EQ(FolderNames(dir), (std::vector<std::string>{"disk.dsk"}));
    }
}

} // namespace
