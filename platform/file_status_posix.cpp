#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <limits>

#include "file_status.h"

namespace {

constexpr mode_t WRITE_BITS = S_IWUSR | S_IWGRP | S_IWOTH;

// POSIX has no attribute bits: read-only means no write permission bit at all.
std::uint8_t AttributesOf(const struct stat& st) {
    std::uint8_t attributes = 0;
    if ((st.st_mode & WRITE_BITS) == 0) {
        attributes |= FILE_STATUS_READ_ONLY;
    }
    if (S_ISDIR(st.st_mode)) {
        attributes |= FILE_STATUS_DIRECTORY;
    }
    return attributes;
}

// Only the read-only bit has a meaning here. Setting it removes every write bit; clearing it
// gives the owner write permission back and leaves the other bits alone.
bool WriteAttributes(const char* path, const struct stat& st, std::uint8_t attributes) {
    mode_t mode = st.st_mode & 07777;
    if ((attributes & FILE_STATUS_READ_ONLY) != 0) {
        mode &= static_cast<mode_t>(~WRITE_BITS);
    } else if ((mode & WRITE_BITS) == 0) {
        mode |= S_IWUSR;
    }
    return mode == (st.st_mode & 07777) || chmod(path, mode) == 0;
}

timespec TimeOrOmit(std::int64_t seconds) {
    timespec t{};
    if (seconds == 0) {
        t.tv_nsec = UTIME_OMIT;
    } else {
        t.tv_sec = static_cast<time_t>(seconds);
    }
    return t;
}

}  // namespace

bool GetFileStatus(const char* path, FileStatus& status) {
    struct stat st {};
    if (path == nullptr || stat(path, &st) != 0) {
        return false;
    }
    char* absolute = realpath(path, nullptr);
    if (absolute == nullptr) {
        return false;
    }
    status.absolutePath = absolute;
    std::free(absolute);
    status.lastModifiedTime = static_cast<std::int64_t>(st.st_mtime);
    // No portable creation time on POSIX.
    status.creationTime = status.lastModifiedTime;
    status.lastAccessTime =
        st.st_atime != 0 ? static_cast<std::int64_t>(st.st_atime) : status.lastModifiedTime;
    status.attributes = AttributesOf(st);
    status.size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool SetFileStatus(const char* path, const FileStatus& status) {
    struct stat st {};
    if (path == nullptr || stat(path, &st) != 0) {
        return false;
    }
    const std::uint8_t wanted = status.attributes & FILE_STATUS_ATTRIBUTE_MASK;
    const std::uint8_t current = AttributesOf(st);
    const bool readOnly = (current & FILE_STATUS_READ_ONLY) != 0;
    if (wanted != current && readOnly && !WriteAttributes(path, st, wanted)) {
        return false;
    }
    if (status.lastModifiedTime != 0) {
        constexpr auto TIME_MAX = static_cast<std::int64_t>(std::numeric_limits<time_t>::max());
        if (status.lastModifiedTime > TIME_MAX || status.lastAccessTime > TIME_MAX) {
            return false;
        }
        const timespec times[2] = {TimeOrOmit(status.lastAccessTime),
                                   TimeOrOmit(status.lastModifiedTime)};
        if (utimensat(AT_FDCWD, path, times, 0) != 0) {
            return false;
        }
    }
    return wanted == current || readOnly || WriteAttributes(path, st, wanted);
}
