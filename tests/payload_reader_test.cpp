#include "payload_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>
#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "file_status.h"
#include "path.h"
#include "payload_format.h"
#include "payload_writer.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::Bytes;
using testing_support::ReadFileBytes;
using testing_support::ScratchDir;
using testing_support::WriteFileBytes;

const std::string NAME_31 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234";

// The records of the package most cases patch, in file order.
std::vector<PayloadRecord> StandardRecords() {
    return {
        {"SCRIPT.COD", 1000000001, testing_support::TextContent(9000, 1)},
        {"IVENGINE.DLL", 1000000002, testing_support::RandomContent(5000, 2)},
        {NAME_31, 1000000003, testing_support::TextContent(700, 3)},
        {"\xC4X.TXT", 1000000004, testing_support::TextContent(300, 4)},
        {"dup.txt", 1000000005, Bytes{'f', 'i', 'r', 's', 't'}},
        {"DUP.TXT", 1000000006, Bytes{'s', 'e', 'c', 'o', 'n', 'd'}},
    };
}

PayloadHeader StandardHeader() {
    PayloadHeader header;
    header.engineVersion = {1, 2, 3, 4};
    SetFieldText(header.scriptName.data(), header.scriptName.size(), "main.cod");
    return header;
}

Bytes Package(const std::vector<PayloadRecord>& records) {
    Bytes launcher(400, 0x4C);
    launcher[0] = 'M';
    launcher[1] = 'Z';
    auto package = BuildPackage(launcher, StandardHeader(), records);
    EXPECT_TRUE(package.has_value());
    return package.value_or(Bytes{});
}

// Where the parts of a well-formed package lie.
struct Layout {
    std::vector<std::size_t> records;  // offsets of the record headers
    std::size_t trailer = 0;
};

Layout LayoutOf(const Bytes& package) {
    Layout layout;
    layout.trailer = package.size() - PAYLOAD_END_SIZE;
    const PayloadTrailer trailer = DecodeTrailer(package.data() + layout.trailer);
    std::size_t at = trailer.firstRecordOffset;
    for (int i = 0; i < trailer.recordCount; ++i) {
        layout.records.push_back(at);
        at += RECORD_HEADER_SIZE + DecodeRecordHeader(package.data() + at).segmentLength;
    }
    return layout;
}

std::set<std::string> Entries(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

std::int64_t LastWriteSeconds(const fs::path& path) {
    const auto sys = std::chrono::file_clock::to_sys(fs::last_write_time(path));
    return std::chrono::floor<std::chrono::seconds>(sys).time_since_epoch().count();
}

// Wine on a Unix file system shows every file marked for archiving; its runner exports
// WINELOADER.
std::uint8_t AttributesShown(const FileStatus& status) {
    const bool underWine = std::getenv("WINELOADER") != nullptr;
    return underWine ? status.attributes & ~FILE_STATUS_ARCHIVE & 0xFF : status.attributes;
}

// Through the C runtime, so that a name in the ANSI code page stays as it is.
Bytes ReadByAnsiName(const std::string& path) {
    Bytes bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        ADD_FAILURE() << "cannot open " << path;
        return bytes;
    }
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        bytes.push_back(static_cast<std::uint8_t>(c));
    }
    std::fclose(file);
    return bytes;
}

std::string AsDirectory(const fs::path& dir) {
    return dir.string() + PATH_SEPARATOR;
}

class PayloadReaderTest : public ::testing::Test {
  protected:
    PayloadReaderTest() {
        fs::create_directory(inDir());
        fs::create_directory(outDir());
    }

    fs::path inDir() const { return dir_ / "in"; }
    fs::path outDir() const { return dir_ / "out"; }
    std::string container() const { return (inDir() / "program.exe").string(); }

    void WriteContainer(const Bytes& bytes) const { WriteFileBytes(container(), bytes); }

