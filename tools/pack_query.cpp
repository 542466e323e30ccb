#include "pack_query.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "pack_common.h"
#include "payload_reader.h"
#include "pe_version.h"
#include "segment_stream.h"

namespace ivpack {
namespace {

using FilePtr = std::unique_ptr<std::FILE, decltype(&std::fclose)>;

// Everything list and verify know of one record.
struct RecordFacts {
    std::uint32_t offset = 0;
    RecordHeader header;
    std::string name;  // empty when the field holds no NUL
    bool nameTerminated = false;
    SegmentPrefix prefix;
    SegmentTail tail;
    bool segmentInFile = false;
};

struct PackageFacts {
    std::uint64_t fileSize = 0;
    PayloadTrailer trailer;
    PayloadHeader header;
    std::vector<RecordFacts> records;
    RecordWalkEnd walkEnd = RecordWalkEnd::CountReached;
    std::uint64_t walkEndOffset = 0;  // where the walk stood when it ended
};

bool ReadAt(std::FILE* file, std::uint64_t offset, std::uint8_t* out, std::size_t length) {
    return offset <= 0x7FFFFFFF && std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0 &&
           std::fread(out, 1, length, file) == length;
}

// Opens a package and walks it the way the launcher does. Prints the refusal itself.
FilePtr OpenPackage(const std::string& path, PackageFacts& facts) {
    FilePtr file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        Refuse(path, "cannot read");
        return file;
    }
    std::uint8_t headerBytes[PAYLOAD_HEADER_SIZE] = {};
    if (!ReadPayloadEnd(file.get(), headerBytes, static_cast<int>(PAYLOAD_HEADER_SIZE),
                        facts.trailer) ||
        std::memcmp(facts.trailer.magic.data(), PAYLOAD_MAGIC, PAYLOAD_MAGIC_LENGTH) != 0) {
        Refuse(path, "not a packaged program (no ILVARC trailer)");
        file.reset();
        return file;
    }
    facts.header = DecodeHeader(headerBytes);
    std::fseek(file.get(), 0, SEEK_END);
    facts.fileSize = static_cast<std::uint64_t>(std::ftell(file.get()));

    facts.walkEnd = WalkRecords(file.get(), facts.trailer, [&](const WalkedRecord& walked) {
        RecordFacts record;
        record.offset = walked.offset;
        record.header = walked.header;
        std::string_view name;
        record.nameTerminated =
            FieldText(walked.header.name.data(), walked.header.name.size(), name);
        record.name = std::string(name);
        facts.records.push_back(record);
        return false;
    });
    facts.walkEndOffset = static_cast<std::uint64_t>(std::ftell(file.get()));

