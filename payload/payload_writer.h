// Writes packaged programs: the launcher's bytes, then the records, the trailer and the header
// block. Only packaging compresses; the launcher never links this.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "payload_format.h"

struct PayloadRecord {
    std::string name;
    std::uint32_t timeStamp = 0;
    std::vector<std::uint8_t> content;
};

struct DeflateSettings {
    int level = 9;
    int strategy = 0;  // Z_DEFAULT_STRATEGY
};

// One segment: prefix, raw deflate data of content, tail.
std::vector<std::uint8_t> BuildSegment(const std::uint8_t* content, std::size_t size,
                                       const DeflateSettings& settings = {});

// The whole packaged file, or nothing when a name does not fit its field or the result would
// reach 2 GiB.
std::optional<std::vector<std::uint8_t>> BuildPackage(const std::vector<std::uint8_t>& launcher,
                                                      const PayloadHeader& header,
                                                      const std::vector<PayloadRecord>& records,
                                                      const DeflateSettings& settings = {});

// Largest packaged file: positions are used as signed 32-bit values.
inline constexpr std::uint64_t PACKAGE_SIZE_LIMIT = 0x7FFFFFFFu;
