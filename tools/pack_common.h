// Shared by the ivpack subcommands: exit codes, file reading and refusal messages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "payload_format.h"

namespace ivpack {

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_BAD_INPUT = 1;
inline constexpr int EXIT_USAGE = 2;

using Bytes = std::vector<std::uint8_t>;

// One line on stderr: "ivpack: FILE: PROBLEM".
void Refuse(const std::string& file, const std::string& problem);
void Warn(const std::string& file, const std::string& problem);

std::optional<Bytes> ReadWholeFile(const std::string& path);

// Writes bytes to a new file beside path and moves it into place only when complete.
bool WriteFileAtomically(const std::string& path, const Bytes& bytes, std::string& problem);

std::string FormatVersion(const EngineVersion& version);
std::optional<EngineVersion> ParseVersion(std::string_view text);

// The file version in a PE file's version resource; nothing when data is no PE file, 0.0.0.0
// when it is one without a version.
std::optional<EngineVersion> PeFileVersion(const Bytes& data);

// Where a PE file's last section ends: its size as linked. Nothing when data is no PE file.
std::optional<std::uint64_t> PeRawEnd(const Bytes& data);

// Record and script names: what makes one unusable, or empty when it is fine.
std::string NameProblem(std::string_view name, std::size_t fieldSize);

}  // namespace ivpack
