// Reads the fixed file version of a Windows PE file (32- and 64-bit) without the Windows version
// services. Portable code with no operating-system calls: the POSIX backend of the version
// services and the packer both use it. Any inconsistency in the file means "no version".
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The version resource (a VS_VERSIONINFO block) of a PE image held in memory, chosen the way the
// Windows version services choose it. Its place in the image is [offset, offset + length).
bool FindPeVersionResource(const std::uint8_t* data, std::size_t size, std::size_t& offset,
                           std::size_t& length);

// dwFileVersionMS and dwFileVersionLS of the VS_FIXEDFILEINFO at the root of a VS_VERSIONINFO
// block.
bool ReadVersionInfoFileVersion(const std::uint8_t* block, std::size_t size, std::uint32_t& ms,
                                std::uint32_t& ls);

// The whole file; false when it cannot be opened or read.
bool LoadPeFile(const char* path, std::vector<std::uint8_t>& bytes);

// Both steps together, on an image in memory or on a file.
bool ReadPeFileVersion(const std::uint8_t* data, std::size_t size, std::uint32_t& ms,
                       std::uint32_t& ls);
bool ReadPeFileVersion(const char* path, std::uint32_t& ms, std::uint32_t& ls);