    int Extract(const char* name, const std::string& destination) const {
        Bytes header(PAYLOAD_HEADER_SIZE);
        return ExtractRecord(container().c_str(), name, destination.c_str(), PAYLOAD_MAGIC,
                             header.data(), static_cast<int>(header.size()));
    }

    ScratchDir dir_;
};

TEST_F(PayloadReaderTest, ContainersAsPatched) {
    const std::vector<PayloadRecord> records = StandardRecords();
    const Bytes base = Package(records);
    const Layout layout = LayoutOf(base);
    using Patch = std::function<void(Bytes&)>;
    auto setCount = [&](std::uint16_t count) {
        return Patch([&, count](Bytes& p) {
            Write16le(p.data() + layout.trailer + TRAILER_RECORD_COUNT_OFFSET, count);
        });
    };
    auto setFirstOffset = [&](std::uint32_t offset) {
        return Patch([&, offset](Bytes& p) {
            Write32le(p.data() + layout.trailer + TRAILER_FIRST_RECORD_OFFSET, offset);
        });
    };
    auto setTag = [&](std::size_t record, const char* tag) {
        return Patch([&, record, tag](Bytes& p) {
            std::memcpy(p.data() + layout.records[record], tag, RECORD_TAG_LENGTH);
        });
    };
    const Patch none = [](Bytes&) {};

    struct Case {
        std::string what;
        Patch patch;
        std::string asked;
        int check = 1;
        int extract = 0;
        int found = -1;  // index of the record extracted
        int headerSize = static_cast<int>(PAYLOAD_HEADER_SIZE);
        bool nullHeader = false;
    };
    std::vector<Case> cases;
    for (std::size_t i = 0; i < PAYLOAD_MAGIC_LENGTH; ++i) {
        cases.push_back({"magic byte " + std::to_string(i) + " differs",
                         [&, i](Bytes& p) { p[layout.trailer + i] ^= 0x20; }, "SCRIPT.COD", 0});
    }
    cases.push_back({"bytes 6 and 7 are free",
                     [&](Bytes& p) {
                         p[layout.trailer + 6] = 0xFF;
                         p[layout.trailer + 7] = 'X';
                     },
                     "SCRIPT.COD", 1, 1, 0});
    cases.push_back({"well formed", none, "SCRIPT.COD", 1, 1, 0});
    cases.push_back({"record count 0", setCount(0), "SCRIPT.COD"});
    cases.push_back({"record count -32768", setCount(0x8000), "SCRIPT.COD"});
    cases.push_back({"record count -1", setCount(0xFFFF), "SCRIPT.COD"});
    cases.push_back({"record count 1 hides the second record", setCount(1), "IVENGINE.DLL"});
    cases.push_back({"record count larger: trailer read as a record", setCount(9), "MISSING"});
    cases.push_back({"record count larger, record present", setCount(9), "DUP.TXT", 1, 1, 4});
    cases.push_back({"non-FILE tag hides later records", setTag(1, "FILF"), NAME_31});
    cases.push_back(
        {"records before a bad tag are found", setTag(1, "FILF"), "SCRIPT.COD", 1, 1, 0});
    cases.push_back({"tag compared with its case", setTag(0, "file"), "SCRIPT.COD"});
    cases.push_back({"name asked in lower case", none, "script.cod", 1, 1, 0});
    cases.push_back({"name asked in mixed case", none, "ivEngine.Dll", 1, 1, 1});
    cases.push_back({"prefix of a name", none, "SCRIPT.CO"});
    cases.push_back({"name longer than the stored one", none, "SCRIPT.CODX"});
    cases.push_back({"empty name", none, ""});
    cases.push_back({"31-byte name", none, NAME_31, 1, 1, 2});
    cases.push_back(
        {"31-byte name in lower case", none, "abcdefghijklmnopqrstuvwxyz01234", 1, 1, 2});
    cases.push_back({"non-ASCII byte compared exactly", none, "\xE4x.txt"});
    cases.push_back({"non-ASCII byte, ASCII letters folded", none, "\xC4x.txt", 1, 1, 3});
    cases.push_back({"duplicate names: the first wins", none, "DUP.TXT", 1, 1, 4});
    cases.push_back({"name field without NUL",
                     [&](Bytes& p) {
                         std::memset(p.data() + layout.records[2] + RECORD_NAME_OFFSET, 'A',
                                     RECORD_NAME_FIELD_SIZE);
                     },
                     std::string(RECORD_NAME_FIELD_SIZE, 'A')});
    cases.push_back({"name field without NUL, asked by 31 bytes",
                     [&](Bytes& p) {
                         std::memset(p.data() + layout.records[2] + RECORD_NAME_OFFSET, 'A',
                                     RECORD_NAME_FIELD_SIZE);
                     },
                     std::string(RECORD_NAME_FIELD_SIZE - 1, 'A')});
    cases.push_back({"name field without NUL is skipped",
                     [&](Bytes& p) {
                         std::memset(p.data() + layout.records[2] + RECORD_NAME_OFFSET, 'A',
                                     RECORD_NAME_FIELD_SIZE);
                     },
                     "dup.txt", 1, 1, 4});
    cases.push_back({"bytes after the NUL in a name field",
                     [&](Bytes& p) {
                         const std::size_t at = layout.records[1] + RECORD_NAME_OFFSET;
                         std::memset(p.data() + at + 13, 'Z', RECORD_NAME_FIELD_SIZE - 13);
                     },
                     "IVENGINE.DLL", 1, 1, 1});
    cases.push_back({"first-record offset 2^31", setFirstOffset(0x80000000u), "SCRIPT.COD"});
    cases.push_back({"first-record offset 2^32 - 1", setFirstOffset(0xFFFFFFFFu), "SCRIPT.COD"});
    cases.push_back({"first-record offset past the end",
                     setFirstOffset(static_cast<std::uint32_t>(base.size() + 1000)), "SCRIPT.COD"});
    cases.push_back({"segment length 2^31 is no skip",
                     [&](Bytes& p) {
                         Write32le(p.data() + layout.records[0] + RECORD_SEGMENT_LENGTH_OFFSET,
                                   0x80000000u);
                     },
                     "IVENGINE.DLL"});
    cases.push_back({"extra bytes before the first record",
                     [&](Bytes& p) {
                         std::uint8_t offset[4];
                         Write32le(offset, static_cast<std::uint32_t>(layout.records[0] + 123));
                         std::copy(offset, offset + 4,
                                   p.begin() + static_cast<std::ptrdiff_t>(
                                                   layout.trailer + TRAILER_FIRST_RECORD_OFFSET));
                         p.insert(p.begin() + static_cast<std::ptrdiff_t>(layout.records[0]), 123,
                                  0xEE);
                     },
                     "DUP.TXT", 1, 1, 4});
    cases.push_back({"extra bytes after the last record",
                     [&](Bytes& p) {
                         p.insert(p.begin() + static_cast<std::ptrdiff_t>(layout.trailer), 77,
                                  0xEE);
                     },
                     "DUP.TXT", 1, 1, 4});
    cases.push_back({"header size 0: the trailer ends the file",
                     [](Bytes& p) { p.resize(p.size() - PAYLOAD_HEADER_SIZE); }, "IVENGINE.DLL", 1,
                     1, 1, 0, true});
    cases.push_back({"header size 264 with a null buffer", none, "SCRIPT.COD", 0, 0, -1,
                     static_cast<int>(PAYLOAD_HEADER_SIZE), true});
    cases.push_back({"file shorter than trailer and header, magic at its start",
                     [&](Bytes& p) {
                         // Read from its start, the file would show the magic.
                         p.erase(p.begin(),
                                 p.begin() + static_cast<std::ptrdiff_t>(layout.trailer));
                         p.pop_back();
                     },
                     "SCRIPT.COD", 0});

    for (std::size_t index = 0; index < cases.size(); ++index) {
        const Case& c = cases[index];
        SCOPED_TRACE(c.what);
        Bytes package = base;
        c.patch(package);
        WriteContainer(package);
        const auto headerSize = static_cast<std::size_t>(c.headerSize);
        const bool headerRead =
            !c.nullHeader && package.size() >= PAYLOAD_TRAILER_SIZE + headerSize;
        const Bytes lastBytes(package.end() - static_cast<std::ptrdiff_t>(headerSize),
                              package.end());

        Bytes header(headerSize, 0xCC);
        void* buffer = c.nullHeader ? nullptr : header.data();
        EXPECT_EQ(CheckPayload(container().c_str(), PAYLOAD_MAGIC, buffer, c.headerSize), c.check);
        if (headerRead) {
            EXPECT_EQ(header, lastBytes);
        }

        const fs::path out = outDir() / std::to_string(index);
        fs::create_directory(out);
        std::fill(header.begin(), header.end(), 0xCC);
        EXPECT_EQ(ExtractRecord(container().c_str(), c.asked.c_str(), AsDirectory(out).c_str(),
                                PAYLOAD_MAGIC, buffer, c.headerSize),
                  c.extract);
        if (headerRead) {
            EXPECT_EQ(header, lastBytes);
        }
        if (c.found >= 0) {
            const PayloadRecord& record = records[static_cast<std::size_t>(c.found)];
            EXPECT_EQ(Entries(out).size(), 1u);
            EXPECT_EQ(ReadByAnsiName(AsDirectory(out) + record.name), record.content);
        } else {
            EXPECT_TRUE(Entries(out).empty());
        }
    }
}

