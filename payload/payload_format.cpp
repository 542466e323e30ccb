#include "payload_format.h"

#include <algorithm>
#include <cstring>

EngineVersion DecodeEngineVersion(const std::uint8_t* bytes) {
    return EngineVersion{Read16le(bytes), Read16le(bytes + 2), Read16le(bytes + 4),
                         Read16le(bytes + 6)};
}

void EncodeEngineVersion(const EngineVersion& version, std::uint8_t* out) {
    Write16le(out, version.major);
    Write16le(out + 2, version.minor);
    Write16le(out + 4, version.third);
    Write16le(out + 6, version.fourth);
}

PayloadTrailer DecodeTrailer(const std::uint8_t* bytes) {
    PayloadTrailer trailer;
    std::copy_n(bytes + TRAILER_MAGIC_OFFSET, TRAILER_MAGIC_FIELD_SIZE, trailer.magic.begin());
    trailer.firstRecordOffset = Read32le(bytes + TRAILER_FIRST_RECORD_OFFSET);
    trailer.recordCount = static_cast<std::int16_t>(Read16le(bytes + TRAILER_RECORD_COUNT_OFFSET));
    return trailer;
}

void EncodeTrailer(const PayloadTrailer& trailer, std::uint8_t* out) {
    std::copy(trailer.magic.begin(), trailer.magic.end(), out + TRAILER_MAGIC_OFFSET);
    Write32le(out + TRAILER_FIRST_RECORD_OFFSET, trailer.firstRecordOffset);
    Write16le(out + TRAILER_RECORD_COUNT_OFFSET, static_cast<std::uint16_t>(trailer.recordCount));
}

PayloadHeader DecodeHeader(const std::uint8_t* bytes) {
    PayloadHeader header;
    header.engineVersion = DecodeEngineVersion(bytes + HEADER_ENGINE_VERSION_OFFSET);
    std::memcpy(header.scriptName.data(), bytes + HEADER_SCRIPT_NAME_OFFSET,
                SCRIPT_NAME_FIELD_SIZE);
    return header;
}

void EncodeHeader(const PayloadHeader& header, std::uint8_t* out) {
    EncodeEngineVersion(header.engineVersion, out + HEADER_ENGINE_VERSION_OFFSET);
    std::memcpy(out + HEADER_SCRIPT_NAME_OFFSET, header.scriptName.data(), SCRIPT_NAME_FIELD_SIZE);
}

RecordHeader DecodeRecordHeader(const std::uint8_t* bytes) {
    RecordHeader record;
    std::memcpy(record.tag.data(), bytes + RECORD_TAG_OFFSET, RECORD_TAG_LENGTH);
    record.segmentLength = Read32le(bytes + RECORD_SEGMENT_LENGTH_OFFSET);
    record.timeStamp = Read32le(bytes + RECORD_TIME_STAMP_OFFSET);
    std::memcpy(record.name.data(), bytes + RECORD_NAME_OFFSET, RECORD_NAME_FIELD_SIZE);
    return record;
}

void EncodeRecordHeader(const RecordHeader& record, std::uint8_t* out) {
    std::memcpy(out + RECORD_TAG_OFFSET, record.tag.data(), RECORD_TAG_LENGTH);
    Write32le(out + RECORD_SEGMENT_LENGTH_OFFSET, record.segmentLength);
    Write32le(out + RECORD_TIME_STAMP_OFFSET, record.timeStamp);
    std::memcpy(out + RECORD_NAME_OFFSET, record.name.data(), RECORD_NAME_FIELD_SIZE);
}

SegmentPrefix DecodeSegmentPrefix(const std::uint8_t* bytes) {
    return SegmentPrefix{Read32le(bytes), Read32le(bytes + 4)};
}

void EncodeSegmentPrefix(const SegmentPrefix& prefix, std::uint8_t* out) {
    Write32le(out, prefix.storedLength);
    Write32le(out + 4, prefix.size);
}

SegmentTail DecodeSegmentTail(const std::uint8_t* bytes) {
    return SegmentTail{Read32le(bytes), Read32le(bytes + 4)};
}

void EncodeSegmentTail(const SegmentTail& tail, std::uint8_t* out) {
    Write32le(out, tail.crc);
    Write32le(out + 4, tail.size);
}

bool FieldText(const char* field, std::size_t fieldSize, std::string_view& text) {
    const void* nul = std::memchr(field, '\0', fieldSize);
    if (nul == nullptr) {
        return false;
    }
    text = std::string_view(field, static_cast<std::size_t>(static_cast<const char*>(nul) - field));
    return true;
}

bool SetFieldText(char* field, std::size_t fieldSize, std::string_view text) {
    if (text.size() >= fieldSize || text.find('\0') != std::string_view::npos) {
        return false;
    }
    std::memset(field, 0, fieldSize);
    std::memcpy(field, text.data(), text.size());
    return true;
}

bool RecordNamesEqual(std::string_view a, std::string_view b) {
    auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i])) {
            return false;
        }
    }
    return true;
}
