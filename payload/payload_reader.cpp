#include "payload_reader.h"

#include <zlib.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "file_status.h"
#include "path.h"
#include "payload_format.h"
#include "segment_stream.h"

namespace {

using FilePtr = std::unique_ptr<std::FILE, decltype(&std::fclose)>;

// File positions are signed 32-bit values; anything from 2^31 on is out of reach.
constexpr std::uint32_t POSITION_LIMIT = 0x80000000u;
constexpr unsigned COPY_BUFFER_SIZE = 4096;

// Opens the container and reads its trailer and header block from the end. Null when the
// file cannot be opened or is too short to hold them, or a read falls short.
FilePtr OpenContainer(const char* containerPath, void* header, int headerSize,
                      PayloadTrailer& trailer) {
    FilePtr file(nullptr, &std::fclose);
    if (containerPath == nullptr || headerSize < 0 || (headerSize > 0 && header == nullptr)) {
        return file;
    }
    file.reset(std::fopen(containerPath, "rb"));
    if (file && !ReadPayloadEnd(file.get(), header, headerSize, trailer)) {
        file.reset();
    }
    return file;
}

bool MagicMatches(const PayloadTrailer& trailer, const char* magic) {
    return magic != nullptr && std::strncmp(reinterpret_cast<const char*>(trailer.magic.data()),
                                            magic, PAYLOAD_MAGIC_LENGTH) == 0;
}

// Leaves the file at the found record's segment.
bool FindRecord(std::FILE* file, const PayloadTrailer& trailer, std::string_view recordName,
                RecordHeader& found) {
    const RecordWalkEnd end = WalkRecords(file, trailer, [&](const WalkedRecord& walked) {
        std::string_view name;
        if (FieldText(walked.header.name.data(), walked.header.name.size(), name) &&
            RecordNamesEqual(name, recordName)) {
            found = walked.header;
            return true;
        }
        return false;
    });
    return end == RecordWalkEnd::Found;
}

// Decompresses the segment at the file's position into output. True only when every byte was
// written and the stream verified the segment's end.
bool CopySegment(std::FILE* container, std::FILE* output) {
    SegmentStream* stream = SegmentOpen(container);
    if (stream == nullptr) {
        return false;
    }
    std::uint8_t buffer[COPY_BUFFER_SIZE];
    bool verifiedEnd = false;
    for (;;) {
        const int got = SegmentRead(stream, buffer, COPY_BUFFER_SIZE);
        if (got <= 0) {
            // A stream closed before its end reports no error, so the end must be seen here.
            verifiedEnd = got == 0 && stream->status == Z_STREAM_END;
            break;
        }
        const auto length = static_cast<std::size_t>(got);
        if (std::fwrite(buffer, 1, length, output) != length) {
            break;
        }
    }
    return SegmentClose(stream) == Z_OK && verifiedEnd;
}

// The record's time stamp (0: none, keep the time of writing) and no attributes.
bool ApplyTimeStamp(const char* path, std::uint32_t timeStamp) {
    FileStatus status;
    if (!GetFileStatus(path, status)) {
        return false;
    }
    status.lastModifiedTime = timeStamp;
    status.attributes = 0;
    return SetFileStatus(path, status);
}

// Writes the segment to a new file beside the output and moves it into place only when it is
// complete, so that a failure never leaves a damaged or half-replaced file.
bool WriteRecord(std::FILE* container, const RecordHeader& record, const std::string& outputPath) {
    if (outputPath.empty() || IsReadOnlyFile(outputPath.c_str())) {
        return false;
    }
    std::string tempPath;
    std::FILE* output = CreateTempFileIn(DirectoryPrefix(outputPath), tempPath);
    if (output == nullptr) {
        return false;
    }
    const bool copied = CopySegment(container, output);
    // Closing flushes the last buffered bytes, so its failure is a failed write.
    const bool closed = std::fclose(output) == 0;
    if (copied && closed && ApplyTimeStamp(tempPath.c_str(), record.timeStamp) &&
        MoveFileOver(tempPath.c_str(), outputPath.c_str())) {
        return true;
    }
    RemoveFile(tempPath.c_str());
    return false;
}

}  // namespace

