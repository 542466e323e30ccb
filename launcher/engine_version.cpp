// The engine version check: the installed engine's file version and the ordering of versions.
#include <vector>

#include "launcher.h"
#include "version_info.h"

EngineVersion ReadFileVersion(const char* path) {
    EngineVersion result;
    std::uint32_t handle = 0;
    const std::uint32_t size = VersionInfoSize(path, &handle);
    if (size == 0) {
        return result;
    }
    // Out of memory throws std::bad_alloc, which nothing in the launcher catches.
    std::vector<std::uint8_t> block(size);
    std::uint32_t ms = 0;
    std::uint32_t ls = 0;
    if (!VersionInfoFill(path, handle, size, block.data()) ||
        !VersionInfoQueryRoot(block.data(), size, ms, ls)) {
        return result;
    }
    result.major = static_cast<std::uint16_t>(ms >> 16);
    result.minor = static_cast<std::uint16_t>(ms & 0xFFFF);
    result.third = static_cast<std::uint16_t>(ls >> 16);
    result.fourth = static_cast<std::uint16_t>(ls & 0xFFFF);
    return result;
}

int CompareVersions(EngineVersion a, EngineVersion b) {
    const std::uint16_t left[] = {a.major, a.minor, a.third, a.fourth};
    const std::uint16_t right[] = {b.major, b.minor, b.third, b.fourth};
    for (int i = 0; i < 4; ++i) {
        if (left[i] != right[i]) {
            return left[i] > right[i] ? 1 : -1;
        }
    }
    return 0;
}
