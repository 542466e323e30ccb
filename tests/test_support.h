// Small helpers shared by the tests: scratch directories, file bytes, generated content.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

using Bytes = std::vector<std::uint8_t>;

// A fresh directory under the system's temp directory, removed with everything in it.
class ScratchDir {
  public:
    ScratchDir();
    explicit ScratchDir(const std::filesystem::path& base);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

void WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes);
Bytes ReadFileBytes(const std::filesystem::path& path);

// Deterministic content: compressible words, or bytes that do not compress.
Bytes TextContent(std::size_t size, std::uint32_t seed = 1);
Bytes RandomContent(std::size_t size, std::uint32_t seed = 1);

// Raw deflate data straight from zlib, with the given parameters.
Bytes RawDeflate(const Bytes& content, int level, int strategy, int memLevel = 8);

// A segment assembled around deflate data: prefix (stored length, size), data, tail.
Bytes AssembleSegment(const Bytes& deflateData, std::uint32_t crc, std::uint32_t size);
std::uint32_t Crc32(const Bytes& content);

}  // namespace testing_support
