#include "pack_common.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>

#include "path.h"
#include "pe_version.h"

namespace ivpack {

void Refuse(const std::string& file, const std::string& problem) {
    std::fprintf(stderr, "ivpack: %s: %s\n", file.c_str(), problem.c_str());
}

void Warn(const std::string& file, const std::string& problem) {
    std::fprintf(stderr, "ivpack: warning: %s: %s\n", file.c_str(), problem.c_str());
}

std::optional<Bytes> ReadWholeFile(const std::string& path) {
    std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "rb"),
                                                            &std::fclose);
    if (!file) {
        return std::nullopt;
    }
    Bytes bytes;
    std::uint8_t buffer[1 << 16];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    if (std::ferror(file.get()) != 0) {
        return std::nullopt;
    }
    return bytes;
}

bool WriteFileAtomically(const std::string& path, const Bytes& bytes, std::string& problem) {
    std::string tempPath;
    std::FILE* file = CreateTempFileIn(DirectoryPrefix(path), tempPath);
    if (file == nullptr) {
        problem = "cannot create a file in its directory";
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        RemoveFile(tempPath.c_str());
        problem = "cannot write (disk full?)";
        return false;
    }
    if (!MoveFileOver(tempPath.c_str(), path.c_str())) {
        RemoveFile(tempPath.c_str());
        problem = "cannot replace the file";
        return false;
    }
    return true;
}

std::string FormatVersion(const EngineVersion& v) {
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.third) +
           "." + std::to_string(v.fourth);
}

std::optional<EngineVersion> ParseVersion(std::string_view text) {
    std::uint16_t parts[4] = {};
    const char* p = text.data();
    const char* end = text.data() + text.size();
    for (int i = 0; i < 4; ++i) {
        const auto [next, error] = std::from_chars(p, end, parts[i]);
        if (error != std::errc() || next == p) {
            return std::nullopt;
        }
        p = next;
        if (i < 3) {
            if (p == end || *p != '.') {
                return std::nullopt;
            }
            ++p;
        }
    }
    if (p != end) {
        return std::nullopt;
    }
    return EngineVersion{parts[0], parts[1], parts[2], parts[3]};
}

std::optional<std::uint64_t> PeRawEnd(const Bytes& data) {
    const std::size_t size = data.size();
    if (size < 0x40 || data[0] != 'M' || data[1] != 'Z') {
        return std::nullopt;
    }
    const std::size_t pe = Read32le(data.data() + 0x3C);
    constexpr std::size_t COFF_SIZE = 24;  // signature and file header
    if (pe > size || COFF_SIZE > size - pe || std::memcmp(data.data() + pe, "PE\0\0", 4) != 0) {
        return std::nullopt;
    }
    const std::size_t sections = Read16le(data.data() + pe + 6);
    const std::size_t optionalSize = Read16le(data.data() + pe + 20);
    const std::size_t table = pe + COFF_SIZE + optionalSize;
    constexpr std::size_t SECTION_SIZE = 40;
    if (table > size || sections > (size - table) / SECTION_SIZE) {
        return std::nullopt;
    }
    std::uint64_t end = table + sections * SECTION_SIZE;
    for (std::size_t i = 0; i < sections; ++i) {
        const std::uint8_t* section = data.data() + table + i * SECTION_SIZE;
        const std::uint64_t rawSize = Read32le(section + 16);
        const std::uint64_t rawOffset = Read32le(section + 20);
        if (rawSize != 0) {
            end = std::max(end, rawOffset + rawSize);
        }
    }
    // An unstripped image carries the COFF symbol and string tables behind its sections.
    const std::uint64_t symbols = Read32le(data.data() + pe + 12);
    const std::uint64_t strings = symbols + std::uint64_t{Read32le(data.data() + pe + 16)} * 18;
    if (symbols != 0 && strings <= size && 4 <= size - strings) {
        end = std::max(end, strings + Read32le(data.data() + strings));
    }
    return end;
}

std::optional<EngineVersion> PeFileVersion(const Bytes& data) {
    if (!PeRawEnd(data)) {
        return std::nullopt;
    }
    std::uint32_t ms = 0;
    std::uint32_t ls = 0;
    if (!ReadPeFileVersion(data.data(), data.size(), ms, ls)) {
        return EngineVersion{};
    }
    return EngineVersion{static_cast<std::uint16_t>(ms >> 16), static_cast<std::uint16_t>(ms),
                         static_cast<std::uint16_t>(ls >> 16), static_cast<std::uint16_t>(ls)};
}

std::string NameProblem(std::string_view name, std::size_t fieldSize) {
    if (name.empty() || name == "." || name == "..") {
        return "is not a file name";
    }
    if (name.size() >= fieldSize) {
        return "is longer than " + std::to_string(fieldSize - 1) + " bytes";
    }
    if (name.find_first_of(std::string_view("\\/:\0", 4)) != std::string_view::npos) {
        return "holds a path separator";
    }
    return {};
}

}  // namespace ivpack
