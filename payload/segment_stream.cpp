#include "segment_stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "payload_format.h"

namespace {

// Runs only when avail_in is 0 and the input has not ended. The budget shrinks by what is
// requested, not by what arrives, so a short file cannot make the stream read past the segment.
void Refill(SegmentStream* s) {
    const std::uint32_t request = std::min<std::uint32_t>(s->remaining, SEGMENT_BUFFER_SIZE);
    s->remaining -= request;
    const std::size_t got = std::fread(s->inputBuffer, 1, request, s->file);
    s->zstream.avail_in = static_cast<uInt>(got);
    if (got == 0) {
        s->endOfInput = 1;
        if (std::ferror(s->file) != 0) {
            s->status = Z_ERRNO;
        }
    }
    s->zstream.next_in = s->inputBuffer;
}

void AddToCrc(SegmentStream* s, const Bytef* start) {
    const auto produced = static_cast<uInt>(s->zstream.next_out - start);
    if (produced != 0) {
        s->crc = static_cast<std::uint32_t>(crc32(s->crc, start, produced));
    }
}

}  // namespace

SegmentStream* SegmentOpen(std::FILE* file) {
    if (file == nullptr) {
        return nullptr;
    }
    auto* s = static_cast<SegmentStream*>(std::calloc(1, sizeof(SegmentStream)));
    if (s == nullptr) {
        return nullptr;
    }
    // Bytes the file does not deliver count as zero.
    std::uint8_t prefix[SEGMENT_PREFIX_SIZE] = {};
    static_cast<void>(std::fread(prefix, 1, sizeof prefix, file));
    s->file = file;
    s->remaining = DecodeSegmentPrefix(prefix).storedLength;
    s->status = Z_OK;
    s->endOfInput = 0;
    s->crc = static_cast<std::uint32_t>(crc32(0L, Z_NULL, 0));
    s->zstream.zalloc = Z_NULL;
    s->zstream.zfree = Z_NULL;
    s->zstream.opaque = Z_NULL;
    s->zstream.next_in = Z_NULL;
    s->zstream.avail_in = 0;
    s->zstream.next_out = Z_NULL;
    s->zstream.avail_out = 0;

    const int initStatus = inflateInit2(&s->zstream, -MAX_WBITS);
    s->inputBuffer = static_cast<std::uint8_t*>(std::malloc(SEGMENT_BUFFER_SIZE));
    if (initStatus != Z_OK || s->inputBuffer == nullptr) {
        if (initStatus == Z_OK) {
            inflateEnd(&s->zstream);
        }
        std::free(s->inputBuffer);
        std::free(s);
        return nullptr;
    }
    s->zstream.next_in = s->inputBuffer;
    return s;
}

int SegmentRead(SegmentStream* s, void* buffer, unsigned length) {
    if (s == nullptr) {
        return Z_STREAM_ERROR;
    }
    if (s->status == Z_DATA_ERROR || s->status == Z_ERRNO) {
        return -1;
    }
    if (s->status == Z_STREAM_END) {
        return 0;
    }
    auto* start = static_cast<Bytef*>(buffer);
    s->zstream.next_out = start;
    s->zstream.avail_out = length;

    while (s->zstream.avail_out != 0) {
        if (s->zstream.avail_in == 0 && s->endOfInput == 0) {
            Refill(s);
            if (s->endOfInput != 0 && s->status == Z_ERRNO) {
                break;
            }
        }
        s->status = inflate(&s->zstream, Z_NO_FLUSH);
        if (s->status == Z_STREAM_END) {
            AddToCrc(s, start);
            start = s->zstream.next_out;
            // A failed tail read sets Z_DATA_ERROR itself, whatever the comparison gives.
            if (SegmentGetLong(s) != s->crc) {
                s->status = Z_DATA_ERROR;
            } else if (SegmentGetLong(s) != static_cast<std::uint32_t>(s->zstream.total_out)) {
                s->status = Z_DATA_ERROR;
            }
        }
        if (s->status != Z_OK || s->endOfInput != 0) {
            break;
        }
    }
    AddToCrc(s, start);
    return static_cast<int>(length - s->zstream.avail_out);
}

int SegmentClose(SegmentStream* s) {
    if (s == nullptr) {
        return Z_STREAM_ERROR;
    }
    int result = inflateEnd(&s->zstream);
    if (s->status < 0) {
        result = s->status;
    }
    std::free(s->inputBuffer);
    std::free(s);
    return result;
}

int SegmentGetByte(SegmentStream* s) {
    if (s->endOfInput != 0) {
        return -1;
    }
    if (s->zstream.avail_in == 0) {
        Refill(s);
        if (s->zstream.avail_in == 0) {
            return -1;
        }
    }
    s->zstream.avail_in--;
    return *s->zstream.next_in++;
}

std::uint32_t SegmentGetLong(SegmentStream* s) {
    std::uint32_t value = 0;
    int byte = 0;
    for (int i = 0; i < 4; ++i) {
        byte = SegmentGetByte(s);
        value |= static_cast<std::uint32_t>(byte & 0xFF) << (8 * i);
    }
    // Once one byte is missing every later one is too, so the last tells.
    if (byte == -1) {
        s->status = Z_DATA_ERROR;
    }
    return value;
}