    for (RecordFacts& record : facts.records) {
        const std::uint64_t segment = std::uint64_t{record.offset} + RECORD_HEADER_SIZE;
        std::uint8_t bytes[SEGMENT_PREFIX_SIZE];
        if (!ReadAt(file.get(), segment, bytes, sizeof bytes)) {
            continue;
        }
        record.prefix = DecodeSegmentPrefix(bytes);
        const std::uint64_t tailAt = segment + SEGMENT_PREFIX_SIZE + record.prefix.storedLength -
                                     std::min<std::uint64_t>(record.prefix.storedLength, 8);
        if (record.prefix.storedLength >= SEGMENT_TAIL_SIZE &&
            ReadAt(file.get(), tailAt, bytes, 8)) {
            record.tail = DecodeSegmentTail(bytes);
            record.segmentInFile = true;
        }
    }
    return file;
}

const char* WalkEndText(RecordWalkEnd end) {
    switch (end) {
        case RecordWalkEnd::CountReached:
            return "record count reached";
        case RecordWalkEnd::NotARecord:
            return "a record header without the FILE tag";
        case RecordWalkEnd::BadOffset:
            return "first-record offset out of reach";
        case RecordWalkEnd::BadSkip:
            return "a segment length that cannot be skipped";
        case RecordWalkEnd::Found:
            break;
    }
    return "stopped";
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string ScriptNameText(const PayloadHeader& header) {
    std::string_view name;
    return FieldText(header.scriptName.data(), header.scriptName.size(), name) ? std::string(name)
                                                                               : std::string();
}

// Decompresses one record through the segment stream: its bytes, or why that failed.
bool InflateRecord(std::FILE* file, const RecordFacts& record, Bytes& content,
                   std::uint64_t& consumed, std::string& problem) {
    if (std::fseek(file, static_cast<long>(record.offset + RECORD_HEADER_SIZE), SEEK_SET) != 0) {
        problem = "segment out of reach";
        return false;
    }
    SegmentStream* stream = SegmentOpen(file);
    if (stream == nullptr) {
        problem = "no segment stream";
        return false;
    }
    std::uint8_t buffer[SEGMENT_BUFFER_SIZE];
    int got = 0;
    while ((got = SegmentRead(stream, buffer, sizeof buffer)) > 0) {
        content.insert(content.end(), buffer, buffer + got);
    }
    const bool reachedEnd = stream->status == Z_STREAM_END;
    consumed = stream->zstream.total_in;
    const int status = SegmentClose(stream);
    if (status != Z_OK || !reachedEnd) {
        problem = status == Z_DATA_ERROR  ? "corrupt data, or CRC-32 or size mismatch"
                  : status == Z_BUF_ERROR ? "compressed data end early"
                                          : "read error (status " + std::to_string(status) + ")";
        return false;
    }
    return true;
}

}  // namespace

int RunList(const std::string& path, bool json) {
    PackageFacts facts;
    FilePtr file = OpenPackage(path, facts);
    if (!file) {
        return EXIT_BAD_INPUT;
    }
    const std::string version = FormatVersion(facts.header.engineVersion);
    const std::string scriptName = ScriptNameText(facts.header);
    if (json) {
        std::printf(
            "{\"engineVersion\": \"%s\", \"scriptName\": %s, \"recordCount\": %d, "
            "\"records\": [",
            version.c_str(), JsonString(scriptName).c_str(), facts.trailer.recordCount);
        for (std::size_t i = 0; i < facts.records.size(); ++i) {
            const RecordFacts& r = facts.records[i];
            std::printf(
                "%s\n  {\"index\": %zu, \"name\": %s, \"offset\": %u, \"timeStamp\": %u, "
                "\"storedSize\": %u, \"size\": %u, \"crc32\": \"%08x\"}",
                i == 0 ? "" : ",", i, JsonString(r.name).c_str(), r.offset, r.header.timeStamp,
                r.header.segmentLength, r.tail.size, r.tail.crc);
        }
        std::printf("]}\n");
        return EXIT_OK;
    }
    std::printf("engine version: %s\nscript file name: %s\nrecords: %d\n", version.c_str(),
                scriptName.c_str(), facts.trailer.recordCount);
    std::printf("%5s  %-31s %10s %10s %10s %10s  %s\n", "index", "name", "offset", "time", "stored",
                "size", "crc32");
    for (std::size_t i = 0; i < facts.records.size(); ++i) {
        const RecordFacts& r = facts.records[i];
        std::printf("%5zu  %-31s %10u %10u %10u %10u  %08x\n", i, r.name.c_str(), r.offset,
                    r.header.timeStamp, r.header.segmentLength, r.tail.size, r.tail.crc);
    }
    return EXIT_OK;
}

int RunVerify(const std::string& path) {
    PackageFacts facts;
    FilePtr file = OpenPackage(path, facts);
    if (!file) {
        return EXIT_BAD_INPUT;
    }
    int violations = 0;
    auto violation = [&](const std::string& what) {
        std::printf("%s: %s\n", path.c_str(), what.c_str());
        ++violations;
    };
    const std::uint64_t trailerAt = facts.fileSize - PAYLOAD_END_SIZE;
    if (facts.trailer.recordCount <= 0) {
        violation("record count " + std::to_string(facts.trailer.recordCount) + " finds no record");
    }
    if (facts.walkEnd != RecordWalkEnd::CountReached) {
        violation(std::string("record walk ended early: ") + WalkEndText(facts.walkEnd) +
                  " after " + std::to_string(facts.records.size()) + " records");
    } else if (facts.walkEndOffset != trailerAt) {
        violation("the records do not end where the trailer begins (" +
                  std::to_string(facts.walkEndOffset) + " against " + std::to_string(trailerAt) +
                  "): wrong record count or bytes between records and trailer");
    }
    // The launcher is a PE file whose last section ends where the first record begins.
    if (facts.trailer.firstRecordOffset > trailerAt) {
        violation("first-record offset " + std::to_string(facts.trailer.firstRecordOffset) +
                  " lies past the trailer");
    } else {
        Bytes launcher(facts.trailer.firstRecordOffset);
        const auto end = ReadAt(file.get(), 0, launcher.data(), launcher.size())
                             ? PeRawEnd(launcher)
                             : std::nullopt;
        if (!end) {
            violation("the bytes before the first record are no PE file");
        } else if (*end != launcher.size()) {
            violation("first-record offset " + std::to_string(launcher.size()) +
                      " is not the launcher's size " + std::to_string(*end));
        }
    }
    if (ScriptNameText(facts.header).empty()) {
        violation("the script file name is empty or holds no NUL");
    }

    std::optional<Bytes> engine;
    for (std::size_t i = 0; i < facts.records.size(); ++i) {
        const RecordFacts& r = facts.records[i];
        const std::string label = "record " + std::to_string(i) + " (" + r.name + ")";
        if (!r.nameTerminated) {
            violation(label + ": name field holds no NUL");
        }
        if (r.header.segmentLength != std::uint64_t{r.prefix.storedLength} + 8) {
            violation(label + ": segment length " + std::to_string(r.header.segmentLength) +
                      " is not stored length + 8");
        }
        if (r.segmentInFile && r.prefix.size != r.tail.size) {
            violation(label + ": prefix size and tail size differ");
        }
        Bytes content;
        std::uint64_t consumed = 0;
        std::string problem;
        if (!InflateRecord(file.get(), r, content, consumed, problem)) {
            violation(label + ": " + problem);
            continue;
        }
        if (consumed + 8 != r.prefix.storedLength) {
            violation(label + ": the deflate data do not end where the tail begins");
        }
        if (RecordNamesEqual(r.name, "IVENGINE.DLL") && !engine) {
            engine = std::move(content);
        }
    }
    if (engine) {
        const auto version = PeFileVersion(*engine);
        if (!version) {
            violation("the IVENGINE.DLL record is not a PE file");
        } else if (!(*version == facts.header.engineVersion)) {
            violation("header engine version " + FormatVersion(facts.header.engineVersion) +
                      " is not the engine's file version " + FormatVersion(*version));
        }
    }
    if (violations == 0) {
        std::printf("%s: OK, %zu records\n", path.c_str(), facts.records.size());
        return EXIT_OK;
    }
    return EXIT_BAD_INPUT;
}

int RunExtract(const std::string& path, const std::string& name, const std::string& dest) {
    std::uint8_t header[PAYLOAD_HEADER_SIZE];
    if (ExtractRecord(path.c_str(), name.c_str(), dest.c_str(), PAYLOAD_MAGIC, header,
                      static_cast<int>(PAYLOAD_HEADER_SIZE)) == 0) {
        Refuse(path, "cannot extract \"" + name + "\" to " + dest +
                         " (no such record, damaged record, or destination not writable)");
        return EXIT_BAD_INPUT;
    }
    return EXIT_OK;
}

int RunVersion(const std::string& path) {
    const auto bytes = ReadWholeFile(path);
    if (!bytes) {
        Refuse(path, "cannot read");
        return EXIT_BAD_INPUT;
    }
    const auto version = PeFileVersion(*bytes);
    std::printf("%s\n", FormatVersion(version.value_or(EngineVersion{})).c_str());
    return EXIT_OK;
}

}  // namespace ivpack
