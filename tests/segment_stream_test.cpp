#include "segment_stream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#if defined(_WIN32)
#include <io.h>
#define dup2 _dup2
#define fileno _fileno
#else
#include <unistd.h>
#endif
#include <memory>
#include <string>

#include "payload_format.h"
#include "payload_writer.h"
#include "test_support.h"

namespace {

using testing_support::AssembleSegment;
using testing_support::Bytes;
using testing_support::Crc32;
using testing_support::RawDeflate;
using testing_support::ScratchDir;

using FilePtr = std::unique_ptr<std::FILE, decltype(&std::fclose)>;

// What a caller sees reading a segment to its end in pieces of one length.
struct Outcome {
    Bytes data;
    int lastRead = 0;   // the read that ended the loop (0 or less)
    int laterRead = 0;  // one more read after that
    int close = 0;
    long positionAfterClose = 0;
};

class SegmentStreamTest : public ::testing::Test {
  protected:
    // Puts the segment into a file after some leading bytes, as in a package.
    FilePtr OpenSegmentFile(const Bytes& segment, const Bytes& after = {}) {
        Bytes file(leading_, 0xAA);
        file.insert(file.end(), segment.begin(), segment.end());
        file.insert(file.end(), after.begin(), after.end());
        const auto path = dir_ / "segment.bin";
        testing_support::WriteFileBytes(path, file);
        FilePtr fp(std::fopen(path.string().c_str(), "rb"), &std::fclose);
        EXPECT_NE(fp, nullptr);
        EXPECT_EQ(std::fseek(fp.get(), static_cast<long>(leading_), SEEK_SET), 0);
        return fp;
    }

    static Outcome ReadAll(std::FILE* file, unsigned pieceLength) {
        Outcome outcome;
        SegmentStream* stream = SegmentOpen(file);
        EXPECT_NE(stream, nullptr);
        Bytes piece(pieceLength + 1);
        for (int guard = 0; guard < 1 << 24; ++guard) {
            const int got = SegmentRead(stream, piece.data(), pieceLength);
            if (got <= 0) {
                outcome.lastRead = got;
                break;
            }
            EXPECT_LE(got, static_cast<int>(pieceLength));
            outcome.data.insert(outcome.data.end(), piece.begin(), piece.begin() + got);
        }
        outcome.laterRead = SegmentRead(stream, piece.data(), pieceLength);
        outcome.close = SegmentClose(stream);
        outcome.positionAfterClose = std::ftell(file);
        return outcome;
    }

