#include "file_status.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "path.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::Bytes;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

std::int64_t LastWriteSeconds(const fs::path& path) {
    const auto sys = std::chrono::file_clock::to_sys(fs::last_write_time(path));
    return std::chrono::floor<std::chrono::seconds>(sys).time_since_epoch().count();
}

#if defined(_WIN32)
// Wine on a Unix file system keeps no creation time and shows every file marked for archiving;
// its runner exports WINELOADER.
bool UnderWine() {
    return std::getenv("WINELOADER") != nullptr;
}
#endif

class FileStatusTest : public ::testing::Test {
  protected:
    FileStatusTest() { WriteFileBytes(file(), Bytes(1234, 0x5A)); }
    ~FileStatusTest() override {
        std::error_code ignored;
        fs::permissions(file(), fs::perms::owner_write, fs::perm_options::add, ignored);
    }

    fs::path file() const { return dir_ / "status.bin"; }
    std::string path() const { return file().string(); }

    FileStatus Read() const {
        FileStatus status;
        EXPECT_TRUE(GetFileStatus(path().c_str(), status));
        return status;
    }

    ScratchDir dir_;
};

TEST_F(FileStatusTest, ReadsSizePathAndTimes) {
    const FileStatus status = Read();
    EXPECT_EQ(status.size, 1234u);
    EXPECT_TRUE(fs::path(status.absolutePath).is_absolute());
    EXPECT_TRUE(fs::equivalent(status.absolutePath, file()));
    EXPECT_EQ(status.lastModifiedTime, LastWriteSeconds(file()));
    EXPECT_NE(status.creationTime, 0);
    EXPECT_NE(status.lastAccessTime, 0);
    EXPECT_EQ(status.attributes & FILE_STATUS_READ_ONLY, 0);
}

TEST_F(FileStatusTest, TimesAndAttributesRoundTrip) {
    struct Case {
        const char* what;
        std::int64_t modified;
        std::int64_t access;
        std::int64_t creation;
        std::uint8_t attributes;
    };
    const Case cases[] = {
        {"read-only", 1500000000, 1500000100, 1400000000, FILE_STATUS_READ_ONLY},
        // The file is read-only now: its attributes must change before its times can.
        {"writable again", 1600000000, 1600000200, 1400000000, 0},
        {"read-only again", 1700000000, 1700000300, 1400000000, FILE_STATUS_READ_ONLY},
        {"after 2038", 0x80000010LL, 0xFFFFFFFFLL, 1400000000, 0},
        {"beyond 32 bits", 5000000000LL, 5000000001LL, 1400000000, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FileStatus wanted = Read();
        wanted.lastModifiedTime = c.modified;
        wanted.lastAccessTime = c.access;
        wanted.creationTime = c.creation;
        wanted.attributes = c.attributes;
        ASSERT_TRUE(SetFileStatus(path().c_str(), wanted));
        const FileStatus got = Read();
        EXPECT_EQ(got.lastModifiedTime, c.modified);
        // The standard library's own clock conversion stops at 32 bits on some targets.
        if (c.modified <= 0xFFFFFFFFLL) {
            EXPECT_EQ(LastWriteSeconds(file()), c.modified);
        }
        EXPECT_EQ(got.lastAccessTime, c.access);
        EXPECT_EQ(got.attributes & FILE_STATUS_READ_ONLY, c.attributes & FILE_STATUS_READ_ONLY);
        EXPECT_EQ(IsReadOnlyFile(path().c_str()), c.attributes != 0);
#if defined(_WIN32)
        if (!UnderWine()) {
            EXPECT_EQ(got.creationTime, c.creation);
            EXPECT_EQ(got.attributes, c.attributes);
        }
#endif
    }
}

TEST_F(FileStatusTest, NoTimeWritesOnlyAttributes) {
    FileStatus wanted = Read();
    wanted.lastModifiedTime = 1500000000;
    ASSERT_TRUE(SetFileStatus(path().c_str(), wanted));
    wanted.lastModifiedTime = 0;
    wanted.attributes = FILE_STATUS_READ_ONLY;
    ASSERT_TRUE(SetFileStatus(path().c_str(), wanted));
    EXPECT_EQ(Read().lastModifiedTime, 1500000000);
    EXPECT_TRUE(IsReadOnlyFile(path().c_str()));
}

#if defined(_WIN32)
TEST_F(FileStatusTest, ArchiveMarkIsSetAndCleared) {
    if (UnderWine()) {
        GTEST_SKIP() << "Wine marks every file for archiving";
    }
    FileStatus wanted = Read();
    wanted.attributes = FILE_STATUS_ARCHIVE;
    ASSERT_TRUE(SetFileStatus(path().c_str(), wanted));
    EXPECT_EQ(Read().attributes, FILE_STATUS_ARCHIVE);
    wanted.attributes = 0;
    ASSERT_TRUE(SetFileStatus(path().c_str(), wanted));
    EXPECT_EQ(Read().attributes, 0);
}
#endif

TEST_F(FileStatusTest, MissingFileIsAResult) {
    const std::string missing = (dir_ / "missing.bin").string();
    FileStatus status;
    EXPECT_FALSE(GetFileStatus(missing.c_str(), status));
    status.lastModifiedTime = 1500000000;
    EXPECT_FALSE(SetFileStatus(missing.c_str(), status));
    EXPECT_FALSE(fs::exists(missing));
}

TEST(PathOperations, DirectoryPrefix) {
    const std::string sep(1, PATH_SEPARATOR);
    struct Case {
        std::string path;
        std::string prefix;
    };
    const Case cases[] = {
        {"name.txt", ""},
        {"dir" + sep + "name.txt", "dir" + sep},
        {sep + "a" + sep + "b" + sep, sep + "a" + sep + "b" + sep},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(DirectoryPrefix(c.path), c.prefix);
    }
}

TEST(PathOperations, TemporaryFilesAreNewAndReplaceTheirTarget) {
    ScratchDir dir;
    const std::string prefix = dir.path().string() + PATH_SEPARATOR;
    std::string first;
    std::string second;
    std::FILE* a = CreateTempFileIn(prefix, first);
    std::FILE* b = CreateTempFileIn(prefix, second);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(DirectoryPrefix(first), prefix);
    EXPECT_EQ(std::fwrite("new", 1, 3, a), 3u);
    EXPECT_EQ(std::fclose(a), 0);
    EXPECT_EQ(std::fclose(b), 0);

    const fs::path target = dir / "target.bin";
    WriteFileBytes(target, Bytes(100, 0x01));
    EXPECT_TRUE(MoveFileOver(first.c_str(), target.string().c_str()));
    EXPECT_EQ(ReadFileBytes(target), (Bytes{'n', 'e', 'w'}));
    EXPECT_TRUE(RemoveFile(second.c_str()));
    EXPECT_FALSE(RemoveFile(second.c_str()));
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
        names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::set<std::string>{"target.bin"});

    std::string unused;
    EXPECT_EQ(CreateTempFileIn(prefix + "missing" + PATH_SEPARATOR, unused), nullptr);
}

}  // namespace
