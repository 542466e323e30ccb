#include "pe_version.h"

#include <array>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr std::uint16_t DOS_MAGIC = 0x5A4D;  // "MZ"
constexpr std::size_t DOS_HEADER_SIZE = 64;
constexpr std::size_t DOS_LFANEW_OFFSET = 0x3C;
constexpr std::uint32_t PE_SIGNATURE = 0x00004550;  // "PE\0\0"
constexpr std::size_t COFF_HEADER_SIZE = 20;
constexpr std::size_t COFF_SECTION_COUNT_OFFSET = 2;
constexpr std::size_t COFF_OPTIONAL_SIZE_OFFSET = 16;
constexpr std::uint16_t OPTIONAL_MAGIC_PE32 = 0x10B;
constexpr std::uint16_t OPTIONAL_MAGIC_PE32_PLUS = 0x20B;
constexpr std::size_t PE32_DIRECTORY_COUNT_OFFSET = 92;
constexpr std::size_t PE32_PLUS_DIRECTORY_COUNT_OFFSET = 108;
constexpr std::size_t DATA_DIRECTORY_SIZE = 8;
constexpr std::uint32_t RESOURCE_DIRECTORY_INDEX = 2;
constexpr std::size_t SECTION_HEADER_SIZE = 40;
constexpr std::size_t SECTION_VIRTUAL_ADDRESS_OFFSET = 12;
constexpr std::size_t SECTION_RAW_SIZE_OFFSET = 16;
constexpr std::size_t SECTION_RAW_POINTER_OFFSET = 20;

constexpr std::size_t RESOURCE_DIRECTORY_SIZE = 16;
constexpr std::size_t RESOURCE_NAMED_COUNT_OFFSET = 12;
constexpr std::size_t RESOURCE_ID_COUNT_OFFSET = 14;
constexpr std::size_t RESOURCE_ENTRY_SIZE = 8;
constexpr std::size_t RESOURCE_DATA_ENTRY_SIZE = 16;
constexpr std::uint32_t RESOURCE_SUBDIRECTORY_FLAG = 0x80000000u;
constexpr std::uint32_t RT_VERSION = 16;
constexpr std::uint32_t VS_VERSION_INFO_ID = 1;
// Neutral first, then the user's language (English, US, where our tests run), then English;
// failing all of them, the first language present.
constexpr std::array<std::uint32_t, 3> LANGUAGE_ORDER = {0x0000, 0x0409, 0x0009};

// VS_VERSIONINFO: wLength, wValueLength, wType, then the key, padding and the value.
constexpr std::size_t VERSION_INFO_KEY_OFFSET = 6;
constexpr std::size_t FIXED_FILE_VERSION_MS_OFFSET = 8;
constexpr std::size_t FIXED_FILE_VERSION_LS_OFFSET = 12;
constexpr std::size_t FIXED_FILE_VERSION_END = 16;

constexpr long MAX_SIZE_HINT = 256L * 1024 * 1024;

bool InBounds(std::size_t offset, std::size_t length, std::size_t size) {
    return offset <= size && length <= size - offset;
}

std::uint16_t Get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t Get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

struct Image {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t sectionTable;
    std::uint16_t sectionCount;
};

// The file offset of an RVA, from the section whose file-backed bytes hold it.
bool RvaToOffset(const Image& image, std::uint32_t rva, std::size_t& offset) {
    for (std::size_t i = 0; i < image.sectionCount; ++i) {
        const std::uint8_t* section = image.data + image.sectionTable + i * SECTION_HEADER_SIZE;
        const std::uint32_t virtualAddress = Get32(section + SECTION_VIRTUAL_ADDRESS_OFFSET);
        const std::uint32_t rawSize = Get32(section + SECTION_RAW_SIZE_OFFSET);
        const std::uint32_t rawPointer = Get32(section + SECTION_RAW_POINTER_OFFSET);
        if (rva >= virtualAddress && rva - virtualAddress < rawSize) {
            const std::size_t candidate = std::size_t{rawPointer} + (rva - virtualAddress);
            if (candidate < rawPointer || candidate >= image.size) {
                return false;
            }
            offset = candidate;
            return true;
        }
    }
    return false;
}

struct ResourceEntry {
    std::uint32_t name;
    std::uint32_t target;
};

