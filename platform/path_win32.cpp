#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>

#include "path.h"
#include "temp_name.h"

std::string DirectoryPrefix(const std::string& path) {
    // Windows also takes '/' and a drive-relative "C:name".
    const std::size_t at = path.find_last_of("\\/:");
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

std::FILE* CreateTempFileIn(const std::string& directoryPrefix, std::string& tempPath) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate =
            directoryPrefix +
            NextTempFileName(GetCurrentProcessId() * 2654435761u ^ GetTickCount());
        HANDLE handle = CreateFileA(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
                continue;
            }
            return nullptr;
        }
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
        if (fd < 0) {
            CloseHandle(handle);
            DeleteFileA(candidate.c_str());
            return nullptr;
        }
        std::FILE* file = _fdopen(fd, "wb");
        if (file == nullptr) {
            _close(fd);
            DeleteFileA(candidate.c_str());
            return nullptr;
        }
        tempPath = candidate;
        return file;
    }
    return nullptr;
}

bool MoveFileOver(const char* source, const char* destination) {
    return MoveFileExA(source, destination, MOVEFILE_REPLACE_EXISTING) != 0;
}

bool RemoveFile(const char* path) {
    return DeleteFileA(path) != 0;
}

bool IsReadOnlyFile(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}
