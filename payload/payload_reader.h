// Validates a packaged file's trailer and extracts named records from it. Every call opens the
// container afresh and closes it before returning; nothing is kept between calls.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>

#include "payload_format.h"

// 1 when the trailer's magic matches, else 0. Whenever the container could be opened and holds
// at least a trailer and a header block, header receives its last headerSize bytes. header may
// be null only when headerSize is 0.
int CheckPayload(const char* containerPath, const char* magic, void* header, int headerSize);

// 1 when the record was found, decompressed with its integrity verified, given its time stamp
// and put in the destination's place; else 0, with the destination untouched. A destination
// ending in PATH_SEPARATOR is a directory, and the record is written there under its stored
// name. header as for CheckPayload, refilled on every call.
int ExtractRecord(const char* containerPath, const char* recordName, const char* destination,
                  const char* magic, void* header, int headerSize);

// The same rules for tools that look inside a package.

// Reads the trailer and the header block from the end of an open file. False when the file is
// too short to hold them or a read falls short.
bool ReadPayloadEnd(std::FILE* file, void* header, int headerSize, PayloadTrailer& trailer);

enum class RecordWalkEnd { Found, CountReached, NotARecord, BadOffset, BadSkip };

struct WalkedRecord {
    std::uint32_t offset;  // of the record header
    RecordHeader header;
};

// Walks at most the trailer's record count of record headers from the first-record offset,
// skipping each segment. When visit returns true the walk stops with the file at that record's
// segment.
RecordWalkEnd WalkRecords(std::FILE* file, const PayloadTrailer& trailer,
                          const std::function<bool(const WalkedRecord&)>& visit);
