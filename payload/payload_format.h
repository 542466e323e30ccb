// Byte layout of the payload appended to a packaged program. Every record is decoded and
// encoded field by field, little-endian, so the same code is right on every host.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

inline constexpr char PAYLOAD_MAGIC[] = "ILVARC";
inline constexpr std::size_t PAYLOAD_MAGIC_LENGTH = 6;
inline constexpr char RECORD_TAG[] = "FILE";
inline constexpr std::size_t RECORD_TAG_LENGTH = 4;

// PayloadTrailer: 14 bytes.
inline constexpr std::size_t TRAILER_MAGIC_OFFSET = 0;
inline constexpr std::size_t TRAILER_MAGIC_FIELD_SIZE = 8;
inline constexpr std::size_t TRAILER_FIRST_RECORD_OFFSET = 8;
inline constexpr std::size_t TRAILER_RECORD_COUNT_OFFSET = 12;
inline constexpr std::size_t PAYLOAD_TRAILER_SIZE = 14;

// EngineVersion: 8 bytes.
inline constexpr std::size_t ENGINE_VERSION_SIZE = 8;

// PayloadHeader: 264 bytes, the last bytes of the file.
inline constexpr std::size_t HEADER_ENGINE_VERSION_OFFSET = 0;
inline constexpr std::size_t HEADER_SCRIPT_NAME_OFFSET = 8;
inline constexpr std::size_t SCRIPT_NAME_FIELD_SIZE = 256;
inline constexpr std::size_t PAYLOAD_HEADER_SIZE = 264;

// RecordHeader: 44 bytes, followed by its segment.
inline constexpr std::size_t RECORD_TAG_OFFSET = 0;
inline constexpr std::size_t RECORD_SEGMENT_LENGTH_OFFSET = 4;
inline constexpr std::size_t RECORD_TIME_STAMP_OFFSET = 8;
inline constexpr std::size_t RECORD_NAME_OFFSET = 12;
inline constexpr std::size_t RECORD_NAME_FIELD_SIZE = 32;
inline constexpr std::size_t RECORD_HEADER_SIZE = 44;

// Segment: an 8-byte prefix, raw deflate data, an 8-byte tail.
inline constexpr std::size_t SEGMENT_PREFIX_SIZE = 8;
inline constexpr std::size_t SEGMENT_TAIL_SIZE = 8;

// Bytes between the trailer's start and the end of a file whose header block is this size.
inline constexpr std::size_t PAYLOAD_END_SIZE = PAYLOAD_TRAILER_SIZE + PAYLOAD_HEADER_SIZE;

static_assert(TRAILER_MAGIC_OFFSET + TRAILER_MAGIC_FIELD_SIZE == TRAILER_FIRST_RECORD_OFFSET);
static_assert(TRAILER_FIRST_RECORD_OFFSET + 4 == TRAILER_RECORD_COUNT_OFFSET);
static_assert(TRAILER_RECORD_COUNT_OFFSET + 2 == PAYLOAD_TRAILER_SIZE);
static_assert(PAYLOAD_MAGIC_LENGTH <= TRAILER_MAGIC_FIELD_SIZE);
static_assert(HEADER_ENGINE_VERSION_OFFSET + ENGINE_VERSION_SIZE == HEADER_SCRIPT_NAME_OFFSET);
static_assert(HEADER_SCRIPT_NAME_OFFSET + SCRIPT_NAME_FIELD_SIZE == PAYLOAD_HEADER_SIZE);
static_assert(RECORD_TAG_OFFSET + RECORD_TAG_LENGTH == RECORD_SEGMENT_LENGTH_OFFSET);
static_assert(RECORD_SEGMENT_LENGTH_OFFSET + 4 == RECORD_TIME_STAMP_OFFSET);
static_assert(RECORD_TIME_STAMP_OFFSET + 4 == RECORD_NAME_OFFSET);
static_assert(RECORD_NAME_OFFSET + RECORD_NAME_FIELD_SIZE == RECORD_HEADER_SIZE);
static_assert(PAYLOAD_END_SIZE == 278);

struct EngineVersion {
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t third = 0;
    std::uint16_t fourth = 0;

    friend bool operator==(const EngineVersion&, const EngineVersion&) = default;
};

struct PayloadTrailer {
    std::array<std::uint8_t, TRAILER_MAGIC_FIELD_SIZE> magic{};
    std::uint32_t firstRecordOffset = 0;
    std::int16_t recordCount = 0;
};

struct PayloadHeader {
    EngineVersion engineVersion;
    std::array<char, SCRIPT_NAME_FIELD_SIZE> scriptName{};
};

struct RecordHeader {
    std::array<char, RECORD_TAG_LENGTH> tag{};
    std::uint32_t segmentLength = 0;
    std::uint32_t timeStamp = 0;
    std::array<char, RECORD_NAME_FIELD_SIZE> name{};
};

struct SegmentPrefix {
    std::uint32_t storedLength = 0;
    std::uint32_t size = 0;
};

struct SegmentTail {
    std::uint32_t crc = 0;
    std::uint32_t size = 0;
};

inline std::uint16_t Read16le(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t Read32le(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void Write16le(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Write32le(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

EngineVersion DecodeEngineVersion(const std::uint8_t* bytes);
void EncodeEngineVersion(const EngineVersion& version, std::uint8_t* out);
PayloadTrailer DecodeTrailer(const std::uint8_t* bytes);
void EncodeTrailer(const PayloadTrailer& trailer, std::uint8_t* out);
PayloadHeader DecodeHeader(const std::uint8_t* bytes);
void EncodeHeader(const PayloadHeader& header, std::uint8_t* out);
RecordHeader DecodeRecordHeader(const std::uint8_t* bytes);
void EncodeRecordHeader(const RecordHeader& record, std::uint8_t* out);
SegmentPrefix DecodeSegmentPrefix(const std::uint8_t* bytes);
void EncodeSegmentPrefix(const SegmentPrefix& prefix, std::uint8_t* out);
SegmentTail DecodeSegmentTail(const std::uint8_t* bytes);
void EncodeSegmentTail(const SegmentTail& tail, std::uint8_t* out);

// The text of a fixed field up to its first NUL; false when the field holds no NUL.
bool FieldText(const char* field, std::size_t fieldSize, std::string_view& text);

// Record names match without regard to case for the ASCII letters only, never as a prefix.
bool RecordNamesEqual(std::string_view a, std::string_view b);

// Copies text into a field and pads with NULs; false when it does not fit with its NUL.
bool SetFieldText(char* field, std::size_t fieldSize, std::string_view text);
