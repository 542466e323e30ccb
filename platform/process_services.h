// Process services of the launcher: path queries, the command line, the engine library, file
// removal and the message box. Results follow the underlying system calls.
#pragma once

#include <cstdint>
#include <string>

#if defined(_WIN32)
#define ILVARC_API_CALL __stdcall
#else
#define ILVARC_API_CALL
#endif

// Each query writes at most size bytes, NUL included, and returns what the system returns: the
// length written, 0 on failure, or size or more when the path did not fit.
std::uint32_t QueryModuleFileName(void* instance, char* buffer, std::uint32_t size);
std::uint32_t QueryTempPath(char* buffer, std::uint32_t size);
std::uint32_t QuerySystemDirectory(char* buffer, std::uint32_t size);

// The process's whole command line, program name included.
const char* ProcessCommandLine();

// Whether the byte starts a double-byte character in the system's ANSI code page.
bool IsAnsiLeadByte(unsigned char value);

using LibraryHandle = void*;
LibraryHandle LoadEngineLibrary(const char* fileName);
void* FindLibraryEntry(LibraryHandle library, const char* entryName);
void UnloadLibrary(LibraryHandle library);

// Keeps the current directory out of the library search for later loads.
void ExcludeCurrentDirectoryFromLibrarySearch();

void DeleteFileAt(const char* path);

// A new, empty directory with a unique name inside parent; false when none could be made.
bool CreateUniqueDirectory(const std::string& parent, std::string& created);
void RemoveEmptyDirectory(const char* path);

inline constexpr unsigned MESSAGE_BOX_ICON_ERROR = 0x10;

// A modal box owned by the desktop window; returns when the user closes it.
int ShowMessageBox(const char* text, const char* title, unsigned style);
