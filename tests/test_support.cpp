#include "test_support.h"

#include <zlib.h>

#include <fstream>
#include <random>
#include <stdexcept>
#include <string_view>

#include "payload_format.h"

namespace testing_support {

ScratchDir::ScratchDir() : ScratchDir(std::filesystem::temp_directory_path()) {}

ScratchDir::ScratchDir(const std::filesystem::path& base) {
    std::random_device device;
    std::mt19937 random(device());
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / ("ivtest-" + std::to_string(random()));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("no scratch directory could be created");
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

Bytes ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes TextContent(std::size_t size, std::uint32_t seed) {
    static constexpr std::string_view words[] = {
        "print ", "let ", "value ", "= ", "42 ", "if ", "then ", "end\n", "loop ", "\"hello\" "};
    std::mt19937 random(seed);
    Bytes out;
    out.reserve(size + 16);
    while (out.size() < size) {
        const std::string_view word = words[random() % std::size(words)];
        out.insert(out.end(), word.begin(), word.end());
    }
    out.resize(size);
    return out;
}

Bytes RandomContent(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    Bytes out(size);
    for (auto& byte : out) {
        byte = static_cast<std::uint8_t>(random());
    }
    return out;
}

Bytes RawDeflate(const Bytes& content, int level, int strategy, int memLevel) {
    z_stream zs{};
    if (deflateInit2(&zs, level, Z_DEFLATED, -MAX_WBITS, memLevel, strategy) != Z_OK) {
        throw std::runtime_error("deflateInit2 failed");
    }
    Bytes out(deflateBound(&zs, static_cast<uLong>(content.size())) + 16);
    zs.next_in = const_cast<Bytef*>(content.data());
    zs.avail_in = static_cast<uInt>(content.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    if (status != Z_STREAM_END) {
        throw std::runtime_error("deflate did not finish");
    }
    return out;
}

Bytes AssembleSegment(const Bytes& deflateData, std::uint32_t crc, std::uint32_t size) {
    Bytes segment(SEGMENT_PREFIX_SIZE + deflateData.size() + SEGMENT_TAIL_SIZE);
    std::copy(deflateData.begin(), deflateData.end(), segment.begin() + SEGMENT_PREFIX_SIZE);
    EncodeSegmentTail(SegmentTail{crc, size}, segment.data() + segment.size() - SEGMENT_TAIL_SIZE);
    EncodeSegmentPrefix(
        SegmentPrefix{static_cast<std::uint32_t>(segment.size() - SEGMENT_PREFIX_SIZE), size},
        segment.data());
    return segment;
}

std::uint32_t Crc32(const Bytes& content) {
    return static_cast<std::uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), content.data(), static_cast<uInt>(content.size())));
}

}  // namespace testing_support
