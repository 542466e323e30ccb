// POSIX backend of the version services: our PE reader. The block is the file's VS_VERSIONINFO
// resource itself.
#include <cstring>
#include <limits>
#include <vector>

#include "pe_version.h"
#include "version_info.h"

namespace {

bool FindResource(const char* path, std::vector<std::uint8_t>& bytes, std::size_t& offset,
                  std::size_t& length) {
    return LoadPeFile(path, bytes) &&
           FindPeVersionResource(bytes.data(), bytes.size(), offset, length) &&
           length <= std::numeric_limits<std::uint32_t>::max();
}

}  // namespace

std::uint32_t VersionInfoSize(const char* path, std::uint32_t* handle) {
    if (handle != nullptr) {
        *handle = 0;
    }
    std::vector<std::uint8_t> bytes;
    std::size_t offset = 0;
    std::size_t length = 0;
    if (!FindResource(path, bytes, offset, length)) {
        return 0;
    }
    return static_cast<std::uint32_t>(length);
}

bool VersionInfoFill(const char* path, std::uint32_t /*handle*/, std::uint32_t size, void* block) {
    std::vector<std::uint8_t> bytes;
    std::size_t offset = 0;
    std::size_t length = 0;
    if (block == nullptr || !FindResource(path, bytes, offset, length)) {
        return false;
    }
    // The file may have changed since the size query; never write past the caller's block.
    std::memset(block, 0, size);
    std::memcpy(block, bytes.data() + offset, length < size ? length : size);
    return true;
}

bool VersionInfoQueryRoot(const void* block, std::uint32_t size, std::uint32_t& fileVersionMS,
                          std::uint32_t& fileVersionLS) {
    return ReadVersionInfoFileVersion(static_cast<const std::uint8_t*>(block), size, fileVersionMS,
                                      fileVersionLS);
}
