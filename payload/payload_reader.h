// Validates a packaged file's trailer and extracts named records from it. Every call opens the
// container afresh and closes it before returning; nothing is kept between calls.
#pragma once

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
