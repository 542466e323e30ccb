#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "file_status.h"

namespace {

// FILETIME counts 100 ns steps since 1601-01-01.
constexpr std::int64_t TICKS_PER_SECOND = 10000000;
constexpr std::int64_t EPOCH_DIFFERENCE_SECONDS = 11644473600;

std::int64_t SecondsOf(const FILETIME& time) {
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    if (ticks == 0) {
        return 0;
    }
    return static_cast<std::int64_t>(ticks / TICKS_PER_SECOND) - EPOCH_DIFFERENCE_SECONDS;
}

bool FileTimeOf(std::int64_t seconds, FILETIME& time) {
    constexpr std::int64_t LIMIT = INT64_MAX / TICKS_PER_SECOND - EPOCH_DIFFERENCE_SECONDS;
    if (seconds < -EPOCH_DIFFERENCE_SECONDS || seconds > LIMIT) {
        return false;
    }
    const auto ticks =
        static_cast<std::uint64_t>((seconds + EPOCH_DIFFERENCE_SECONDS) * TICKS_PER_SECOND);
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return true;
}

bool WriteAttributes(const char* path, std::uint8_t attributes) {
    // No bits at all must be asked for as "normal".
    const DWORD value = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return SetFileAttributesA(path, value) != 0;
}

bool WriteTimes(const char* path, const FileStatus& status) {
    FILETIME creation{};
    FILETIME access{};
    FILETIME modified{};
    if (!FileTimeOf(status.lastModifiedTime, modified) ||
        (status.creationTime != 0 && !FileTimeOf(status.creationTime, creation)) ||
        (status.lastAccessTime != 0 && !FileTimeOf(status.lastAccessTime, access))) {
        return false;
    }
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    const BOOL written = SetFileTime(file, status.creationTime != 0 ? &creation : nullptr,
                                     status.lastAccessTime != 0 ? &access : nullptr, &modified);
    const BOOL closed = CloseHandle(file);
    return written != 0 && closed != 0;
}

}  // namespace

bool GetFileStatus(const char* path, FileStatus& status) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (path == nullptr || GetFileAttributesExA(path, GetFileExInfoStandard, &data) == 0) {
        return false;
    }
    char absolute[MAX_PATH];
    const DWORD length = GetFullPathNameA(path, MAX_PATH, absolute, nullptr);
    if (length == 0 || length >= MAX_PATH) {
        return false;
    }
    status.absolutePath.assign(absolute, length);
    status.lastModifiedTime = SecondsOf(data.ftLastWriteTime);
    status.creationTime = SecondsOf(data.ftCreationTime);
    if (status.creationTime == 0) {
        status.creationTime = status.lastModifiedTime;
    }
    status.lastAccessTime = SecondsOf(data.ftLastAccessTime);
    if (status.lastAccessTime == 0) {
        status.lastAccessTime = status.lastModifiedTime;
    }
    status.attributes =
        static_cast<std::uint8_t>(data.dwFileAttributes & FILE_STATUS_ATTRIBUTE_MASK);
    status.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool SetFileStatus(const char* path, const FileStatus& status) {
    if (path == nullptr) {
        return false;
    }
    const DWORD currentBits = GetFileAttributesA(path);
    if (currentBits == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    const auto current = static_cast<std::uint8_t>(currentBits & FILE_STATUS_ATTRIBUTE_MASK);
    const std::uint8_t wanted = status.attributes & FILE_STATUS_ATTRIBUTE_MASK;
    const bool readOnly = (current & FILE_STATUS_READ_ONLY) != 0;
    if (wanted != current && readOnly && !WriteAttributes(path, wanted)) {
        return false;
    }
    if (status.lastModifiedTime != 0 && !WriteTimes(path, status)) {
        return false;
    }
    return wanted == current || readOnly || WriteAttributes(path, wanted);
}