TEST_F(PayloadReaderTest, DirectoryDestinationUsesTheStoredNameAndCase) {
    WriteContainer(Package(StandardRecords()));
    ASSERT_EQ(Extract("ivengine.dll", AsDirectory(outDir())), 1);
    EXPECT_EQ(Entries(outDir()), std::set<std::string>{"IVENGINE.DLL"});
    EXPECT_EQ(ReadFileBytes(outDir() / "IVENGINE.DLL"), StandardRecords()[1].content);
}

TEST_F(PayloadReaderTest, FileDestinationIsThePathItself) {
    WriteContainer(Package(StandardRecords()));
    const fs::path target = outDir() / "main.cod";
    ASSERT_EQ(Extract("SCRIPT.COD", target.string()), 1);
    EXPECT_EQ(Entries(outDir()), std::set<std::string>{"main.cod"});
    EXPECT_EQ(ReadFileBytes(target), StandardRecords()[0].content);

    // A second extraction replaces the file.
    WriteFileBytes(target, Bytes(20000, 0x11));
    ASSERT_EQ(Extract("DUP.TXT", target.string()), 1);
    EXPECT_EQ(ReadFileBytes(target), StandardRecords()[4].content);
    EXPECT_EQ(Entries(outDir()), std::set<std::string>{"main.cod"});
}

