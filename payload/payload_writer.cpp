#include "payload_writer.h"

#include <zlib.h>

#include <cstring>
#include <stdexcept>

std::vector<std::uint8_t> BuildSegment(const std::uint8_t* content, std::size_t size,
                                       const DeflateSettings& settings) {
    z_stream zs{};
    if (deflateInit2(&zs, settings.level, Z_DEFLATED, -MAX_WBITS, 9, settings.strategy) != Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    std::vector<std::uint8_t> segment(SEGMENT_PREFIX_SIZE);
    const std::size_t chunk = 1u << 20;
    std::size_t consumed = 0;
    int status = Z_OK;
    std::uint8_t out[1u << 16];
    do {
        const std::size_t take = std::min(chunk, size - consumed);
        zs.next_in = const_cast<Bytef*>(content + consumed);
        zs.avail_in = static_cast<uInt>(take);
        consumed += take;
        const int flush = consumed == size ? Z_FINISH : Z_NO_FLUSH;
        do {
            zs.next_out = out;
            zs.avail_out = sizeof out;
            status = deflate(&zs, flush);
            segment.insert(segment.end(), out, out + (sizeof out - zs.avail_out));
        } while (zs.avail_out == 0);
    } while (status != Z_STREAM_END);
    deflateEnd(&zs);

    std::uint32_t crc = static_cast<std::uint32_t>(crc32(0L, Z_NULL, 0));
    for (std::size_t done = 0; done < size;) {
        const std::size_t take = std::min(chunk, size - done);
        crc = static_cast<std::uint32_t>(crc32(crc, content + done, static_cast<uInt>(take)));
        done += take;
    }
    const auto size32 = static_cast<std::uint32_t>(size);
    const std::size_t tailAt = segment.size();
    segment.resize(tailAt + SEGMENT_TAIL_SIZE);
    EncodeSegmentTail(SegmentTail{crc, size32}, segment.data() + tailAt);
    const auto storedLength = static_cast<std::uint32_t>(segment.size() - SEGMENT_PREFIX_SIZE);
    EncodeSegmentPrefix(SegmentPrefix{storedLength, size32}, segment.data());
    return segment;
}

std::optional<std::vector<std::uint8_t>> BuildPackage(const std::vector<std::uint8_t>& launcher,
                                                      const PayloadHeader& header,
                                                      const std::vector<PayloadRecord>& records,
                                                      const DeflateSettings& settings) {
    if (records.size() > 0x7FFF) {
        return std::nullopt;
    }
    std::string_view scriptName;
    if (!FieldText(header.scriptName.data(), header.scriptName.size(), scriptName)) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> package(launcher);
    for (const PayloadRecord& record : records) {
        RecordHeader recordHeader;
        std::memcpy(recordHeader.tag.data(), RECORD_TAG, RECORD_TAG_LENGTH);
        if (!SetFieldText(recordHeader.name.data(), recordHeader.name.size(), record.name)) {
            return std::nullopt;
        }
        const std::vector<std::uint8_t> segment =
            BuildSegment(record.content.data(), record.content.size(), settings);
        if (package.size() + RECORD_HEADER_SIZE + segment.size() + PAYLOAD_END_SIZE >
            PACKAGE_SIZE_LIMIT) {
            return std::nullopt;
        }
        recordHeader.segmentLength = static_cast<std::uint32_t>(segment.size());
        recordHeader.timeStamp = record.timeStamp;
        const std::size_t at = package.size();
        package.resize(at + RECORD_HEADER_SIZE);
        EncodeRecordHeader(recordHeader, package.data() + at);
        package.insert(package.end(), segment.begin(), segment.end());
    }
    if (package.size() + PAYLOAD_END_SIZE > PACKAGE_SIZE_LIMIT) {
        return std::nullopt;
    }
    PayloadTrailer trailer;
    std::memcpy(trailer.magic.data(), PAYLOAD_MAGIC, PAYLOAD_MAGIC_LENGTH);
    trailer.firstRecordOffset = static_cast<std::uint32_t>(launcher.size());
    trailer.recordCount = static_cast<std::int16_t>(records.size());
    const std::size_t at = package.size();
    package.resize(at + PAYLOAD_END_SIZE);
    EncodeTrailer(trailer, package.data() + at);
    EncodeHeader(header, package.data() + at + PAYLOAD_TRAILER_SIZE);
    return package;
}
