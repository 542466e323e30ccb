// Names for new temporary files, shared by the path backends: only the seed differs.
#pragma once

#include <cstdint>
#include <string>

// "~ivXXXXXXXX.tmp", a different name on every call within a process.
inline std::string NextTempFileName(std::uint32_t seed) {
    static std::uint32_t counter = 0;
    std::uint32_t value = seed + 0x9E3779B9u * ++counter;
    static constexpr char digits[] = "0123456789abcdef";
    std::string name = "~iv00000000.tmp";
    for (std::size_t i = 10; i >= 3; --i) {
        name[i] = digits[value & 0xF];
        value >>= 4;
    }
    return name;
}