TEST_F(PayloadReaderTest, DestinationsThatCannotBeWritten) {
    WriteContainer(Package(StandardRecords()));
    EXPECT_EQ(Extract("SCRIPT.COD", ""), 0);
    EXPECT_EQ(Extract("SCRIPT.COD", AsDirectory(outDir() / "missing")), 0);
    EXPECT_EQ(Extract("SCRIPT.COD", (outDir() / "missing" / "main.cod").string()), 0);
    // A directory in the destination's place is not replaced.
    fs::create_directory(outDir() / "SCRIPT.COD");
    EXPECT_EQ(Extract("SCRIPT.COD", AsDirectory(outDir())), 0);
    EXPECT_EQ(Entries(outDir()), std::set<std::string>{"SCRIPT.COD"});
    EXPECT_TRUE(fs::is_directory(outDir() / "SCRIPT.COD"));
}

TEST_F(PayloadReaderTest, EmptyRecordGivesAnEmptyTimeStampedFile) {
    WriteContainer(Package({{"EMPTY.TXT", 1234567890, {}}}));
    ASSERT_EQ(Extract("EMPTY.TXT", AsDirectory(outDir())), 1);
    EXPECT_EQ(fs::file_size(outDir() / "EMPTY.TXT"), 0u);
    EXPECT_EQ(LastWriteSeconds(outDir() / "EMPTY.TXT"), 1234567890);
}

