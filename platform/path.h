// Path separator and the few file operations a safe replacement of a file needs.
#pragma once

#include <cstdio>
#include <string>

#if defined(_WIN32)
inline constexpr char PATH_SEPARATOR = '\\';
#else
inline constexpr char PATH_SEPARATOR = '/';
#endif

// The part of path up to and including its last separator; empty for a bare file name.
std::string DirectoryPrefix(const std::string& path);

// Creates a new file with a unique name in the directory that directoryPrefix names (as
// DirectoryPrefix gives it) and opens it for binary writing. Never opens an existing file.
// Null when no file could be created.
std::FILE* CreateTempFileIn(const std::string& directoryPrefix, std::string& tempPath);

// Puts source in destination's place, replacing an existing destination in one step.
bool MoveFileOver(const char* source, const char* destination);

bool RemoveFile(const char* path);

// True when path names an existing file marked read-only.
bool IsReadOnlyFile(const char* path);
