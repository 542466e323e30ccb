#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

#include "path.h"
#include "temp_name.h"

std::string DirectoryPrefix(const std::string& path) {
    const std::size_t at = path.rfind('/');
    return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

std::FILE* CreateTempFileIn(const std::string& directoryPrefix, std::string& tempPath) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate =
            directoryPrefix + NextTempFileName(static_cast<std::uint32_t>(getpid()) * 2654435761u ^
                                               static_cast<std::uint32_t>(std::time(nullptr)));
        // The same permissions a file created by fopen would get.
        const int fd = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return nullptr;
        }
        std::FILE* file = fdopen(fd, "wb");
        if (file == nullptr) {
            close(fd);
            unlink(candidate.c_str());
            return nullptr;
        }
        tempPath = candidate;
        return file;
    }
    return nullptr;
}

bool MoveFileOver(const char* source, const char* destination) {
    return rename(source, destination) == 0;
}

bool RemoveFile(const char* path) {
    return unlink(path) == 0;
}

bool IsReadOnlyFile(const char* path) {
    struct stat st {};
    return stat(path, &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}