// Integrity failures: the old content of an existing destination survives and no temporary
// file is left.
TEST_F(PayloadReaderTest, DamagedSegmentLeavesTheDestinationAsItWas) {
    const std::vector<PayloadRecord> records = {
        {"SCRIPT.COD", 1000000001, testing_support::TextContent(30000, 5)}};
    const Bytes base = Package(records);
    const std::size_t segmentAt = LayoutOf(base).records[0] + RECORD_HEADER_SIZE;
    const std::size_t tailAt = LayoutOf(base).trailer - SEGMENT_TAIL_SIZE;
    struct Case {
        const char* what;
        std::function<void(Bytes&)> patch;
    };
    const Case cases[] = {
        {"CRC-32 differs", [&](Bytes& p) { p[tailAt + 1] ^= 0x04; }},
        {"tail size off by one", [&](Bytes& p) { p[tailAt + 4] ^= 0x01; }},
        {"corrupt deflate data", [&](Bytes& p) { p[segmentAt + SEGMENT_PREFIX_SIZE] = 0x07; }},
        {"stored length ends inside the data",
         [&](Bytes& p) { Write32le(p.data() + segmentAt, 100); }},
    };
    const Bytes oldContent(5000, 0x33);
    const fs::path target = outDir() / "main.cod";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes package = base;
        c.patch(package);
        WriteContainer(package);
        fs::remove(target);
        EXPECT_EQ(Extract("SCRIPT.COD", target.string()), 0);
        EXPECT_TRUE(Entries(outDir()).empty());

        WriteFileBytes(target, oldContent);
        EXPECT_EQ(Extract("SCRIPT.COD", target.string()), 0);
        EXPECT_EQ(ReadFileBytes(target), oldContent);
        EXPECT_EQ(Entries(outDir()), std::set<std::string>{"main.cod"});
    }
}

