// File status service: the times, attribute bits, size and absolute path of a file, read and
// written back. Failures are results; nothing here throws.
#pragma once

#include <cstdint>
#include <string>

// Attribute bits, as the low seven bits of the Windows file attributes.
inline constexpr std::uint8_t FILE_STATUS_READ_ONLY = 0x01;
inline constexpr std::uint8_t FILE_STATUS_DIRECTORY = 0x10;
inline constexpr std::uint8_t FILE_STATUS_ARCHIVE = 0x20;
inline constexpr std::uint8_t FILE_STATUS_ATTRIBUTE_MASK = 0x7F;

// Times are whole seconds since 1970-01-01 00:00:00 UTC; 0 means "no time".
struct FileStatus {
    std::int64_t creationTime = 0;
    std::int64_t lastModifiedTime = 0;
    std::int64_t lastAccessTime = 0;
    std::uint8_t attributes = 0;
    std::uint64_t size = 0;
    std::string absolutePath;
};

// A creation or last-access time the file system does not give is reported as the
// last-modified time.
bool GetFileStatus(const char* path, FileStatus& status);

// Writes back attributes and times: attributes first when the file is read-only (so that its
// times can be changed), then the times when lastModifiedTime is not 0 (creation and last-access
// only where not 0), then attributes when the file was not read-only. Size and path are ignored.
bool SetFileStatus(const char* path, const FileStatus& status);
