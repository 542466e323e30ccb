// The version services: the three calls that read a file's fixed version record. On Windows they
// are version.dll's; elsewhere our own PE reader stands in for them.
#pragma once

#include <cstdint>

// GetFileVersionInfoSizeA: the size of the file's version information block, 0 when the file is
// missing, unreadable or has none. handle receives the value to pass on to VersionInfoFill.
std::uint32_t VersionInfoSize(const char* path, std::uint32_t* handle);

// GetFileVersionInfoA: fills block (size bytes, as VersionInfoSize gave) with the version
// information; false on failure.
bool VersionInfoFill(const char* path, std::uint32_t handle, std::uint32_t size, void* block);

// VerQueryValueA on the root ("\\"): the file-version words of the fixed version record
// (VS_FIXEDFILEINFO) in a filled block; false when the query fails.
bool VersionInfoQueryRoot(const void* block, std::uint32_t size, std::uint32_t& fileVersionMS,
                          std::uint32_t& fileVersionLS);