    ScratchDir dir_;
    std::size_t leading_ = 100;
};

TEST_F(SegmentStreamTest, ReadsWellFormedSegmentsInPiecesOfAnyLength) {
    struct Case {
        const char* what;
        Bytes content;
        int level;
        int strategy;
    };
    const Case cases[] = {
        {"text, level 6", testing_support::TextContent(100000), 6, Z_DEFAULT_STRATEGY},
        {"text, level 1", testing_support::TextContent(70000, 2), 1, Z_DEFAULT_STRATEGY},
        {"text, level 9, filtered", testing_support::TextContent(50000, 3), 9, Z_FILTERED},
        {"text, huffman only", testing_support::TextContent(30000, 4), 6, Z_HUFFMAN_ONLY},
        {"text, rle", testing_support::TextContent(30000, 5), 6, Z_RLE},
        {"text, fixed codes", testing_support::TextContent(30000, 6), 6, Z_FIXED},
        {"random, level 0 (stored blocks)", testing_support::RandomContent(70000), 0,
         Z_DEFAULT_STRATEGY},
        {"random, level 9", testing_support::RandomContent(20000, 7), 9, Z_DEFAULT_STRATEGY},
        {"one byte", Bytes{0x42}, 6, Z_DEFAULT_STRATEGY},
        {"empty", Bytes{}, 6, Z_DEFAULT_STRATEGY},
        {"exact multiple of 4096", testing_support::TextContent(3 * 4096, 8), 6,
         Z_DEFAULT_STRATEGY},
    };
    const unsigned pieceLengths[] = {1, 7, 4096, 4096 * 3, 65536};
    for (const Case& c : cases) {
        const Bytes segment =
            AssembleSegment(RawDeflate(c.content, c.level, c.strategy), Crc32(c.content),
                            static_cast<std::uint32_t>(c.content.size()));
        for (unsigned length : pieceLengths) {
            SCOPED_TRACE(std::string(c.what) + ", pieces of " + std::to_string(length));
            FilePtr file = OpenSegmentFile(segment, Bytes(50, 0x55));
            const Outcome outcome = ReadAll(file.get(), length);
            EXPECT_EQ(outcome.data, c.content);
            EXPECT_EQ(outcome.lastRead, 0);
            EXPECT_EQ(outcome.laterRead, 0);
            EXPECT_EQ(outcome.close, Z_OK);
            // The budget stops the reads exactly at the segment's end.
            EXPECT_EQ(outcome.positionAfterClose, static_cast<long>(leading_ + segment.size()));
        }
    }
}

TEST_F(SegmentStreamTest, ReadsSegmentsOfOurWriter) {
    const Bytes content = testing_support::TextContent(200000, 9);
    for (int level : {1, 6, 9}) {
        SCOPED_TRACE(level);
        const Bytes segment = BuildSegment(content.data(), content.size(), {level, 0});
        FilePtr file = OpenSegmentFile(segment);
        const Outcome outcome = ReadAll(file.get(), 4096);
        EXPECT_EQ(outcome.data, content);
        EXPECT_EQ(outcome.close, Z_OK);
    }
}

// A deflate stream written by hand: one final stored block, so the decoder is the only zlib
// code involved.
TEST_F(SegmentStreamTest, ReadsHandWrittenStoredBlock) {
    const Bytes content = {'S', 'C', 'R', 'I', 'P', 'T'};
    const Bytes deflateData = {0x01, 0x06, 0x00, 0xF9, 0xFF, 'S', 'C', 'R', 'I', 'P', 'T'};
    FilePtr file = OpenSegmentFile(AssembleSegment(deflateData, Crc32(content), 6));
    const Outcome outcome = ReadAll(file.get(), 3);
    EXPECT_EQ(outcome.data, content);
    EXPECT_EQ(outcome.close, Z_OK);
}

TEST_F(SegmentStreamTest, DamagedSegmentsAsTheFailureTableGives) {
    const Bytes content = testing_support::TextContent(20000, 11);
    const Bytes deflateData = RawDeflate(content, 6, Z_DEFAULT_STRATEGY);
    const auto size = static_cast<std::uint32_t>(content.size());
    const Bytes good = AssembleSegment(deflateData, Crc32(content), size);
    const std::size_t tailAt = SEGMENT_PREFIX_SIZE + deflateData.size();

    struct Case {
        const char* what;
        Bytes segment;
        Bytes after;        // bytes in the file behind the segment
        bool wholeContent;  // every byte delivered before the stream stopped
        int lastRead;       // the first read that returns 0 or less
        int laterRead;
        std::vector<int> close;  // accepted close results
    };
    auto withByte = [&](std::size_t at, std::uint8_t xorMask) {
        Bytes s = good;
        s[at] ^= xorMask;
        return s;
    };
    auto cut = [&](std::size_t length) {
        return Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
    };
    auto withStoredLength = [&](std::uint32_t storedLength) {
        Bytes s = good;
        Write32le(s.data(), storedLength);
        return s;
    };
    Bytes sizeOffByOne = good;
    Write32le(sizeOffByOne.data() + tailAt + 4, size + 1);
    Bytes corrupt = good;
    corrupt[SEGMENT_PREFIX_SIZE] = 0x07;  // final block of the reserved type 3
    Bytes prefixSizeWrong = good;
    Write32le(prefixSizeWrong.data() + 4, 12345);

    const Case cases[] = {
        {"flipped CRC bit", withByte(tailAt + 2, 0x10), {}, true, -1, -1, {Z_DATA_ERROR}},
        {"tail size off by one", sizeOffByOne, {}, true, -1, -1, {Z_DATA_ERROR}},
        {"wrong size in the prefix", prefixSizeWrong, {}, true, 0, 0, {Z_OK}},
        {"stored length 0", withStoredLength(0), {}, false, 0, 0, {Z_BUF_ERROR}},
        {"stored length too large",
         withStoredLength(static_cast<std::uint32_t>(good.size() + 500)),
         Bytes(1000, 0x99),
         true,
         0,
         0,
         {Z_OK}},
        {"stored length ends inside the data",
         withStoredLength(static_cast<std::uint32_t>(deflateData.size() / 2)),
         Bytes(1000, 0x99),
         false,
         0,
         0,
         {Z_BUF_ERROR}},
        {"file cut inside the compressed data",
         cut(SEGMENT_PREFIX_SIZE + deflateData.size() / 2),
         {},
         false,
         0,
         0,
         {Z_BUF_ERROR}},
        {"file cut inside the tail", cut(tailAt + 3), {}, true, -1, -1, {Z_DATA_ERROR}},
        {"file cut after the first tail byte", cut(tailAt + 1), {}, true, -1, -1, {Z_DATA_ERROR}},
        {"file cut before the last tail byte", cut(tailAt + 7), {}, true, -1, -1, {Z_DATA_ERROR}},
        {"file cut where the tail begins",
         cut(tailAt),
         {},
         true,
         -1,
         -1,
         {Z_DATA_ERROR, Z_BUF_ERROR}},
        {"corrupt deflate data", corrupt, {}, false, 0, -1, {Z_DATA_ERROR}},
        {"file cut inside the prefix", cut(5), {}, false, 0, 0, {Z_BUF_ERROR}},
    };
    for (const Case& c : cases) {
        for (unsigned length : {1u, 4096u}) {
            SCOPED_TRACE(std::string(c.what) + ", pieces of " + std::to_string(length));
            FilePtr file = OpenSegmentFile(c.segment, c.after);
            const Outcome outcome = ReadAll(file.get(), length);
            if (c.wholeContent) {
                EXPECT_EQ(outcome.data, content);
            } else {
                EXPECT_LT(outcome.data.size(), content.size());
                EXPECT_TRUE(std::equal(outcome.data.begin(), outcome.data.end(), content.begin()));
            }
            if (c.close.size() == 1) {
                EXPECT_EQ(outcome.lastRead, c.lastRead);
                EXPECT_EQ(outcome.laterRead, c.laterRead);
            }
            EXPECT_NE(std::find(c.close.begin(), c.close.end(), outcome.close), c.close.end())
                << "close returned " << outcome.close;
        }
    }
}

// The read that fills the buffer may not see the end: here the first refill holds exactly a
// non-final stored block, and the final empty block lies in the next refill. The next read
// verifies the tail and produces nothing; a mismatch shows only in what follows.
TEST_F(SegmentStreamTest, EndMetByAReadThatProducesNothing) {
    const unsigned pieceLength = SEGMENT_BUFFER_SIZE - 5;
    const Bytes content = testing_support::RandomContent(pieceLength, 12);
    Bytes deflateData = {0x00, static_cast<std::uint8_t>(pieceLength & 0xFF),
                         static_cast<std::uint8_t>(pieceLength >> 8),
                         static_cast<std::uint8_t>(~pieceLength & 0xFF),
                         static_cast<std::uint8_t>((~pieceLength >> 8) & 0xFF)};
    deflateData.insert(deflateData.end(), content.begin(), content.end());
    deflateData.insert(deflateData.end(), {0x03, 0x00});  // final empty block, fixed codes

    for (const std::uint32_t crcMask : {0u, 1u}) {
        SCOPED_TRACE(crcMask == 0 ? "intact" : "wrong CRC");
        FilePtr file =
            OpenSegmentFile(AssembleSegment(deflateData, Crc32(content) ^ crcMask, pieceLength));
        SegmentStream* stream = SegmentOpen(file.get());
        ASSERT_NE(stream, nullptr);
        Bytes piece(pieceLength);
        ASSERT_EQ(SegmentRead(stream, piece.data(), pieceLength), static_cast<int>(pieceLength));
        EXPECT_EQ(piece, content);
        EXPECT_EQ(SegmentRead(stream, piece.data(), pieceLength), 0);
        EXPECT_EQ(SegmentRead(stream, piece.data(), pieceLength), crcMask == 0 ? 0 : -1);
        EXPECT_EQ(SegmentClose(stream), crcMask == 0 ? Z_OK : Z_DATA_ERROR);
    }
}

TEST_F(SegmentStreamTest, ZeroLengthReadsChangeNothing) {
    const Bytes content = testing_support::TextContent(5000, 13);
    const Bytes segment =
        AssembleSegment(RawDeflate(content, 6, Z_DEFAULT_STRATEGY), Crc32(content),
                        static_cast<std::uint32_t>(content.size()));
    FilePtr file = OpenSegmentFile(segment);
    SegmentStream* stream = SegmentOpen(file.get());
    ASSERT_NE(stream, nullptr);
    const long afterPrefix = std::ftell(file.get());
    EXPECT_EQ(afterPrefix, static_cast<long>(leading_ + SEGMENT_PREFIX_SIZE));
    std::uint8_t unused = 0;
    EXPECT_EQ(SegmentRead(stream, &unused, 0), 0);
    EXPECT_EQ(std::ftell(file.get()), afterPrefix);
    Bytes data(content.size() + 10);
    EXPECT_EQ(SegmentRead(stream, data.data(), static_cast<unsigned>(data.size())),
              static_cast<int>(content.size()));
    EXPECT_EQ(SegmentRead(stream, &unused, 0), 0);
    EXPECT_EQ(SegmentClose(stream), Z_OK);
}

TEST_F(SegmentStreamTest, ClosingEarlyMakesNoComparisonAndLeavesTheFileWhereReadingStopped) {
    const Bytes content = testing_support::RandomContent(50000, 14);
    // A wrong CRC that is never reached.
    const Bytes segment =
        AssembleSegment(RawDeflate(content, 0, Z_DEFAULT_STRATEGY), Crc32(content) ^ 0xFFFF,
                        static_cast<std::uint32_t>(content.size()));
    FilePtr file = OpenSegmentFile(segment);
    SegmentStream* stream = SegmentOpen(file.get());
    ASSERT_NE(stream, nullptr);
    Bytes piece(100);
    ASSERT_EQ(SegmentRead(stream, piece.data(), 100), 100);
    EXPECT_TRUE(std::equal(piece.begin(), piece.end(), content.begin()));
    EXPECT_EQ(SegmentClose(stream), Z_OK);
    // One refill of 4096 bytes was made; the file stays open for its owner.
    EXPECT_EQ(std::ftell(file.get()), static_cast<long>(leading_ + SEGMENT_PREFIX_SIZE + 4096));
    std::uint8_t next = 0;
    EXPECT_EQ(std::fread(&next, 1, 1, file.get()), 1u);
}

TEST(SegmentStreamArguments, MissingFileOrStream) {
    EXPECT_EQ(SegmentOpen(nullptr), nullptr);
    std::uint8_t buffer[4];
    EXPECT_EQ(SegmentRead(nullptr, buffer, sizeof buffer), Z_STREAM_ERROR);
    EXPECT_EQ(SegmentClose(nullptr), Z_STREAM_ERROR);
}

// A file whose reads fail: its descriptor is replaced by one open for writing only, so every
// read sets the stream's error indicator.
TEST_F(SegmentStreamTest, ReadErrorFromTheFile) {
    const Bytes content = testing_support::TextContent(5000, 16);
    FilePtr file =
        OpenSegmentFile(AssembleSegment(RawDeflate(content, 6, Z_DEFAULT_STRATEGY), Crc32(content),
                                        static_cast<std::uint32_t>(content.size())));
    FilePtr writeOnly(std::fopen((dir_ / "write-only.bin").string().c_str(), "wb"), &std::fclose);
    ASSERT_NE(writeOnly, nullptr);
    ASSERT_GE(dup2(fileno(writeOnly.get()), fileno(file.get())), 0);
    const Outcome outcome = ReadAll(file.get(), 4096);
    EXPECT_TRUE(outcome.data.empty());
    EXPECT_EQ(outcome.lastRead, 0);
    EXPECT_EQ(outcome.laterRead, -1);
    EXPECT_EQ(outcome.close, Z_ERRNO);
}

}  // namespace

