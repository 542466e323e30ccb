// Windows backend of the version services: version.dll.
#include <windows.h>

#include "version_info.h"

std::uint32_t VersionInfoSize(const char* path, std::uint32_t* handle) {
    DWORD value = 0;
    const DWORD size = GetFileVersionInfoSizeA(path, &value);
    if (handle != nullptr) {
        *handle = value;
    }
    return size;
}

bool VersionInfoFill(const char* path, std::uint32_t handle, std::uint32_t size, void* block) {
    return GetFileVersionInfoA(path, handle, size, block) != 0;
}

bool VersionInfoQueryRoot(const void* block, std::uint32_t /*size*/, std::uint32_t& fileVersionMS,
                          std::uint32_t& fileVersionLS) {
    void* value = nullptr;
    UINT length = 0;
    // The root is named by one backslash.
    if (VerQueryValueA(block, "\\", &value, &length) == 0 || value == nullptr) {
        return false;
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    fileVersionMS = fixed->dwFileVersionMS;
    fileVersionLS = fixed->dwFileVersionLS;
    return true;
}
