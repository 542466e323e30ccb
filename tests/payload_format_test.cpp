#include "payload_format.h"

#include <gtest/gtest.h>

#include <cstring>

#include "payload_writer.h"
#include "segment_stream.h"
#include "test_support.h"

namespace {

using testing_support::Bytes;

TEST(PayloadFormat, RecordsEncodeToTheDocumentedBytes) {
    PayloadTrailer trailer;
    std::memcpy(trailer.magic.data(), "ILVARC\x7F\x80", 8);
    trailer.firstRecordOffset = 0x12345678;
    trailer.recordCount = -2;
    Bytes bytes(PAYLOAD_TRAILER_SIZE);
    EncodeTrailer(trailer, bytes.data());
    const Bytes expected = {'I',  'L',  'V',  'A',  'R',  'C',  0x7F,
                            0x80, 0x78, 0x56, 0x34, 0x12, 0xFE, 0xFF};
    EXPECT_EQ(bytes, expected);
    const PayloadTrailer back = DecodeTrailer(bytes.data());
    EXPECT_EQ(back.magic, trailer.magic);
    EXPECT_EQ(back.firstRecordOffset, 0x12345678u);
    EXPECT_EQ(back.recordCount, -2);

    RecordHeader record;
    std::memcpy(record.tag.data(), "FILE", 4);
    record.segmentLength = 0x01020304;
    record.timeStamp = 0xA0B0C0D0;
    ASSERT_TRUE(SetFieldText(record.name.data(), record.name.size(), "SCRIPT.COD"));
    Bytes recordBytes(RECORD_HEADER_SIZE);
    EncodeRecordHeader(record, recordBytes.data());
    EXPECT_EQ(
        std::memcmp(recordBytes.data(), "FILE\x04\x03\x02\x01\xD0\xC0\xB0\xA0SCRIPT.COD\0", 23), 0);
    const RecordHeader recordBack = DecodeRecordHeader(recordBytes.data());
    EXPECT_EQ(recordBack.segmentLength, record.segmentLength);
    EXPECT_EQ(recordBack.timeStamp, record.timeStamp);
    EXPECT_EQ(recordBack.name, record.name);

    PayloadHeader header;
    header.engineVersion = {1, 2, 3, 0xFFFF};
    ASSERT_TRUE(SetFieldText(header.scriptName.data(), header.scriptName.size(), "RUN.COD"));
    Bytes headerBytes(PAYLOAD_HEADER_SIZE);
    EncodeHeader(header, headerBytes.data());
    EXPECT_EQ(std::memcmp(headerBytes.data(), "\1\0\2\0\3\0\xFF\xFFRUN.COD\0", 16), 0);
    EXPECT_EQ(DecodeHeader(headerBytes.data()).engineVersion, header.engineVersion);
}

TEST(PayloadFormat, FieldText) {
    struct Case {
        std::string field;  // padded to 8 bytes
        bool hasText;
        std::string text;
    };
    const Case cases[] = {
        {std::string("ABC\0\x01\x02\x03\x04", 8), true, "ABC"},
        {std::string(8, '\0'), true, ""},
        {std::string("ABCDEFG\0", 8), true, "ABCDEFG"},
        {std::string("ABCDEFGH", 8), false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        std::string_view text;
        EXPECT_EQ(FieldText(c.field.data(), 8, text), c.hasText);
        if (c.hasText) {
            EXPECT_EQ(text, c.text);
        }
    }
    char field[8];
    EXPECT_TRUE(SetFieldText(field, sizeof field, "ABCDEFG"));
    EXPECT_FALSE(SetFieldText(field, sizeof field, "ABCDEFGH"));
    EXPECT_FALSE(SetFieldText(field, sizeof field, std::string_view("A\0B", 3)));
}

// The worked layout: a launcher of P bytes and two records with segments of A and B bytes.
TEST(PayloadWriter, LaysOutTheRecordsTrailerAndHeader) {
    const Bytes launcher = testing_support::RandomContent(1234);
    const std::vector<PayloadRecord> records = {
        {"SCRIPT.COD", 1700000000, testing_support::TextContent(5000)},
        {"IVENGINE.DLL", 0, testing_support::RandomContent(3000, 2)},
    };
    PayloadHeader header;
    header.engineVersion = {3, 2, 0, 1};
    ASSERT_TRUE(SetFieldText(header.scriptName.data(), header.scriptName.size(), "RUN.COD"));
    const auto package = BuildPackage(launcher, header, records);
    ASSERT_TRUE(package.has_value());
    const Bytes& file = *package;
    const std::size_t p = launcher.size();
    ASSERT_TRUE(std::equal(launcher.begin(), launcher.end(), file.begin()));

    const RecordHeader first = DecodeRecordHeader(file.data() + p);
    const std::size_t a = first.segmentLength;
    const RecordHeader second = DecodeRecordHeader(file.data() + p + 44 + a);
    const std::size_t b = second.segmentLength;
    EXPECT_EQ(std::string(first.name.data()), "SCRIPT.COD");
    EXPECT_EQ(first.timeStamp, 1700000000u);
    EXPECT_EQ(std::string(second.name.data()), "IVENGINE.DLL");
    ASSERT_EQ(file.size(), p + 366 + a + b);

    const PayloadTrailer trailer = DecodeTrailer(file.data() + p + 88 + a + b);
    EXPECT_EQ(std::memcmp(trailer.magic.data(), PAYLOAD_MAGIC, PAYLOAD_MAGIC_LENGTH), 0);
    EXPECT_EQ(trailer.firstRecordOffset, p);
    EXPECT_EQ(trailer.recordCount, 2);
    const PayloadHeader headerBack = DecodeHeader(file.data() + p + 102 + a + b);
    EXPECT_EQ(headerBack.engineVersion, header.engineVersion);
    EXPECT_EQ(std::string(headerBack.scriptName.data()), "RUN.COD");

    // Each segment length is its stored length + 8, and prefix and tail sizes agree.
    for (std::size_t at : {p + 44, p + 88 + a}) {
        const RecordHeader& record = at == p + 44 ? first : second;
        const SegmentPrefix prefix = DecodeSegmentPrefix(file.data() + at);
        EXPECT_EQ(record.segmentLength, prefix.storedLength + 8);
        const SegmentTail tail =
            DecodeSegmentTail(file.data() + at + record.segmentLength - SEGMENT_TAIL_SIZE);
        EXPECT_EQ(prefix.size, tail.size);
        const Bytes& content = at == p + 44 ? records[0].content : records[1].content;
        EXPECT_EQ(tail.size, content.size());
        EXPECT_EQ(tail.crc, testing_support::Crc32(content));
    }
}

TEST(PayloadWriter, RefusesNamesThatDoNotFitTheirFields) {
    PayloadHeader header;
    const Bytes launcher(10);
    EXPECT_FALSE(BuildPackage(launcher, header, {{std::string(32, 'N'), 0, {}}}).has_value());
    EXPECT_TRUE(BuildPackage(launcher, header, {{std::string(31, 'N'), 0, {}}}).has_value());
    header.scriptName.fill('S');
    EXPECT_FALSE(BuildPackage(launcher, header, {}).has_value());
}

}  // namespace