bool ReadPayloadEnd(std::FILE* file, void* header, int headerSize, PayloadTrailer& trailer) {
    if (headerSize < 0 || (headerSize > 0 && header == nullptr)) {
        return false;
    }
    const auto headerLength = static_cast<std::size_t>(headerSize);
    if (headerLength > static_cast<std::size_t>(LONG_MAX) - PAYLOAD_TRAILER_SIZE) {
        return false;
    }
    const long endSize = static_cast<long>(PAYLOAD_TRAILER_SIZE + headerLength);
    // A shorter file would have its start read as the trailer.
    if (std::fseek(file, 0, SEEK_END) != 0 || std::ftell(file) < endSize ||
        std::fseek(file, -endSize, SEEK_END) != 0) {
        return false;
    }
    std::uint8_t bytes[PAYLOAD_TRAILER_SIZE] = {};
    const bool complete =
        std::fread(bytes, 1, PAYLOAD_TRAILER_SIZE, file) == PAYLOAD_TRAILER_SIZE &&
        (headerLength == 0 || std::fread(header, 1, headerLength, file) == headerLength);
    trailer = DecodeTrailer(bytes);
    return complete;
}

RecordWalkEnd WalkRecords(std::FILE* file, const PayloadTrailer& trailer,
                          const std::function<bool(const WalkedRecord&)>& visit) {
    if (trailer.recordCount <= 0) {
        return RecordWalkEnd::CountReached;
    }
    if (trailer.firstRecordOffset >= POSITION_LIMIT ||
        std::fseek(file, static_cast<long>(trailer.firstRecordOffset), SEEK_SET) != 0) {
        return RecordWalkEnd::BadOffset;
    }
    std::uint32_t offset = trailer.firstRecordOffset;
    for (std::int16_t i = 0; i < trailer.recordCount; ++i) {
        // A short read at the end of the file leaves zeros, which are no tag.
        std::uint8_t bytes[RECORD_HEADER_SIZE] = {};
        static_cast<void>(std::fread(bytes, 1, sizeof bytes, file));
        const RecordHeader record = DecodeRecordHeader(bytes);
        if (std::memcmp(record.tag.data(), RECORD_TAG, RECORD_TAG_LENGTH) != 0) {
            return RecordWalkEnd::NotARecord;
        }
        if (visit(WalkedRecord{offset, record})) {
            return RecordWalkEnd::Found;
        }
        const std::uint64_t next =
            std::uint64_t{offset} + RECORD_HEADER_SIZE + record.segmentLength;
        if (record.segmentLength >= POSITION_LIMIT || next >= POSITION_LIMIT ||
            std::fseek(file, static_cast<long>(record.segmentLength), SEEK_CUR) != 0) {
            return RecordWalkEnd::BadSkip;
        }
        offset = static_cast<std::uint32_t>(next);
    }
    return RecordWalkEnd::CountReached;
}

int CheckPayload(const char* containerPath, const char* magic, void* header, int headerSize) {
    PayloadTrailer trailer;
    const FilePtr file = OpenContainer(containerPath, header, headerSize, trailer);
    return file && MagicMatches(trailer, magic) ? 1 : 0;
}

int ExtractRecord(const char* containerPath, const char* recordName, const char* destination,
                  const char* magic, void* header, int headerSize) {
    PayloadTrailer trailer;
    const FilePtr file = OpenContainer(containerPath, header, headerSize, trailer);
    if (!file || !MagicMatches(trailer, magic) || recordName == nullptr || destination == nullptr) {
        return 0;
    }
    RecordHeader record;
    if (!FindRecord(file.get(), trailer, recordName, record)) {
        return 0;
    }
    std::string outputPath = destination;
    if (!outputPath.empty() && outputPath.back() == PATH_SEPARATOR) {
        std::string_view storedName;
        static_cast<void>(FieldText(record.name.data(), record.name.size(), storedName));
        outputPath.append(storedName);
    }
    return WriteRecord(file.get(), record, outputPath) ? 1 : 0;
}
