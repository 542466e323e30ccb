// Inflates one compressed segment straight out of an open file, checking the CRC-32 and size
// stored behind the compressed data. The stream borrows the file: it reads from the current
// position and never opens, seeks, writes or closes it.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdio>

inline constexpr unsigned SEGMENT_BUFFER_SIZE = 4096;

struct SegmentStream {
    std::FILE* file;
    std::uint32_t remaining;  // bytes of the segment that may still be requested from the file
    z_stream zstream;
    int status;
    int endOfInput;
    std::uint8_t* inputBuffer;
    std::uint32_t crc;
};

// A new stream positioned just past the segment's 8-byte prefix, or null.
SegmentStream* SegmentOpen(std::FILE* file);

// Bytes placed into buffer (0 up to length); 0 once the end is verified; -1 after a read or
// data error; Z_STREAM_ERROR without a stream.
int SegmentRead(SegmentStream* stream, void* buffer, unsigned length);

// 0 when no error was recorded; the data are known intact only when the end was reached first.
int SegmentClose(SegmentStream* stream);

int SegmentGetByte(SegmentStream* stream);
std::uint32_t SegmentGetLong(SegmentStream* stream);