// The id entries of the resource directory at tree offset dir; named entries come first and are
// skipped. The tree is [base, base + limit) of the image.
bool ReadIdEntries(const Image& image, std::size_t base, std::size_t limit, std::uint32_t dir,
                   std::vector<ResourceEntry>& entries) {
    if (!InBounds(dir, RESOURCE_DIRECTORY_SIZE, limit)) {
        return false;
    }
    const std::uint8_t* header = image.data + base + dir;
    const std::size_t named = Get16(header + RESOURCE_NAMED_COUNT_OFFSET);
    const std::size_t ids = Get16(header + RESOURCE_ID_COUNT_OFFSET);
    const std::size_t first = dir + RESOURCE_DIRECTORY_SIZE + named * RESOURCE_ENTRY_SIZE;
    if (!InBounds(first, ids * RESOURCE_ENTRY_SIZE, limit)) {
        return false;
    }
    entries.clear();
    for (std::size_t i = 0; i < ids; ++i) {
        const std::uint8_t* entry = image.data + base + first + i * RESOURCE_ENTRY_SIZE;
        entries.push_back({Get32(entry), Get32(entry + 4)});
    }
    return true;
}

// Follows the id entry to a subdirectory; the tree has exactly three levels, so no walk can loop.
bool FindSubdirectory(const std::vector<ResourceEntry>& entries, std::uint32_t id,
                      std::uint32_t& dir) {
    for (const ResourceEntry& entry : entries) {
        if (entry.name == id) {
            if ((entry.target & RESOURCE_SUBDIRECTORY_FLAG) == 0) {
                return false;
            }
            dir = entry.target & ~RESOURCE_SUBDIRECTORY_FLAG;
            return true;
        }
    }
    return false;
}

bool PickLanguage(const std::vector<ResourceEntry>& entries, std::uint32_t& dataEntry) {
    const ResourceEntry* chosen = nullptr;
    for (std::uint32_t language : LANGUAGE_ORDER) {
        for (const ResourceEntry& entry : entries) {
            if (entry.name == language) {
                chosen = &entry;
                break;
            }
        }
        if (chosen != nullptr) {
            break;
        }
    }
    if (chosen == nullptr && !entries.empty()) {
        chosen = &entries.front();
    }
    if (chosen == nullptr || (chosen->target & RESOURCE_SUBDIRECTORY_FLAG) != 0) {
        return false;
    }
    dataEntry = chosen->target;
    return true;
}

}  // namespace

bool FindPeVersionResource(const std::uint8_t* data, std::size_t size, std::size_t& offset,
                           std::size_t& length) {
    if (data == nullptr || size < DOS_HEADER_SIZE || Get16(data) != DOS_MAGIC) {
        return false;
    }
    const std::size_t peOffset = Get32(data + DOS_LFANEW_OFFSET);
    if (!InBounds(peOffset, 4 + COFF_HEADER_SIZE, size) || Get32(data + peOffset) != PE_SIGNATURE) {
        return false;
    }
    const std::uint8_t* coff = data + peOffset + 4;
    const std::uint16_t sectionCount = Get16(coff + COFF_SECTION_COUNT_OFFSET);
    const std::size_t optionalSize = Get16(coff + COFF_OPTIONAL_SIZE_OFFSET);
    const std::size_t optionalOffset = peOffset + 4 + COFF_HEADER_SIZE;
    if (!InBounds(optionalOffset, optionalSize, size) || optionalSize < 2) {
        return false;
    }
    const std::uint8_t* optional = data + optionalOffset;
    std::size_t countOffset = 0;
    switch (Get16(optional)) {
        case OPTIONAL_MAGIC_PE32:
            countOffset = PE32_DIRECTORY_COUNT_OFFSET;
            break;
        case OPTIONAL_MAGIC_PE32_PLUS:
            countOffset = PE32_PLUS_DIRECTORY_COUNT_OFFSET;
            break;
        default:
            return false;
    }
    const std::size_t directoryOffset =
        countOffset + 4 + RESOURCE_DIRECTORY_INDEX * DATA_DIRECTORY_SIZE;
    if (!InBounds(directoryOffset, DATA_DIRECTORY_SIZE, optionalSize) ||
        Get32(optional + countOffset) <= RESOURCE_DIRECTORY_INDEX) {
        return false;
    }
    const std::uint32_t resourceRva = Get32(optional + directoryOffset);
    if (resourceRva == 0) {
        return false;
    }
    const Image image{data, size, optionalOffset + optionalSize, sectionCount};
    if (!InBounds(image.sectionTable, std::size_t{sectionCount} * SECTION_HEADER_SIZE, size)) {
        return false;
    }

    std::size_t base = 0;
    if (!RvaToOffset(image, resourceRva, base)) {
        return false;
    }
    // Offsets inside the tree are relative to its start and may reach anywhere in the file.
    const std::size_t limit = size - base;
    std::vector<ResourceEntry> entries;
    std::uint32_t dir = 0;
    if (!ReadIdEntries(image, base, limit, 0, entries) ||
        !FindSubdirectory(entries, RT_VERSION, dir) ||
        !ReadIdEntries(image, base, limit, dir, entries) ||
        !FindSubdirectory(entries, VS_VERSION_INFO_ID, dir) ||
        !ReadIdEntries(image, base, limit, dir, entries)) {
        return false;
    }
    std::uint32_t dataEntry = 0;
    if (!PickLanguage(entries, dataEntry) ||
        !InBounds(dataEntry, RESOURCE_DATA_ENTRY_SIZE, limit)) {
        return false;
    }
    const std::uint8_t* entry = data + base + dataEntry;
    std::size_t resourceOffset = 0;
    const std::size_t resourceLength = Get32(entry + 4);
    if (!RvaToOffset(image, Get32(entry), resourceOffset) ||
        !InBounds(resourceOffset, resourceLength, size)) {
        return false;
    }
    offset = resourceOffset;
    length = resourceLength;
    return true;
}