TEST_F(PayloadReaderTest, ReadOnlyDestinationIsNotReplaced) {
    WriteContainer(Package(StandardRecords()));
    const fs::path target = outDir() / "IVENGINE.DLL";
    const Bytes oldContent(3000, 0x44);
    WriteFileBytes(target, oldContent);
    // Remove every write bit: a root process would otherwise still pass the system's check.
    fs::permissions(target,
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_EQ(Extract("IVENGINE.DLL", AsDirectory(outDir())), 0);
    fs::permissions(target, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(ReadFileBytes(target), oldContent);
    EXPECT_EQ(Entries(outDir()), std::set<std::string>{"IVENGINE.DLL"});
}

TEST_F(PayloadReaderTest, TimeStampBecomesTheLastModifiedTime) {
    const std::uint32_t stamps[] = {1, 1000000000, 0x7FFFFFFF, 0x80000010u, 0xFFFFFFFFu};
    for (std::uint32_t stamp : stamps) {
        SCOPED_TRACE(stamp);
        WriteContainer(Package({{"SCRIPT.COD", stamp, testing_support::TextContent(5000, 6)}}));
        const fs::path target = outDir() / "SCRIPT.COD";
        ASSERT_EQ(Extract("SCRIPT.COD", AsDirectory(outDir())), 1);
        EXPECT_EQ(LastWriteSeconds(target), static_cast<std::int64_t>(stamp));
        FileStatus status;
        ASSERT_TRUE(GetFileStatus(target.string().c_str(), status));
        EXPECT_EQ(status.lastModifiedTime, static_cast<std::int64_t>(stamp));
        // No attributes: not even the archive mark the system gives a new file.
        EXPECT_EQ(AttributesShown(status), 0);
    }
}

TEST_F(PayloadReaderTest, TimeStampZeroKeepsTheTimeOfWriting) {
    WriteContainer(Package({{"SCRIPT.COD", 0, testing_support::TextContent(5000, 7)}}));
    const std::int64_t before = std::time(nullptr);
    ASSERT_EQ(Extract("SCRIPT.COD", AsDirectory(outDir())), 1);
    const std::int64_t after = std::time(nullptr);
    const std::int64_t written = LastWriteSeconds(outDir() / "SCRIPT.COD");
    // File system clocks may round to a coarser step than one second.
    EXPECT_GE(written, before - 2);
    EXPECT_LE(written, after + 2);
    FileStatus status;
    ASSERT_TRUE(GetFileStatus((outDir() / "SCRIPT.COD").string().c_str(), status));
    EXPECT_EQ(AttributesShown(status), 0);
}

TEST_F(PayloadReaderTest, ContainerThatCannotBeRead) {
    Bytes header(PAYLOAD_HEADER_SIZE);
    const std::string missing = (inDir() / "missing.exe").string();
    const std::string directory = inDir().string();
    for (const std::string& path : {missing, directory}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(CheckPayload(path.c_str(), PAYLOAD_MAGIC, header.data(),
                               static_cast<int>(header.size())),
                  0);
        EXPECT_EQ(ExtractRecord(path.c_str(), "SCRIPT.COD", AsDirectory(outDir()).c_str(),
                                PAYLOAD_MAGIC, header.data(), static_cast<int>(header.size())),
                  0);
    }
    EXPECT_TRUE(Entries(outDir()).empty());
}

#if defined(_WIN32)
// Windows: a file held open without delete sharing (as a loaded library is) cannot be replaced.
TEST_F(PayloadReaderTest, DestinationInUseIsNotReplaced) {
    WriteContainer(Package(StandardRecords()));
    const fs::path target = outDir() / "IVENGINE.DLL";
    const Bytes oldContent(3000, 0x55);
    WriteFileBytes(target, oldContent);
    std::FILE* held = std::fopen(target.string().c_str(), "rb");
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(Extract("IVENGINE.DLL", AsDirectory(outDir())), 0);
    std::fclose(held);
    EXPECT_EQ(ReadFileBytes(target), oldContent);
    EXPECT_EQ(Entries(outDir()), std::set<std::string>{"IVENGINE.DLL"});
}
#else
// A file size limit makes the system refuse a write part-way, as a full disk would. The limit
// applies to the whole process, so the extraction runs in a child.
TEST_F(PayloadReaderTest, ShortWriteFailsAndLeavesTheDestinationAsItWas) {
    struct Case {
        const char* what;
        std::size_t contentSize;
        rlim_t limit;
        int expected;
    };
    const Case cases[] = {
        {"refused during the copy", 200000, 50000, 0},
        {"refused when the close flushes", 3000, 1000, 0},
        {"within the limit", 3000, 100000, 1},
    };
    const Bytes oldContent(500, 0x66);
    const fs::path target = outDir() / "main.cod";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes content = testing_support::RandomContent(c.contentSize, 8);
        WriteContainer(Package({{"SCRIPT.COD", 1000000000, content}}));
        WriteFileBytes(target, oldContent);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{c.limit, c.limit};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
                _exit(99);
            }
            _exit(Extract("SCRIPT.COD", target.string()));
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.expected);
        EXPECT_EQ(ReadFileBytes(target), c.expected == 1 ? content : oldContent);
        EXPECT_EQ(Entries(outDir()), std::set<std::string>{"main.cod"});
    }
}
#endif

}  // namespace