#if defined(__GLIBC__)
namespace {

// A file that delivers its first bytes and then fails every read, as a disk error would.
struct FailingSource {
    Bytes bytes;
    std::size_t position = 0;
    std::size_t failAt = 0;
};

ssize_t FailingRead(void* cookie, char* buffer, std::size_t size) {
    auto* source = static_cast<FailingSource*>(cookie);
    if (source->position >= source->failAt) {
        errno = EIO;
        return -1;
    }
    const std::size_t take = std::min(size, source->failAt - source->position);
    std::copy_n(source->bytes.begin() + static_cast<std::ptrdiff_t>(source->position), take,
                buffer);
    source->position += take;
    return static_cast<ssize_t>(take);
}

TEST(SegmentStreamReadErrors, ErrorDuringDataAndDuringTail) {
    const Bytes content = testing_support::RandomContent(30000, 15);
    const Bytes deflateData = RawDeflate(content, 0, Z_DEFAULT_STRATEGY);
    const Bytes segment =
        AssembleSegment(deflateData, Crc32(content), static_cast<std::uint32_t>(content.size()));
    const std::size_t tailAt = SEGMENT_PREFIX_SIZE + deflateData.size();
    struct Case {
        const char* what;
        std::size_t failAt;
        int close;
    };
    const Case cases[] = {
        {"inside the compressed data", SEGMENT_PREFIX_SIZE + 5000, Z_ERRNO},
        {"inside the tail", tailAt + 3, Z_DATA_ERROR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FailingSource source{segment, 0, c.failAt};
        cookie_io_functions_t io{FailingRead, nullptr, nullptr, nullptr};
        FilePtr file(fopencookie(&source, "rb", io), &std::fclose);
        ASSERT_NE(file, nullptr);
        // Unbuffered, so the stream's own requests meet the failure where it lies.
        std::setvbuf(file.get(), nullptr, _IONBF, 0);
        SegmentStream* stream = SegmentOpen(file.get());
        ASSERT_NE(stream, nullptr);
        Bytes piece(4096);
        Bytes data;
        int got = 0;
        while ((got = SegmentRead(stream, piece.data(), 4096)) > 0) {
            data.insert(data.end(), piece.begin(), piece.begin() + got);
        }
        EXPECT_TRUE(std::equal(data.begin(), data.end(), content.begin()));
        EXPECT_EQ(SegmentRead(stream, piece.data(), 4096), -1);
        EXPECT_EQ(SegmentClose(stream), c.close);
    }
}

}  // namespace
#endif