bool ReadVersionInfoFileVersion(const std::uint8_t* block, std::size_t size, std::uint32_t& ms,
                                std::uint32_t& ls) {
    if (block == nullptr) {
        return false;
    }
    // The value follows the zero-terminated UTF-16 key, aligned to 32 bits; for a block keyed
    // "VS_VERSION_INFO" that is offset 40. Neither the key nor the signature is checked, as the
    // version services do not check them either.
    std::size_t keyEnd = VERSION_INFO_KEY_OFFSET;
    while (InBounds(keyEnd, 2, size) && Get16(block + keyEnd) != 0) {
        keyEnd += 2;
    }
    const std::size_t valueOffset = (keyEnd + 2 + 3) & ~std::size_t{3};
    if (!InBounds(valueOffset, FIXED_FILE_VERSION_END, size)) {
        return false;
    }
    const std::uint8_t* fixed = block + valueOffset;
    ms = Get32(fixed + FIXED_FILE_VERSION_MS_OFFSET);
    ls = Get32(fixed + FIXED_FILE_VERSION_LS_OFFSET);
    return true;
}

bool ReadPeFileVersion(const std::uint8_t* data, std::size_t size, std::uint32_t& ms,
                       std::uint32_t& ls) {
    std::size_t offset = 0;
    std::size_t length = 0;
    return FindPeVersionResource(data, size, offset, length) &&
           ReadVersionInfoFileVersion(data + offset, length, ms, ls);
}

bool LoadPeFile(const char* path, std::vector<std::uint8_t>& bytes) {
    std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(path, "rb"), &std::fclose);
    if (!file) {
        return false;
    }
    // The end position is only a hint: a directory reports a bogus one, and a file may grow.
    bytes.clear();
    if (std::fseek(file.get(), 0, SEEK_END) == 0) {
        const long end = std::ftell(file.get());
        if (end > 0 && end <= MAX_SIZE_HINT) {
            bytes.reserve(static_cast<std::size_t>(end));
        }
    }
    std::rewind(file.get());
    std::array<std::uint8_t, 65536> buffer{};
    for (;;) {
        const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), file.get());
        bytes.insert(bytes.end(), buffer.begin(),
                     buffer.begin() + static_cast<std::ptrdiff_t>(got));
        if (got < buffer.size()) {
            break;
        }
    }
    return std::ferror(file.get()) == 0;
}

bool ReadPeFileVersion(const char* path, std::uint32_t& ms, std::uint32_t& ls) {
    std::vector<std::uint8_t> bytes;
    return LoadPeFile(path, bytes) && ReadPeFileVersion(bytes.data(), bytes.size(), ms, ls);
}
